// Extraction under faults: a full file system, a read-only folder, a
// destination occupied by a folder, truncated packages and lying data
// descriptors. Every case ends in the failure the extraction reports for it
// and leaves every installed file exactly as it was (content, mode and
// date), with nothing partial under a destination's name.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::Cut;
using test::LabelName;
using test::ReadFile;
using test::Shell;
using test::TempFolder;
using test::ZipTool;

// What an installed file is: kind, permission bits, date, content.
struct FileState {
  char kind;  // 'f' file, 'd' folder, 'l' link
  unsigned mode;
  std::int64_t mtime;
  std::string content;
  bool operator==(const FileState&) const = default;
};
using Tree = std::map<std::string, FileState>;

// Everything below `folder`, by path relative to it.
Tree Snapshot(const std::string& folder) {
  Tree tree;
  std::error_code ec;
  for (auto& e : std::filesystem::recursive_directory_iterator(folder, ec)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) != 0) continue;
    // A folder's date moves with every file made or removed in it.
    const bool isDir = S_ISDIR(st.st_mode);
    FileState s{isDir                 ? 'd'
                : S_ISLNK(st.st_mode) ? 'l'
                                      : 'f',
                st.st_mode & 07777, isDir ? 0 : static_cast<std::int64_t>(st.st_mtime), ""};
    if (s.kind == 'f') s.content = ReadFile(e.path());
    tree[std::filesystem::relative(e.path(), folder).string()] = s;
  }
  return tree;
}

// Names of the files a tree holds that the extraction writes beside a
// destination while it works.
std::vector<std::string> Leftovers(const Tree& tree) {
  std::vector<std::string> out;
  for (auto& [path, s] : tree)
    if (std::filesystem::path(path).filename().string().rfind(".krevo-", 0) == 0)
      out.push_back(path);
  return out;
}

// A file system mounted for a test and unmounted when the object goes,
// whatever the test's outcome. Only root may mount; Mounted() is false when
// the mount failed (or was not tried).
class Mount {
 public:
  // A tmpfs of `bytes` at `dir`.
  static Mount Tmpfs(const std::string& dir, std::size_t bytes) {
    Mount m;
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0)
      m.dir_ = dir;
    return m;
  }
  // `dir` over itself, read-only.
  static Mount ReadOnly(const std::string& dir) {
    Mount m;
    if (::geteuid() != 0 || ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return m;
    m.dir_ = dir;
    if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
      m.Unmount();
    return m;
  }
  Mount(Mount&& other) noexcept : dir_(std::move(other.dir_)) { other.dir_.clear(); }
  Mount& operator=(Mount&&) = delete;
  ~Mount() { Unmount(); }
  bool Mounted() const { return !dir_.empty(); }

 private:
  Mount() = default;
  void Unmount() {
    if (dir_.empty()) return;
    if (::umount2(dir_.c_str(), 0) != 0) ::umount2(dir_.c_str(), MNT_DETACH);
    dir_.clear();
  }
  std::string dir_;
};

std::uint64_t FreeBytes(const std::string& dir) {
  struct statvfs v;
  return ::statvfs(dir.c_str(), &v) == 0 ? std::uint64_t{v.f_bavail} * v.f_frsize : 0;
}

const std::string kDamaged =
    "Invalid size or check sum of file or unsupported compression format - Native error: 00008";

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    zip.Password = "secret";
    zip.Options.OverwriteMode = omAlways;
    zip.OnProcessFileFailure = [this](TZipBaseArchiver*, const std::string& name,
                                      TZipProcessOperation, int native, int,
                                      const std::string& message, TZipAction& action) {
      failures.push_back(name + " " + std::to_string(native));
      messages.push_back(message);
      action = fxaIgnore;
    };
  }
  // No case may end in a question to the user: a password that works is set
  // and every failure goes to the handler.
  void TearDown() override { EXPECT_EQ(dialogs.asked, std::vector<std::string>{}); }
  // Opens `archive` and extracts everything below `base`.
  void ExtractAll(const std::string& archive, const std::string& base) {
    zip.CloseArchiveFile();
    zip.FileName = archive;
    zip.BaseDir = base;
    zip.OpenArchiveFile(0);
    zip.ExtractMatching("*.*", 10431);
  }
  // The failures reported, as "name native", and the first one's message.
  void ExpectFailures(const std::vector<std::string>& expected, const std::string& firstMessage) {
    EXPECT_EQ(failures, expected);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0], firstMessage);
  }
  // `root` holds what `before` held, each as it was, and besides only the
  // files `added` (path, content); nothing is left beside a destination.
  static void ExpectInstalled(const std::string& root, const Tree& before,
                              const std::map<std::string, std::string>& added = {}) {
    Tree after = Snapshot(root);
    for (auto& [path, content] : added) {
      ASSERT_EQ(after.count(path), 1u) << path;
      EXPECT_EQ(after[path].content, content) << path;
      after.erase(path);
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(Leftovers(after), std::vector<std::string>{});
  }

  TempFolder dir;
  TZipArchiver zip;
  test::ScriptedDialogs dialogs;
  std::vector<std::string> failures, messages;
};

// ---- A full file system ----

struct FullCase {
  const char* label;
  const char* zipOptions;
  friend void PrintTo(const FullCase& c, std::ostream* os) { *os << c.label; }
};

class DiskFull : public Faults, public ::testing::WithParamInterface<FullCase> {};

TEST_P(DiskFull, AnEntryThatDoesNotFitLeavesTheInstalledFiles) {
  // 2 MB that do not fit in the 1 MiB file system, then 300 KB that fit only
  // once the first entry's partial data is gone.
  Shell(dir.Path(), std::string("mkdir -p src root && cd src && seq 1 300000 > big.bin"
                                " && head -c 300000 /dev/urandom > small.bin"
                                " && zip -q ") +
                        GetParam().zipOptions + " ../pkg.zip big.bin small.bin");
  Mount fs = Mount::Tmpfs(dir / "root", 1 << 20);
  if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  Shell(dir / "root",
        "mkdir sub && printf 'installed a' > a.txt && seq 1 20000 > big.bin"
        " && printf '#!/bin/sh\\n' > sub/run.sh && chmod 755 sub/run.sh"
        " && touch -d 2001-01-01 big.bin a.txt");
  const Tree before = Snapshot(dir / "root");

  ExtractAll(dir / "pkg.zip", dir / "root");
  ExpectFailures({"big.bin 8"}, kDamaged);
  ExpectInstalled(dir / "root", before, {{"small.bin", ReadFile(dir / "src/small.bin")}});

  // With the file system full to the last block, replacing even the small
  // file fails and keeps it; the space the attempt took comes back.
  failures.clear();
  Shell(dir / "root", "head -c 2M /dev/zero > filler 2>/dev/null || true");
  const Tree full = Snapshot(dir / "root");
  const std::uint64_t left = FreeBytes(dir / "root");
  ExtractAll(dir / "pkg.zip", dir / "root");
  EXPECT_EQ(failures, (std::vector<std::string>{"big.bin 8", "small.bin 8"}));
  ExpectInstalled(dir / "root", full);
  EXPECT_EQ(FreeBytes(dir / "root"), left);
}

INSTANTIATE_TEST_SUITE_P(Packages, DiskFull,
                         ::testing::Values(FullCase{"deflated", ""},
                                           FullCase{"encrypted", "-P secret"},
                                           FullCase{"stored", "-0"}),
                         LabelName());

// ---- A read-only destination folder ----

TEST_F(Faults, ReadOnlyFolderKeepsEveryFile) {
  Shell(dir.Path(),
        "mkdir -p src/sub src/newdir root/sub && cd src"
        " && for f in a.txt sub/b.txt new.txt newdir/c.txt; do echo new > $f; done"
        " && zip -q ../pkg.zip a.txt sub/b.txt new.txt newdir/c.txt && cd ../root"
        " && echo old > a.txt && echo old > sub/b.txt && chmod 640 sub/b.txt"
        " && touch -d 2001-01-01 a.txt sub/b.txt");
  // Root writes through permission bits: a read-only mount stands in for them.
  Mount ro = Mount::ReadOnly(dir / "root");
  if (::geteuid() == 0 && !ro.Mounted()) GTEST_SKIP() << "cannot mount the folder read-only";
  if (::geteuid() != 0) Shell(dir.Path(), "chmod 555 root root/sub");
  const Tree before = Snapshot(dir / "root");

  ExtractAll(dir / "pkg.zip", dir / "root");
  ExpectFailures({"a.txt 19", "sub/b.txt 19", "new.txt 19", "newdir/c.txt 20"},
                 "Cannot create file \"" + dir / "root/a.txt" + "\" - Native error: 00019");
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[3],
            "Cannot create directory \"" + dir / "root/newdir/" + "\" - Native error: 00020");
  ExpectInstalled(dir / "root", before);
}

// ---- A destination occupied by a folder, or a folder's place by a file ----

TEST_F(Faults, OccupiedDestinationsStayAsTheyAre) {
  Shell(dir.Path(),
        "mkdir -p src/c.txt src/d root/a.txt/deep root/empty.txt && cd src"
        " && echo new > a.txt && echo new > empty.txt && echo new > c.txt/x.txt"
        " && echo new > ok.txt && zip -q ../pkg.zip a.txt empty.txt c.txt/x.txt d/ ok.txt"
        " && cd ../root && echo inner > a.txt/inner.txt && echo deep > a.txt/deep/f"
        " && echo file > c.txt && echo file > d");
  const Tree before = Snapshot(dir / "root");

  ExtractAll(dir / "pkg.zip", dir / "root");
  ExpectFailures({"a.txt 19", "empty.txt 19", "c.txt/x.txt 20", "d/ 20"},
                 "Cannot create file \"" + dir / "root/a.txt" + "\" - Native error: 00019");
  ExpectInstalled(dir / "root", before, {{"ok.txt", "new\n"}});
}

// ---- Truncated packages ----

struct CutCase {
  const char* label;
  const char* make;  // shell command in the test folder that makes pkg.zip from src/
  bool ziptool;      // `make` holds arguments of ziptool.py instead
  friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.label; }
};

class Truncated : public Faults, public ::testing::WithParamInterface<CutCase> {};

TEST_P(Truncated, EveryCutFailsWithoutDamage) {
  Shell(dir.Path(),
        "mkdir -p src/sub && cd src && printf 'top\\n' > a.txt"
        " && seq 1 20000 > sub/b.txt && head -c 30000 /dev/urandom > c.bin"
        " && printf 'x' > d.txt && chmod 755 sub/b.txt");
  if (GetParam().ziptool)
    ZipTool(dir.Path(), GetParam().make);
  else
    Shell(dir.Path(), GetParam().make);
  // The whole package's files, for comparison.
  ExtractAll(dir / "pkg.zip", dir / "whole");
  ASSERT_EQ(failures, std::vector<std::string>{});
  const Tree whole = Snapshot(dir / "whole");
  const std::int64_t size = static_cast<std::int64_t>(std::filesystem::file_size(dir / "pkg.zip"));

  for (int k = 1; k < 16; ++k) {
    SCOPED_TRACE("cut at " + std::to_string(k) + "/16");
    failures.clear();
    const std::string root = dir / ("root" + std::to_string(k));
    Shell(dir.Path(), "cp pkg.zip cut.zip && mkdir -p " + root + "/sub && cd " + root +
                          " && echo old > a.txt && echo old > sub/b.txt && chmod 600 sub/b.txt"
                          " && echo old > c.bin && touch -d 2001-01-01 a.txt sub/b.txt c.bin");
    Cut(dir / "cut.zip", size * k / 16);
    const Tree before = Snapshot(root);
    try {
      ExtractAll(dir / "cut.zip", root);
    } catch (const EZipException& e) {
      // Opening may refuse the package as a whole.
      EXPECT_FALSE(zip.Active()) << e.what();
    }
    for (const std::string& f : failures) {
      const std::string native = f.substr(f.rfind(' ') + 1);
      EXPECT_TRUE(native == "8" || native == "19" || native == "20") << f;
    }
    const Tree after = Snapshot(root);
    for (auto& [path, state] : after) {
      auto old = before.find(path);
      auto fresh = whole.find(path);
      bool same = old != before.end() && old->second == state;
      bool complete = fresh != whole.end() && fresh->second.kind == state.kind &&
                      fresh->second.content == state.content;
      EXPECT_TRUE(same || complete) << path << " is neither the installed nor the packaged file";
    }
    for (auto& [path, state] : before) EXPECT_EQ(after.count(path), 1u) << path << " was lost";
    EXPECT_EQ(Leftovers(after), std::vector<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, Truncated,
    ::testing::Values(
        CutCase{"encrypted", "cd src && zip -q -P secret ../pkg.zip a.txt sub/b.txt c.bin d.txt",
                false},
        CutCase{"plain", "cd src && zip -q ../pkg.zip a.txt sub/b.txt c.bin d.txt", false},
        // Written to a pipe: CRC and packed size only in data descriptors.
        CutCase{"streamed", "cd src && zip -q - a.txt sub/b.txt c.bin d.txt | cat > ../pkg.zip",
                false},
        CutCase{"streamed_encrypted",
                "cd src && zip -q -P secret - a.txt sub/b.txt c.bin d.txt | cat > ../pkg.zip",
                false},
        // Local headers that hold no CRC and no sizes at all.
        CutCase{"descriptors_only", "make descriptor pkg.zip", true}),
    LabelName());

// ---- Lying data descriptors ----

struct LieCase {
  const char* label;
  const char* args;  // FIELD DELTA METHOD for ziptool.py lie, [nocentral] after OUT
  bool central;
  friend void PrintTo(const LieCase& c, std::ostream* os) { *os << c.label; }
};

class LyingDescriptor : public Faults, public ::testing::WithParamInterface<LieCase> {};

TEST_P(LyingDescriptor, EntryFailsVerificationAndTheInstalledFileStays) {
  const LieCase& c = GetParam();
  ZipTool(dir.Path(), std::string("lie ") + c.args + " pkg.zip" + (c.central ? "" : " nocentral"));
  Shell(dir.Path(),
        "mkdir root && printf installed > root/a.txt && chmod 640 root/a.txt"
        " && touch -d 2001-01-01 root/a.txt");
  const Tree before = Snapshot(dir / "root");
  ExtractAll(dir / "pkg.zip", dir / "root");
  ExpectFailures({"a.txt 8"}, kDamaged);
  ExpectInstalled(dir / "root", before);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LyingDescriptor,
    ::testing::Values(LieCase{"crc_deflated", "crc 1 deflated", true},
                      LieCase{"crc_stored", "crc 1 stored", true},
                      LieCase{"size_larger_deflated", "usize 1 deflated", true},
                      LieCase{"size_smaller_deflated", "usize -1 deflated", true},
                      LieCase{"packed_smaller_deflated", "csize -2000 deflated", true},
                      LieCase{"packed_smaller_stored", "csize -1 stored", true},
                      LieCase{"packed_larger_stored", "csize 1 stored", true},
                      // Without a central directory the descriptor is all there is.
                      LieCase{"crc_no_directory", "crc 1 deflated", false},
                      LieCase{"size_no_directory", "usize -1 stored", false},
                      LieCase{"packed_no_directory", "csize -1 stored", false}),
    LabelName());

}  // namespace
}  // namespace krevo::archive
