// The built krevo-updater, copied into a temporary installation folder and run
// in console mode with standard input from /dev/null, as a script would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

const std::string kStamp = R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2})";
const std::string kHeader =
    "krevo system updates log\\.\r\n"
    "Do not delete this file, unless you want all online updates to be re-downloaded\\.\r\n";
const std::string kEmptyRun = "Scan started " + kStamp + "\r\nScan finished " + kStamp +
                              "\r\nNo files were updated\\.\r\n={70}\r\n";

// An installation against a server that offers no package.
class UpdaterProgram : public ::testing::Test {
 protected:
  // Runs `program` (default: the installed updater) in `workingDir` (default:
  // the installation folder).
  RunResult Run(RunOptions options = {}, std::vector<std::string> args = {},
                const std::string& program = "", const std::string& workingDir = "") {
    options.extraEnv.insert(options.extraEnv.end(), {"DISPLAY=", "WAYLAND_DISPLAY=", "LC_ALL=C",
                                                     "TMPDIR=" + site.tmp.Folder()});
    args.insert(args.begin(), program.empty() ? site.install / "krevo-updater" : program);
    return RunProcess(args, workingDir.empty() ? dir.Folder() : workingDir, options);
  }
  std::string Log() { return ReadFile(dir / "updates.log"); }

  UpdateSite site;
  const TempDir& dir = site.install;
};

const char* kExclusiveError =
    "Error: Could not open %skrevo.exe for exclusive access. Please ensure all users are out of "
    "the system.\n";

std::string Format(const char* pattern, const std::string& folder) {
  char buf[512];
  std::snprintf(buf, sizeof buf, pattern, folder.c_str());
  return buf;
}

TEST_F(UpdaterProgram, WithoutTheMainExecutableItReportsAndRecordsAnEmptyRun) {
  std::filesystem::remove(dir / "krevo.exe");
  RunResult r = Run();
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, Format(kExclusiveError, dir.Folder()));
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_match(Log(), std::regex(kHeader + kEmptyRun))) << Log();
}

std::filesystem::file_time_type Modified(const std::string& path) {
  return std::filesystem::last_write_time(path);
}

TEST_F(UpdaterProgram, AMainExecutableHeldOpenElsewhereStopsTheRunAndKeepsTheLogDate) {
  ASSERT_EQ(Run().exitCode, 0);
  const auto lastUpdate = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::filesystem::last_write_time(dir / "updates.log", lastUpdate);
  BackgroundProcess user({"/bin/sleep", "60"}, dir / "krevo.exe");
  RunResult r = Run();
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, Format(kExclusiveError, dir.Folder()));
  EXPECT_EQ(Modified(dir / "updates.log"), lastUpdate);
  EXPECT_TRUE(std::regex_match(Log(), std::regex(kHeader + kEmptyRun + kEmptyRun))) << Log();
}

TEST_F(UpdaterProgram, AFreeMainExecutableRunsToTheEndAndEachRunAppends) {
  RunResult first = Run();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err, "");
  RunResult second = Run();
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_TRUE(std::regex_match(Log(), std::regex(kHeader + kEmptyRun + kEmptyRun))) << Log();
}

TEST_F(UpdaterProgram, RootFolderFromConfigIni) {
  std::filesystem::create_directory(dir / "root");
  dir.Write("config.ini", "\xEF\xBB\xBF[Documents]\r\nRootFolder=" + dir.Folder() +
                              "root/\r\n[Reports]\r\nRootFolder=" + dir.Folder() +
                              "root/\r\n[Updater]\r\nHost=127.0.0.1\r\nPort=" +
                              std::to_string(site.Port()) + "\r\n");
  EXPECT_EQ(Run().exitCode, 0);
  EXPECT_TRUE(
      std::regex_match(ReadFile(dir / "root/updates.log"), std::regex(kHeader + kEmptyRun)));
  EXPECT_FALSE(std::filesystem::exists(dir / "updates.log"));
}

// As the package installs it: /usr/bin/krevo-updater links to the program in
// the installation folder. config.ini (the test server) and the log are found
// beside the program, not beside the link.
TEST_F(UpdaterProgram, StartedThroughALinkItUsesTheFolderItIsIn) {
  TempDir bin;
  std::filesystem::create_symlink(dir / "krevo-updater", bin / "krevo-updater");
  RunResult r = Run({}, {"--console"}, bin / "krevo-updater", bin.Folder());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::regex_match(Log(), std::regex(kHeader + kEmptyRun))) << Log();
  EXPECT_FALSE(std::filesystem::exists(bin / "updates.log"));
}

TEST_F(UpdaterProgram, ALogThatCannotBeWrittenIsReportedTwiceAndTheProgramEnds) {
  std::filesystem::create_directory(dir / "updates.log");
  RunResult r = Run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Krevo-updater: File access denied.\nKrevo-updater: I/O error 105.\n");
}

TEST_F(UpdaterProgram, TheCloseCommandBeforeTheRunStillWritesTheFooter) {
  RunOptions options;
  options.signalWhen = [this] { return Log().find("Scan started") != std::string::npos; };
  RunResult r = Run(options);
  EXPECT_EQ(r.exitCode, 128 + SIGTERM);
  EXPECT_TRUE(std::regex_match(Log(), std::regex(kHeader + kEmptyRun))) << Log();
}

TEST_F(UpdaterProgram, CommandLine) {
  RunResult help = Run({}, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: krevo-updater"), std::string::npos);
  RunResult bad = Run({}, {"--bogus"});
  EXPECT_EQ(bad.exitCode, 64);
  EXPECT_NE(bad.err.find("unknown argument '--bogus'"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "updates.log"));
}

}  // namespace
}  // namespace krevo::test
