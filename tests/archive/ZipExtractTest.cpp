// The extraction driver: events and their order, overwrite modes, folders,
// dates, attributes, failures, cancel, and the mended faults (an existing
// file survives every failure; stored names cannot leave the folder).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "base/FileSystem.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::Damage;
using test::ReadFile;
using test::ScriptedDialogs;
using test::Shell;
using test::TempFolder;
using test::WriteFile;
using test::ZipTool;

class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
    Shell(dir.Path(),
          "mkdir -p src/sub root && printf 'top\\n' > src/a.txt"
          " && seq 1 5000 > src/sub/b.txt && chmod 755 src/sub/b.txt"
          " && touch -d '2020-02-03 04:05:06' src/a.txt src/sub/b.txt"
          " && cd src && zip -qr ../pkg.zip a.txt sub");
    zip.FileName = dir / "pkg.zip";
    zip.BaseDir = dir / "root";
    zip.OnExtractFile = [this](TZipBaseArchiver*, std::string& name, std::uint32_t&,
                               const std::string&) { events.push_back("extract " + name); };
    zip.OnProcessFileFailure = [this](TZipBaseArchiver*, const std::string& name,
                                      TZipProcessOperation, int native, int, const std::string&,
                                      TZipAction& action) {
      events.push_back("failure " + name + " " + std::to_string(native));
      action = fxaIgnore;
    };
  }
  std::string Root(const std::string& rel) { return dir / ("root/" + rel); }
  // Leaves one file in the root and lists what else is there.
  std::string Leftovers() { return Shell(dir / "root", "find . -name '.krevo-*'"); }

  TempFolder dir;
  TZipArchiver zip;
  std::vector<std::string> events;
};

TEST_F(Extract, FoldersAndFilesWithTheirEvents) {
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", 10431);
  EXPECT_EQ(events,
            (std::vector<std::string>{"extract a.txt", "extract sub/", "extract sub/b.txt"}));
  EXPECT_EQ(zip.ProcessedCount(), 3);
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), ReadFile(dir / "src/sub/b.txt"));
  EXPECT_TRUE(base::DirectoryExists(Root("sub")));
  EXPECT_EQ(base::FileAge(Root("a.txt")), base::FileAge(dir / "src/a.txt"));
  struct stat st;
  ASSERT_EQ(::stat(Root("sub/b.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(Leftovers(), "");
}

TEST_F(Extract, OverwriteModes) {
  struct Case {
    TZipOverwriteMode mode;
    const char* existingDate;  // of the file already there
    bool replaced;
  } cases[] = {
      {omAlways, "2021-01-01", true},  {omNever, "2001-01-01", false},
      {omIfNewer, "2001-01-01", true}, {omIfNewer, "2020-02-03 04:05:06", false},
      {omIfOlder, "2021-01-01", true}, {omIfOlder, "2020-02-03 04:05:06", false},
  };
  zip.OpenArchiveFile(0);
  for (const Case& c : cases) {
    WriteFile(Root("a.txt"), "old");
    Shell(dir.Path(), std::string("touch -d '") + c.existingDate + "' root/a.txt");
    zip.Options.OverwriteMode = c.mode;
    zip.ExtractMatching("a.txt", 10431);
    EXPECT_EQ(ReadFile(Root("a.txt")), c.replaced ? "top\n" : "old") << c.mode << c.existingDate;
  }
}

TEST_F(Extract, PromptAsksTheHandlerOrTheDialog) {
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", 10431);
  zip.Options.OverwriteMode = omPrompt;
  std::vector<std::string> asked;
  zip.OnConfirmOverwrite = [&](TZipBaseArchiver* z, const std::string& src, std::string& dest,
                               bool& confirm) {
    // The owner's handler reads the item's date with a find during the batch.
    TZipArchiveItem item;
    EXPECT_TRUE(z->FindFirstEntry(src, item, 47));
    asked.push_back(src + " -> " + dest);
    confirm = src == "sub/b.txt";
    if (confirm) dest = Root("redirected.txt");
  };
  zip.ExtractMatching("*.*", 10431);
  EXPECT_EQ(asked, (std::vector<std::string>{"a.txt -> " + Root("a.txt"),
                                             "sub/b.txt -> " + Root("sub/b.txt")}));
  EXPECT_EQ(ReadFile(Root("redirected.txt")), ReadFile(dir / "src/sub/b.txt"));

  zip.OnConfirmOverwrite = nullptr;
  ScriptedDialogs dialogs;
  dialogs.results = {base::mrNo, base::mrYesToAll};
  zip.ExtractMatching("*.*", 10431);
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_EQ(dialogs.asked[0], "|Overwrite file \"" + Root("a.txt") + "\" with \"a.txt\"");
  EXPECT_EQ(zip.Options.OverwriteMode, omAlways);
}

TEST_F(Extract, HandlerNamesAndFolderOptions) {
  zip.OpenArchiveFile(0);
  zip.OnExtractFile = [&](TZipBaseArchiver*, std::string& name, std::uint32_t& attr,
                          const std::string&) {
    if (name == "a.txt") name = dir / "elsewhere/y.txt";
    attr |= kAttrReadOnly;
  };
  zip.ExtractMatching("*.*", 10431);
  EXPECT_EQ(ReadFile(dir / "elsewhere/y.txt"), "top\n");
  struct stat st;
  ASSERT_EQ(::stat(Root("sub/b.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // the handler's read-only bit was applied

  // Read-only files: kept unless ReplaceReadOnly.
  WriteFile(Root("sub/b.txt.bak"), "");
  zip.OnExtractFile = nullptr;
  zip.Options.ReplaceReadOnly = false;
  Shell(dir.Path(),
        "printf mine > root/sub/b.txt.new && chmod 444 root/sub/b.txt.new"
        " && mv -f root/sub/b.txt.new root/sub/b.txt");
  zip.ExtractMatching("sub/b.txt", 10431);
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), "mine");
  zip.Options.ReplaceReadOnly = true;
  zip.ExtractMatching("sub/b.txt", 10431);
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), ReadFile(dir / "src/sub/b.txt"));

  // Without CreateDirs every file lands in the folder itself; a trailing '/'
  // on BaseDir changes nothing.
  zip.Options.CreateDirs = false;
  zip.BaseDir = dir / "flat/";
  Shell(dir.Path(), "mkdir flat");
  zip.ExtractMatching("*.*", 10431);
  EXPECT_EQ(Shell(dir / "flat", "ls"), "a.txt\nb.txt\n");
}

TEST_F(Extract, DamagedEntryLeavesTheInstalledFileAndRetries) {
  // Flip a byte inside sub/b.txt's deflate data.
  zip.OpenArchiveFile(0);
  std::uint64_t at = zip.DirManager()->Items().ItemPtr(2).LocalOffset() + 30 + 9 + 28 + 200;
  zip.CloseArchiveFile();
  Damage(dir / "pkg.zip", static_cast<std::int64_t>(at), "\x55\xAA");
  Shell(dir.Path(), "mkdir -p root/sub && printf installed > root/sub/b.txt");
  zip.OnProcessFileFailure = nullptr;
  ScriptedDialogs dialogs;
  dialogs.results = {base::mrRetry, base::mrIgnore};
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", 10431);
  ASSERT_EQ(dialogs.asked.size(), 2u);
  EXPECT_EQ(dialogs.asked[0],
            "|Invalid size or check sum of file or unsupported compression format - Native error: "
            "00008. File processing error, possibly disk is full");
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), "installed");
  EXPECT_EQ(Leftovers(), "");
  // The entry is kept when damaged files are wanted.
  zip.ExtractCorruptedFiles = true;
  zip.ExtractMatching("sub/b.txt", 10431);
  EXPECT_NE(ReadFile(Root("sub/b.txt")), "installed");
}

TEST_F(Extract, CancelStopsTheBatchAndKeepsFiles) {
  Shell(dir.Path(), "printf installed > root/a.txt");
  zip.OpenArchiveFile(0);
  int ends = 0;
  zip.OnOverallProgress = [&](TZipBaseArchiver*, double, TZipProcessOperation,
                              TZipProgressPhase phase, bool&) { ends += phase == ppEnd; };
  zip.OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double, TZipProcessOperation,
                           TZipProgressPhase phase, bool& cancel) {
    if (name == "a.txt" && phase == ppProcess) cancel = true;
  };
  zip.ExtractMatching("*.*", 10431);
  EXPECT_TRUE(zip.Cancelled());
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(ReadFile(Root("a.txt")), "installed");
  EXPECT_FALSE(base::FileExists(Root("sub/b.txt")));
  EXPECT_EQ(Leftovers(), "");
}

TEST_F(Extract, ANewFileAppearsUnderItsNameOnlyWhenComplete) {
  // A process killed while an entry is written must not leave a partial file
  // under the destination's name: a later run would take it for installed.
  zip.OpenArchiveFile(0);
  bool seenWhileWriting = false, progressSeen = false;
  zip.OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double, TZipProcessOperation,
                           TZipProgressPhase phase, bool&) {
    if (name != "sub/b.txt" || phase != ppProcess) return;
    progressSeen = true;
    seenWhileWriting = seenWhileWriting || base::FileExists(Root("sub/b.txt"));
  };
  zip.ExtractMatching("*.*", 10431);
  EXPECT_TRUE(progressSeen);
  EXPECT_FALSE(seenWhileWriting);
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), ReadFile(dir / "src/sub/b.txt"));
}

TEST_F(Extract, AnInstalledFileIsReplacedInOneStepAndItsOldCopyGoes) {
  // A second name for the installed file shows that its data is never
  // written over: the new data arrives as another file.
  Shell(dir.Path(), "printf installed > root/a.txt && ln root/a.txt root/second-name");
  zip.OpenArchiveFile(0);
  std::string duringNext;
  zip.OnFileProgress = [&](TZipBaseArchiver*, const std::string& name, double, TZipProcessOperation,
                           TZipProgressPhase phase, bool&) {
    if (name == "sub/b.txt" && phase == ppStart) duringNext = ReadFile(Root("a.txt"));
  };
  zip.ExtractMatching("*.*", 10431);
  EXPECT_EQ(duringNext, "top\n");
  EXPECT_EQ(ReadFile(Root("a.txt")), "top\n");
  EXPECT_EQ(ReadFile(Root("second-name")), "installed");
  EXPECT_EQ(Leftovers(), "");
}

TEST_F(Extract, StoredNamesCannotLeaveTheFolder) {
  ZipTool(dir.Path(), "make traversal evil.zip");
  zip.FileName = dir / "evil.zip";
  zip.BaseDir = dir / "root/in/";
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", 10431);
  std::vector<std::string> failures;
  for (const std::string& e : events)
    if (e.rfind("failure", 0) == 0) failures.push_back(e);
  EXPECT_EQ(failures,
            (std::vector<std::string>{"failure ../evil1.txt 19", "failure /tmp/evil2.txt 19",
                                      "failure a/../../evil3.txt 19", "failure ..\\evil4.txt 19",
                                      "failure C:evil5.txt 19"}));
  EXPECT_EQ(Shell(dir.Path(), "find root -type f"), "root/in/ok.txt\n");
  EXPECT_FALSE(base::FileExists("/tmp/evil2.txt") && ReadFile("/tmp/evil2.txt") == "evil\n");
}

TEST_F(Extract, PasswordCancelKeepsTheInstalledFile) {
  Shell(dir.Path(),
        "cd src && zip -q -P right ../enc.zip a.txt sub/b.txt && cd .."
        " && printf installed > root/a.txt");
  zip.FileName = dir / "enc.zip";
  const std::string wrong = test::WrongPassword(dir / "enc.zip", {0, 1});
  zip.Password = wrong;
  ScriptedDialogs dialogs;
  dialogs.inputs = {"\x18", test::WrongPassword(dir / "enc.zip", {1}), "right"};
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("*.*", 10431);
  ASSERT_EQ(dialogs.asked.size(), 3u);
  EXPECT_EQ(dialogs.asked[0], "Password for \"a.txt\"|Enter password: " + wrong);
  EXPECT_EQ(dialogs.asked[1], "Password for \"sub/b.txt\"|Enter password: " + wrong);
  EXPECT_EQ(ReadFile(Root("a.txt")), "installed");
  EXPECT_EQ(ReadFile(Root("sub/b.txt")), ReadFile(dir / "src/sub/b.txt"));
  EXPECT_EQ(zip.Password, "right");
  EXPECT_EQ(Leftovers(), "");
}

TEST_F(Extract, OutputBeyondTheDeclaredSizeStops) {
  zip.OpenArchiveFile(0);
  std::int64_t central = zip.DirManager()->CentralDirStart();
  zip.CloseArchiveFile();
  // sub/b.txt is the third central header: a.txt (46+5+24 extra), sub/ (46+4+24).
  std::string d = ReadFile(dir / "pkg.zip");
  std::size_t at = d.find("sub/b.txt", static_cast<std::size_t>(central));
  ASSERT_NE(at, std::string::npos);
  Damage(dir / "pkg.zip", static_cast<std::int64_t>(at - 46 + 24), std::string("\x64\0\0\0", 4));
  zip.ExtractCorruptedFiles = true;
  zip.OpenArchiveFile(0);
  zip.ExtractMatching("sub/b.txt", 10431);
  EXPECT_LE(ReadFile(Root("sub/b.txt")).size(), 100u);
}

}  // namespace
}  // namespace krevo::archive

namespace krevo::archive {
namespace {

struct Entry {
  unsigned mode;
  std::int64_t mtime;
};

Entry StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {static_cast<unsigned>(st.st_mode & 07777), st.st_mtim.tv_sec};
}

// Folders this batch creates get their stored mode (through the umask) and
// time once their files are in, a read-only one too; a folder that was
// there keeps its mode.
TEST(ExtractFolders, StoredModesAndTimesAfterTheFiles) {
  TempFolder dir;
  Shell(dir.Path(),
        "mkdir -p src/ro/inner src/open root/kept && echo x > src/ro/inner/f"
        " && echo y > src/open/g && chmod 0555 src/ro/inner && chmod 0500 src/ro"
        " && chmod 0777 src/open && mkdir src/kept && chmod 0751 src/kept"
        " && touch -d @1500000000 src/ro/inner && touch -d @1400000000 src/ro src/open src/kept"
        " && chmod 0700 root/kept && cd src && zip -qr ../t.zip ro open kept"
        " && chmod -R u+w ro");
  TZipArchiver zip;
  zip.FileName = dir / "t.zip";
  zip.BaseDir = dir / "root";
  zip.OpenArchiveFile(0);
  const mode_t old = ::umask(027);
  zip.ExtractMatching();
  ::umask(old);
  struct Case {
    const char* path;
    unsigned mode;
    std::int64_t mtime;  // 0: not compared
  } cases[] = {
      {"root/ro", 0500, 1400000000},
      {"root/ro/inner", 0550, 1500000000},
      {"root/open", 0750, 1400000000},  // 0777 less the umask 027
      {"root/kept", 0700, 0},           // there before: its mode stays
  };
  for (const Case& c : cases) {
    Entry e = StatOf(dir / c.path);
    EXPECT_EQ(e.mode, c.mode) << c.path;
    if (c.mtime) {
      EXPECT_EQ(e.mtime, c.mtime) << c.path;
    }
  }
  EXPECT_EQ(ReadFile(dir / "root/ro/inner/f"), "x\n");
  Shell(dir.Path(), "chmod -R u+w root");
}

}  // namespace
}  // namespace krevo::archive
