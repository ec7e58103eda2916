// The whole update run, end to end: the built krevo-updater in console mode
// against a real FTP server offering packages made by Info-ZIP zip.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

const std::string kHeader =
    "krevo system updates log.\r\n"
    "Do not delete this file, unless you want all online updates to be re-downloaded.\r\n";
const std::string kInformation = "Information: ";
const std::string kRestart = " Please restart krevo from your usual icon. ";
const std::string kRetryQuestion =
    "Confirm: No new updates were available for download. Retry last updated anyway?\n"
    "  -> No (unattended)\n";

// The log without its time stamps.
std::string Unstamped(const std::string& log) {
  return std::regex_replace(log, std::regex(R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2})"), "T");
}

class UpdateRun : public ::testing::Test {
 protected:
  UpdateSite site;
  const std::string root = site.install.Folder();
  std::string Installed(const std::string& name) { return ReadFile(site.install / name); }
};

TEST_F(UpdateRun, AFirstRunInstallsEveryPackageAndLogsEveryFile) {
  site.AddPackage("080307", {{"bin/krevo.dll", "dll 1", LocalTime(2008, 3, 7)},
                             {"readme.txt", "readme 1", LocalTime(2008, 3, 7)}});
  site.AddPackage("090101", {{"bin/krevo.dll", "dll 2", LocalTime(2009, 1, 1)},
                             {"readme.txt", "readme 2", LocalTime(2009, 1, 1)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The package of 2009 replaced both files the package of 2008 had installed.
  EXPECT_EQ(r.err,
            kInformation + "2 new updates were downloaded." + kRestart + "2 files were updated.\n");
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\d+ up090101\.zip ... complete\n)"))) << r.out;
  EXPECT_EQ(Installed("bin/krevo.dll"), "dll 2");
  EXPECT_EQ(Installed("readme.txt"), "readme 2");
  EXPECT_EQ(Unstamped(site.Log()), kHeader +
                                       "Scan started T\r\n"
                                       "bin/krevo.dll > " +
                                       root +
                                       "bin/krevo.dll\r\n"
                                       "readme.txt > " +
                                       root +
                                       "readme.txt\r\n"
                                       "bin/krevo.dll > " +
                                       root +
                                       "bin/krevo.dll\r\n"
                                       "readme.txt > " +
                                       root +
                                       "readme.txt\r\n"
                                       "Scan finished T\r\n"
                                       "4 files updated.\r\n" +
                                       std::string(70, '=') + "\r\n");
  // The downloaded copies stay in the private folder below the temporary folder.
  EXPECT_TRUE(std::filesystem::exists(site.Staging() + "/up080307.zip"));
  EXPECT_FALSE(std::filesystem::exists(site.tmp / "up080307.zip"));
}

TEST_F(UpdateRun, ASecondRunFindsNothingNewerAndAsksAboutTheLatest) {
  site.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
  ASSERT_EQ(site.Run().exitCode, 0);
  RunResult second = site.Run();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, kRetryQuestion);
  EXPECT_EQ(second.out.find("complete"), std::string::npos);
  EXPECT_NE(Unstamped(site.Log()).find("Scan finished T\r\nNo files were updated.\r\n"),
            std::string::npos);
}

TEST_F(UpdateRun, OnlyPackagesNewerThanTheLastUpdateAreTaken) {
  site.AddPackage("080306", {{"old.txt", "old", LocalTime(2008, 3, 6)}});
  site.AddPackage("080307", {{"same.txt", "same", LocalTime(2008, 3, 7)}});
  site.AddPackage("080308", {{"new.txt", "new", LocalTime(2008, 3, 8)}});
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", LocalTime(2008, 3, 7, 18, 30));
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, kInformation + "One new update was downloaded." + kRestart +
                       "No files were updated.\n");
  EXPECT_TRUE(std::filesystem::exists(site.install / "new.txt"));
  EXPECT_FALSE(std::filesystem::exists(site.install / "same.txt"));
  EXPECT_FALSE(std::filesystem::exists(site.install / "old.txt"));
  EXPECT_EQ(site.Log().rfind("earlier\r\nScan started ", 0), 0u);
  EXPECT_TRUE(site.Log().ends_with("1 file updated.\r\n" + std::string(70, '=') + "\r\n"))
      << site.Log();
}

TEST_F(UpdateRun, AnInstalledFileIsReplacedOnlyByANewerCopy) {
  for (const char* name : {"older.txt", "same.txt", "newer.txt"})
    site.install.Write(name, "installed");
  SetModified(site.install / "older.txt", LocalTime(2008, 3, 1, 10, 0, 0));
  SetModified(site.install / "same.txt", LocalTime(2008, 3, 1, 10, 0, 2));
  SetModified(site.install / "newer.txt", LocalTime(2008, 3, 1, 10, 0, 4));
  site.AddPackage("080301", {{"older.txt", "packaged", LocalTime(2008, 3, 1, 10, 0, 2)},
                             {"same.txt", "packaged", LocalTime(2008, 3, 1, 10, 0, 2)},
                             {"newer.txt", "packaged", LocalTime(2008, 3, 1, 10, 0, 2)},
                             {"added.txt", "packaged", LocalTime(2008, 3, 1, 10, 0, 2)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            kInformation + "One new update was downloaded." + kRestart + "1 file was updated.\n");
  EXPECT_EQ(Installed("older.txt"), "packaged");
  EXPECT_EQ(Installed("same.txt"), "installed");
  EXPECT_EQ(Installed("newer.txt"), "installed");
  EXPECT_EQ(Installed("added.txt"), "packaged");
  // Every entry is counted and logged, kept or not.
  EXPECT_NE(site.Log().find("4 files updated.\r\n"), std::string::npos);
  EXPECT_NE(site.Log().find("newer.txt > " + root + "newer.txt\r\n"), std::string::npos);
}

TEST_F(UpdateRun, AServerThatCannotBeReachedEndsTheRunWithAnError) {
  site.StopServer();
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", LocalTime(2010, 1, 1));
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err.rfind("Krevo-updater: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("10061"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Information"), std::string::npos);
  // The failed run leaves the date of the last update where it was.
  EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2010, 1, 1));
}

TEST_F(UpdateRun, EachFailureOfTheListingStepEndsWithItsStatusAndKeepsTheLogDate) {
  struct Case {
    const char* scenario;  // of tests/ftp/fake_ftp_server.py
    int status;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"silent", 3, "Krevo-updater: Read Timeout.\n"},
      {"pass-needs-tls", 1, "Krevo-updater: The server requires an encrypted (TLS) connection"},
      {"endless-listing-lines", 1, "Krevo-updater: The listing is longer than 100000 lines.\n"},
      {"endless-listing-line", 1, "Krevo-updater: The listing is longer than 16 MiB.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    ftp::test::TFakeFtpServer server(c.scenario, site.tmp / "transcript.txt");
    site.UseServerAt(server.Port());
    site.WriteConfig("ReadTimeout=1\r\n");
    site.install.Write("updates.log", "earlier\r\n");
    SetModified(site.install / "updates.log", LocalTime(2010, 1, 1));
    const auto start = std::chrono::steady_clock::now();
    RunResult r = site.Run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << r.err;
    EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2010, 1, 1));
  }
}

TEST_F(UpdateRun, AMissingUpdatesFolderIsTheServersRefusal) {
  std::filesystem::remove(site.serverRoot / "krevo/updates");
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 1);
  // The server's own text for its 550 reply.
  EXPECT_EQ(r.err, "Krevo-updater: No such file or directory.\n");
}

// Flips one byte in the middle of the first entry's data.
void DamageFirstEntry(const std::string& package, const std::string& name) {
  std::fstream f(package, std::ios::in | std::ios::out | std::ios::binary);
  const std::streamoff at = 30 + static_cast<std::streamoff>(name.size()) + 12 + 100;
  f.seekg(at);
  char c = 0;
  f.get(c);
  f.seekp(at);
  f.put(static_cast<char>(c ^ 0x5A));
}

TEST_F(UpdateRun, ADamagedEntryLeavesTheInstalledFileIntact) {
  site.install.Write("data.bin", "installed");
  SetModified(site.install / "data.bin", LocalTime(2001, 1, 1));
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", LocalTime(2005, 5, 5));
  std::string noise;  // does not compress, so the entry's data is long enough to damage
  for (unsigned x = 12345; noise.size() < 400;)
    noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string package =
      site.AddPackage("080307", {{"data.bin", noise, LocalTime(2008, 3, 7)}});
  DamageFirstEntry(package, "data.bin");
  RunResult r = site.Run();
  // The failure dialog, answered Abort without a terminal.
  EXPECT_NE(r.err.find("File processing error, possibly disk is full"), std::string::npos) << r.err;
  EXPECT_EQ(Installed("data.bin"), "installed");
  EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));
  // The run reached its end, but the package failed, and nothing was written.
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... failed\n)"))) << r.out;
  EXPECT_TRUE(site.Log().ends_with("No files were updated.\r\n" + std::string(70, '=') + "\r\n"));
}

// Flips one byte in the data of the entry `name` (stored, so that its CRC fails).
void DamageEntry(const std::string& package, const std::string& name) {
  std::string bytes = ReadFile(package);
  std::size_t at = bytes.find(std::string("PK\x03\x04", 4));
  while (at != std::string::npos && bytes.compare(at + 30, name.size(), name) != 0)
    at = bytes.find(std::string("PK\x03\x04", 4), at + 4);
  ASSERT_NE(at, std::string::npos) << name;
  const std::size_t extra =
      static_cast<unsigned char>(bytes[at + 28]) | static_cast<unsigned char>(bytes[at + 29]) << 8;
  bytes[at + 30 + name.size() + extra + 12 + 2] ^= 0x5A;  // past the encryption header
  std::ofstream(package, std::ios::binary) << bytes;
}

// The summary and the log count what is really in place, and the summary
// says that a package failed.
TEST_F(UpdateRun, TheSummaryCountsOnlyWhatWasInstalledAndSaysWhatFailed) {
  for (const char* name : {"a.bin", "b.bin"}) {
    site.install.Write(name, "installed");
    SetModified(site.install / name, LocalTime(2001, 1, 1));
  }
  const std::string package = site.AddPackage(
      "080307",
      {{"a.bin", "new a", LocalTime(2008, 3, 7)}, {"b.bin", "new b", LocalTime(2008, 3, 7)}});
  DamageEntry(package, "b.bin");
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  // The package goes in whole or not at all: a.bin, which verified, stays old too.
  EXPECT_EQ(Installed("a.bin"), "installed");
  EXPECT_EQ(Installed("b.bin"), "installed");
  EXPECT_TRUE(site.Log().ends_with("No files were updated.\r\n" + std::string(70, '=') + "\r\n"))
      << site.Log();
  EXPECT_EQ(site.Log().find("a.bin > "), std::string::npos) << site.Log();
  EXPECT_NE(r.err.find("Error: One update failed to install. No files were updated.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Information"), std::string::npos) << r.err;
}

// A run that installs nothing, as one whose listing leaves a package out,
// keeps the date: the package is still new to the next run.
TEST_F(UpdateRun, ARunThatInstallsNothingKeepsTheDateOfTheLastUpdate) {
  site.AddPackage("080306", {{"old.txt", "old", LocalTime(2008, 3, 6)}});
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", LocalTime(2008, 3, 7, 18, 30));
  ASSERT_EQ(site.Run().exitCode, 0);
  EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2008, 3, 7, 18, 30));
  site.AddPackage("080308", {{"new.txt", "new", LocalTime(2008, 3, 8)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Installed("new.txt"), "new");
  EXPECT_GT(Modified(site.install / "updates.log"), LocalTime(2008, 3, 8));
}

TEST_F(UpdateRun, ALogThatCannotBeWrittenStopsTheExtraction) {
  std::filesystem::create_directory(site.install / "updates.log");
  site.AddPackage("080307", {{"a.txt", "a", LocalTime(2008, 3, 7)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "Krevo-updater: File access denied.\nKrevo-updater: I/O error 105.\n"
            "Krevo-updater: I/O error 105.\n");
}

TEST(UpdateRunOverIPv6, HostAsAnIPv6AddressInConfigIni) {
  if (!ftp::test::HaveIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback (::1 cannot be bound)";
  UpdateSite site(0, "::1");
  site.AddPackage("080307", {{"readme.txt", "readme 1", LocalTime(2008, 3, 7)}});
  site.AddPackage("090101", {{"bin/krevo.dll", "dll 2", LocalTime(2009, 1, 1)}});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, kInformation + "2 new updates were downloaded." + kRestart +
                       "No files were updated.\n");
  EXPECT_EQ(ReadFile(site.install / "readme.txt"), "readme 1");
  EXPECT_EQ(ReadFile(site.install / "bin/krevo.dll"), "dll 2");
}

}  // namespace
}  // namespace krevo::test
