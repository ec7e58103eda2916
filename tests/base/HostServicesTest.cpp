// Paths, files, the profile reader, the text file and the exclusive-access
// test, against the real file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/IniFile.h"
#include "base/Paths.h"
#include "base/TextFile.h"
#include "base/Version.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace krevo::base {
namespace {

using test::TempDir;

TEST(Paths, TempFolderEndsInExactlyOneSlash) {
  const char* saved = std::getenv("TMPDIR");
  std::string restore = saved ? saved : "";
  struct Case {
    const char* env;
    const char* expected;
  };
  for (Case c : {Case{"/var/tmp", "/var/tmp/"}, Case{"/var/tmp/", "/var/tmp/"},
                 Case{"/var/tmp//", "/var/tmp/"}, Case{"", "/tmp/"}, Case{nullptr, "/tmp/"},
                 Case{"/", "/"}}) {
    if (c.env)
      ::setenv("TMPDIR", c.env, 1);
    else
      ::unsetenv("TMPDIR");
    EXPECT_EQ(TempFolderPath(), c.expected) << (c.env ? c.env : "(unset)");
  }
  if (saved)
    ::setenv("TMPDIR", restore.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

TEST(Paths, FolderPartTitleAndExecutable) {
  EXPECT_EQ(ExtractFilePath("/opt/krevo/krevo-updater"), "/opt/krevo/");
  EXPECT_EQ(ExtractFilePath("krevo-updater"), "");
  EXPECT_EQ(ExtractFilePath("/"), "/");
  EXPECT_EQ(ApplicationTitle("/opt/krevo/KREVO-Updater.bin"), "Krevo-updater");
  EXPECT_EQ(ApplicationTitle("/opt/krevo/krevo-updater"), "Krevo-updater");
  const std::string exe = ExecutablePath();
  EXPECT_EQ(exe.front(), '/');
  EXPECT_EQ(ExecutableFolder(), ExtractFilePath(exe));
  EXPECT_TRUE(FileExists(exe));
}

TEST(ProfileReader, ReadsValuesWithTheProfileServiceRules) {
  TempDir dir;
  const std::string longValue(3000, 'x');
  struct Case {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"CR LF", "[Documents]\r\nRootFolder=/opt/a/\r\n", "Documents", "RootFolder", "/opt/a/"},
      {"LF", "[Documents]\nRootFolder=/opt/a/\n", "Documents", "RootFolder", "/opt/a/"},
      {"no final line end", "[Documents]\nRootFolder=/opt/a/", "Documents", "RootFolder",
       "/opt/a/"},
      {"byte-order mark", "\xEF\xBB\xBF[Documents]\r\nRootFolder=/opt/a/\r\n", "Documents",
       "RootFolder", "/opt/a/"},
      {"names without regard to case", "[DOCUMENTS]\nrootfolder=/opt/a/\n", "Documents",
       "RootFolder", "/opt/a/"},
      {"blanks around", "[ Documents ]\n  RootFolder =  /opt/a/  \n", "Documents", "RootFolder",
       "/opt/a/"},
      {"quotes", "[Documents]\nRootFolder=\"/opt/a b/\"\n", "Documents", "RootFolder", "/opt/a b/"},
      {"empty value", "[Documents]\nRootFolder=\n", "Documents", "RootFolder", ""},
      {"missing key", "[Documents]\nOther=1\n", "Documents", "RootFolder", "default"},
      {"key of another section", "[Reports]\nRootFolder=/r/\n[Documents]\n", "Documents",
       "RootFolder", "default"},
      {"first of two keys", "[Documents]\nRootFolder=/1/\nRootFolder=/2/\n", "Documents",
       "RootFolder", "/1/"},
      {"comment and semicolon in value", "[Documents]\n;RootFolder=/c/\nRootFolder=/a;b/\n",
       "Documents", "RootFolder", "/a;b/"},
      {"over-long value", "[Documents]\nRootFolder=" + longValue + "\n", "Documents", "RootFolder",
       longValue.substr(0, 2047)},
      {"line without '='", "[Documents]\nRootFolder\n", "Documents", "RootFolder", "default"},
      {"binary junk", std::string("\0\xff[\n=\n[Documents\nRootFolder=/j/\n", 32), "Documents",
       "RootFolder", "/j/"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Write("config.ini", c.content);
    EXPECT_EQ(ReadProfileString(path, c.section, c.key, "default"), c.expected) << c.name;
  }
  EXPECT_EQ(ReadProfileString(dir / "missing.ini", "Documents", "RootFolder", "d"), "d");
  EXPECT_EQ(ReadProfileString(dir.Folder(), "Documents", "RootFolder", "d"), "d");  // a folder
}

void SetModified(const std::string& path, std::time_t t) {
  struct utimbuf times = {t, t};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST(Files, ExistenceAndDates) {
  TempDir dir;
  const std::string file = dir.Write("updates.log", "x");
  std::filesystem::create_directory(dir / "folder.log");
  const std::time_t t = DateTimeToTimeT(EncodeDate(2012, 5, 17) + EncodeTime(8, 30, 13));
  SetModified(file, t);

  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir / "folder.log"));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists(dir / "folder.log"));
  EXPECT_FALSE(DirectoryExists(file));

  ASSERT_TRUE(FileAge(file).has_value());
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(*FileAge(file)),
                   EncodeDate(2012, 5, 17) + EncodeTime(8, 30, 12));
  EXPECT_FALSE(FileAge(dir / "folder.log").has_value());
  EXPECT_FALSE(FileAge(dir / "missing").has_value());
  SetModified(file, 86400 * 365);  // 1971: no DOS date-time
  EXPECT_FALSE(FileAge(file).has_value());
  EXPECT_TRUE(FileExists(file));

  const std::string hidden = dir.Write(".hidden", "h");
  EXPECT_FALSE(FindFileDate(hidden, faAnyFile & ~faHidden).has_value());
  EXPECT_TRUE(FindFileDate(hidden, faAnyFile).has_value());
  EXPECT_FALSE(FindFileDate(dir / "folder.log", faArchive).has_value());
  EXPECT_TRUE(FindFileDate(dir / "folder.log", faAnyFile).has_value());

  EXPECT_TRUE(CreateDir(dir / "new"));
  EXPECT_FALSE(CreateDir(dir / "new"));
  EXPECT_FALSE(CreateDir(dir / "a/b"));  // one level only
  EXPECT_TRUE(DeleteFile(hidden));
  EXPECT_FALSE(DeleteFile(hidden));
}

TEST(Files, ExclusiveOpenFailsWheneverTheFileIsInUse) {
  TempDir dir;
  const std::string exe = dir / "krevo.exe";
  EXPECT_FALSE(ExclusiveOpenTest(exe)) << "missing";
  dir.Write("krevo.exe", "placeholder");
  EXPECT_TRUE(ExclusiveOpenTest(exe)) << "free";
  {
    test::BackgroundProcess reader({"/bin/sleep", "60"}, exe);
    EXPECT_FALSE(ExclusiveOpenTest(exe)) << "open for reading in another process";
  }
  EXPECT_TRUE(ExclusiveOpenTest(exe)) << "free again";
  EXPECT_EQ(test::ReadFile(exe), "placeholder");  // nothing written

  std::filesystem::copy_file("/bin/sleep", exe, std::filesystem::copy_options::overwrite_existing);
  ::chmod(exe.c_str(), 0755);
  {
    test::BackgroundProcess running({exe, "60"});
    EXPECT_FALSE(ExclusiveOpenTest(exe)) << "running";
  }
  EXPECT_FALSE(ExclusiveOpenTest(dir.Folder())) << "a folder";
}

TEST(TextFile, WritesCrLfLinesAndReportsEachFailure) {
  TempDir dir;
  TTextFile file;
  file.Rewrite(dir / "a.txt");
  file.WriteLine("one");
  file.WriteLine("");
  file.Close();
  file.Append(dir / "a.txt");
  file.WriteLine("two");
  file.Close();
  EXPECT_EQ(test::ReadFile(dir / "a.txt"), "one\r\n\r\ntwo\r\n");

  auto code = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const EInOutError& e) {
      return e.ErrorCode;
    }
    return 0;
  };
  EXPECT_EQ(code([&] { file.Append(dir / "missing.txt"); }), 2);
  EXPECT_EQ(code([&] { file.Rewrite(dir / "no/such/folder.txt"); }), 2);
  EXPECT_EQ(code([&] { file.Rewrite(dir.Folder()); }), 5);
  EXPECT_EQ(code([&] { file.WriteLine("x"); }), 105);
  EXPECT_EQ(code([&] { file.Close(); }), 103);
  EXPECT_STREQ(EInOutError(105).what(), "I/O error 105");
  EXPECT_STREQ(EInOutError(5).what(), "File access denied");
}

TEST(Version, FormatsFourNumbers) {
  EXPECT_EQ(FormatFileVersion("2.1.0.15"), "2.1.0.15");
  EXPECT_EQ(FormatFileVersion("2.1"), "2.1.0.0");
  EXPECT_EQ(FormatFileVersion(""), "");
  EXPECT_EQ(FormatFileVersion("2.x"), "");
  EXPECT_EQ(FormatFileVersion("1.2.3.4.5"), "");
  EXPECT_EQ(FormatFileVersion("70000.1"), "");
  EXPECT_EQ(OwnFileVersion().empty(), false);
}

}  // namespace
}  // namespace krevo::base
