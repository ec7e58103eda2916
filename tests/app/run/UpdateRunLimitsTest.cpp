// What a hostile or failing source can make a run hold: its time (RunTimeout,
// the source given up after packages in a row fail for reasons that may
// pass) and the staging folder's disk (a package without a size, larger than
// MaxPackageSize or than the free space, a disk that fills while it comes).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/support/SmallFileSystem.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::time_t kLastUpdate = LocalTime(2005, 5, 5);

void WriteEarlierLog(const UpdateSite& site) {
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", kLastUpdate);
}

// Whether the copy of `name` in the staging folder holds bytes.
bool Downloading(const UpdateSite& site, const std::string& name) {
  std::error_code ec;
  return fs::file_size(site.Staging() + "/" + name, ec) > 0 && !ec;
}

TEST(UpdateRunBounded, ARunPastItsBoundEndsWithItsReasonAndKeepsTheLogsDate) {
  struct Case {
    const char* what;
    int throttle;
    std::vector<std::string> server;  // ftp_server.py options; empty: the plain server
    const char* config;
    bool first;           // a small package listed first, installed before the bound
    const char* error;    // on standard error
    int exitCode;         // 4: a package was installed before
    const char* outcome;  // in the status file
    double most;          // seconds the run may take
  };
  const Case cases[] = {
      // 1 MiB at 32 KiB a second would take half a minute.
      {"RunTimeout",
       32 * 1024,
       {},
       "RunTimeout=2\r\n",
       false,
       "Error: The run was ended after 2 seconds, the limit that RunTimeout",
       1,
       "error",
       10},
      // Every transfer breaks off after 1000 bytes: the first package is
      // smaller and comes through, the next three fail, the last is not tried.
      {"three packages in a row fail",
       0,
       {"--drop-after", "1000"},
       "Retries=0\r\n",
       true,
       "Error: Gave up on ftp://127.0.0.1:",
       4,
       "error",
       20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site(c.throttle);
    if (c.first) site.AddPackage("080301", {{"first.txt", "first", LocalTime(2008, 3, 1)}});
    for (const char* date : {"080302", "080303", "080304", "080305"})
      site.AddPackage(date, {{std::string("big") + date, Noise(std::size_t{1} << 20, 3),
                              LocalTime(2008, 3, 7)}});
    if (!c.server.empty()) site.RestartServer(c.server);
    site.WriteConfig(c.config);
    WriteEarlierLog(site);
    const auto start = Clock::now();
    const RunResult r = site.Run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_LT(seconds, c.most);
    EXPECT_EQ(fs::exists(site.install / "first.txt"), c.first);
    EXPECT_FALSE(fs::exists(site.install / "big080302"));
    EXPECT_EQ(r.out.find("up080305.zip ... "), std::string::npos) << r.out;
    // The reason is the run's message, in the log too; the date stays, so
    // that what the run did not install is offered again.
    EXPECT_NE(site.Log().find(std::string(c.error).substr(7)), std::string::npos) << site.Log();
    EXPECT_EQ(Modified(site.install / "updates.log"), kLastUpdate);
    const nlohmann::json status = StatusOf(site);
    EXPECT_EQ(status.value("outcome", ""), c.outcome);
    EXPECT_NE(status.value("message", "").find(std::string(c.error).substr(7)), std::string::npos);
  }
}

TEST(UpdateRunStaging, APackageTheStagingFolderCannotHoldFailsAloneAndLeavesNoCopy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as TMPDIR";
  struct Case {
    const char* what;
    std::size_t size;                 // of up080307.zip's one file
    std::vector<std::string> server;  // ftp_server.py options; empty: the plain server
    const char* config;
    bool fillWhileDownloading;
    const char* error;
  };
  const Case cases[] = {
      {"listed larger than the free space", 3 << 20, {}, "", false, "too few for "},
      {"larger than MaxPackageSize",
       200 << 10,
       {},
       "MaxPackageSize=100K\r\n",
       false,
       "more than MaxPackageSize (102400 bytes)"},
      {"no size listed",
       1000,
       {"--unsized", "up080307.zip"},
       "",
       false,
       "the listing gives no size for it."},
      // 64 KiB a second: the disk is filled once the copy has begun. The
      // copy's removal makes room for the small package after it.
      {"the disk fills during the download",
       1 << 20,
       {"--throttle", "65536"},
       "",
       true,
       "cannot be written: No space left on device."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    const SmallFileSystem tmp(site.tmp.Folder(), "2m", "1777");
    if (!tmp.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    site.AddPackage("080306", {{"first.txt", "first", LocalTime(2008, 3, 6)}});
    site.AddPackage("080307", {{"big.bin", Noise(c.size, 5), LocalTime(2008, 3, 7)}});
    site.AddPackage("080308", {{"small.txt", "small", LocalTime(2008, 3, 8)}});
    if (!c.server.empty()) site.RestartServer(c.server);
    site.WriteConfig(c.config);
    bool filled = false;
    const RunResult r = site.Run([&] {
      if (c.fillWhileDownloading && !filled && Downloading(site, "up080307.zip")) {
        tmp.Fill();
        filled = true;
      }
      return false;
    });
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find("Error: Failed to download up080307.zip: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("up080307.zip ... failed\n"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(site.install / "first.txt"), "first");
    EXPECT_FALSE(fs::exists(site.install / "big.bin"));
    // The next package is still tried, and finds room.
    EXPECT_EQ(ReadFile(site.install / "small.txt"), "small");
    // Nothing of it stays to hold the disk for the next run.
    EXPECT_FALSE(fs::exists(site.Staging() + "/up080307.zip"));
    EXPECT_FALSE(fs::exists(site.Staging() + "/up080307.zip.partial"));
  }
}

}  // namespace
}  // namespace krevo::test
