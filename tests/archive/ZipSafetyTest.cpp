// Hostile packages against the component: entries that share their bytes
// (overlap bombs), output beyond an entry's declared size, names with
// control characters, and stored modes that would open installed files to
// other users.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::Damage;
using test::ItemNames;
using test::ReadFile;
using test::Shell;
using test::TempFolder;
using test::ZipTool;

struct OverlapCase {
  const char* label;
  const char* bomb;      // the ziptool bomb
  int nativeError;       // expected failure of the open, or 0
  const char* expected;  // names after a successful open
  friend void PrintTo(const OverlapCase& c, std::ostream* os) { *os << c.label; }
};

const OverlapCase kOverlaps[] = {
    // 100 directory entries naming one local header (through 32-bit and
    // Zip64 offsets, and with other disk numbers in a single file).
    {"one header named by many entries", "overlap", 63, ""},
    {"an entry inside another's data", "inside", 63, ""},
    {"the same found by the rebuild", "inside-cut", 63, ""},
    // Local headers inside a stored archive that nothing points at.
    {"a stored archive inside", "nested", 0, "inner.zip;after.txt;"},
};

class Overlap : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(Overlap, MakesTheArchiveInvalidAndWritesNothing) {
  TempFolder dir;
  const OverlapCase& c = GetParam();
  ZipTool(dir.Path(), std::string("bomb ") + c.bomb + " x.zip");
  Shell(dir.Path(), "mkdir root");
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.BaseDir = dir / "root";
  if (c.nativeError) {
    try {
      zip.OpenArchiveFile(0);
      ADD_FAILURE() << "opened: " << ItemNames(zip);
    } catch (const EZipException& e) {
      EXPECT_EQ(e.NativeError, c.nativeError) << e.what();
      EXPECT_EQ(e.ErrorCode, 38);
    }
    EXPECT_FALSE(zip.Active());
    EXPECT_EQ(zip.DirManager() ? zip.DirManager()->Items().UsedCount() : 0, 0);
    EXPECT_THROW(zip.ExtractMatching("*.*", base::faAnyEntry), EZipException);
    EXPECT_EQ(Shell(dir.Path(), "find root -mindepth 1"), "");
    return;
  }
  zip.OpenArchiveFile(0);
  EXPECT_EQ(ItemNames(zip), c.expected);
  zip.ExtractMatching("*.*", base::faAnyEntry);
  EXPECT_EQ(Shell(dir.Path(), "find root -type f | sort"), "root/after.txt\nroot/inner.zip\n");
}

INSTANTIATE_TEST_SUITE_P(Bombs, Overlap, ::testing::ValuesIn(kOverlaps), test::LabelName());

// CPU time of this process: a shared, loaded machine stretches wall-clock
// time many times over, CPU time hardly.
std::chrono::nanoseconds CpuTime() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

TEST(OverlapCheck, ManyEntriesStillOpenFast) {
  // Sorting by offset keeps the check near linear: 100,000 entries open in
  // well under a second of CPU (a few under the sanitizers), where comparing
  // every pair would take a minute.
  TempFolder dir;
  ZipTool(dir.Path(), "bomb 'many 100000' many.zip");
  TZipArchiver zip;
  zip.FileName = dir / "many.zip";
  const auto started = CpuTime();
  zip.OpenArchiveFile(0);
  const auto took = CpuTime() - started;
  EXPECT_EQ(zip.EntryCount(), 100000);
  EXPECT_LT(took, std::chrono::seconds(10));
  ::testing::Test::RecordProperty(
      "open_cpu_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST(DeclaredSize, AnEntryExpandingBeyondItFailsAndWritesNothing) {
  TempFolder dir;
  Shell(dir.Path(), "mkdir root && head -c 1000000 /dev/zero > zeros && zip -q pkg.zip zeros");
  // The central header says 1000 bytes; the deflate data holds a million.
  std::string d = ReadFile(dir / "pkg.zip");
  std::size_t central = d.rfind("zeros") - 46;
  Damage(dir / "pkg.zip", static_cast<std::int64_t>(central + 24), std::string("\xe8\x03\0\0", 4));
  TZipArchiver zip;
  zip.FileName = dir / "pkg.zip";
  zip.BaseDir = dir / "root";
  std::vector<int> failures;
  zip.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation,
                                 int native, int, const std::string&, TZipAction& action) {
    failures.push_back(native);
    action = fxaIgnore;
  };
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", base::faAnyEntry);
  EXPECT_EQ(failures, std::vector<int>{8});
  EXPECT_EQ(Shell(dir.Path(), "find root -mindepth 1"), "");
}

TEST(ControlNames, AreRefusedLikeTraversalNamesAndShownEscaped) {
  TempFolder dir;
  ZipTool(dir.Path(), "make controls x.zip");
  Shell(dir.Path(), "mkdir root");
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.BaseDir = dir / "root";
  std::vector<std::string> events;
  zip.OnExtractFile = [&](TZipBaseArchiver*, std::string& name, std::uint32_t&,
                          const std::string&) { events.push_back("extract " + name); };
  zip.OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation,
                                 int native, int, const std::string& message, TZipAction& action) {
    events.push_back(std::to_string(native) + " " + message);
    action = fxaIgnore;
  };
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", base::faAnyEntry);
  auto refused = [](const std::string& shown) {
    return "19 Cannot create file \"" + shown + "\" - Native error: 00019";
  };
  EXPECT_EQ(events, (std::vector<std::string>{
                        "extract cr\rname.txt", refused("cr\\rname.txt"), "extract lf\nname.txt",
                        refused("lf\\nname.txt"), "extract esc\x1b[31mred.txt",
                        refused("esc\\x1b[31mred.txt"), "extract bell\x07/in.txt",
                        refused("bell\\x07/in.txt"), "extract ok.txt"}));
  EXPECT_EQ(Shell(dir.Path(), "find root -mindepth 1"), "root/ok.txt\n");
  // A handler may give such an entry a plain name of its own.
  zip.OnExtractFile = [](TZipBaseArchiver*, std::string& name, std::uint32_t&, const std::string&) {
    if (name.find('\r') != std::string::npos) name = "renamed.txt";
  };
  zip.ExtractMatching("cr*", base::faAnyEntry);
  EXPECT_EQ(ReadFile(dir / "root/renamed.txt"), "named\n");
}

struct ModeCase {
  const char* label;
  const char* umask;
  bool otherUser;        // run as uid 65534 (needs root)
  const char* expected;  // `stat -c '%a %n'` of the extracted files
  friend void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.label; }
};

const ModeCase kModes[] = {
    {"umask 022", "022", false, "644 m666\n755 m777\n755 suid\n"},
    {"umask 077", "077", false, "600 m666\n700 m777\n700 suid\n"},
    {"umask 022 as another user", "022", true, "644 m666\n755 m777\n755 suid\n"},
    {"umask 077 as another user", "077", true, "600 m666\n700 m777\n700 suid\n"},
};

class StoredModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(StoredModes, GoThroughTheUmaskWithoutSetIdBits) {
  const ModeCase& c = GetParam();
  if (c.otherUser && ::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  TempFolder dir;
  // zip keeps the whole mode, set-id bits included.
  Shell(dir.Path(),
        "mkdir src out && cd src && printf a > m777 && printf b > m666 && printf c > suid"
        " && chmod 777 m777 && chmod 666 m666 && chmod 6755 suid && zip -q ../pkg.zip *"
        " && chmod 755 '" +
            dir.Path() + "' && chmod 644 ../pkg.zip && chmod 777 ../out");
  // A copy of the program that the other user can reach: the build folder
  // may sit below a home folder that only its owner enters.
  Shell(dir.Path(), std::string("cp '") + KREVO_UNZIP + "' krevo-unzip && chmod 755 krevo-unzip");
  std::string run = "umask " + std::string(c.umask) + " && ./krevo-unzip -q -d out pkg.zip";
  if (c.otherUser) run = "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \"" + run + "\"";
  Shell(dir.Path(), run);
  EXPECT_EQ(Shell(dir.Path(), "cd out && stat -c '%a %n' * | sort -k2"), c.expected);
  if (c.otherUser) {
    EXPECT_EQ(Shell(dir.Path(), "stat -c %u out/m777"), "65534\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, StoredModes, ::testing::ValuesIn(kModes), test::LabelName());

}  // namespace
}  // namespace krevo::archive
