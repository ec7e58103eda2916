// An update run that ends when it must: a server that never answers ends it
// after ReadTimeout; SIGTERM or SIGINT during a slow download or during an
// extraction ends it within seconds, in console and window mode, as a failed
// run: footer written, the log's date kept, nothing half installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/app/support/UpdateSite.h"
#include "tests/app/support/VirtualDisplay.h"
#include "tests/ftp/ScriptedPeer.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kFooter = std::string(70, '=') + "\r\n";
const std::time_t kLastUpdate = LocalTime(2005, 5, 5);

// The log of an earlier run, dated at the last update.
void WriteEarlierLog(const UpdateSite& site) {
  site.install.Write("updates.log", "earlier\r\n");
  SetModified(site.install / "updates.log", kLastUpdate);
}

// Whether the download has begun: a package copy below the temporary folder
// holds bytes.
bool Downloading(const UpdateSite& site) {
  std::error_code ec;
  for (const auto& f : fs::recursive_directory_iterator(site.tmp.Folder(), ec))
    if (f.path().filename().string().starts_with("up") && f.is_regular_file(ec) &&
        f.file_size(ec) > 0)
      return true;
  return false;
}

// Whether an entry is being extracted: a file staged beside its destination
// in bin/ holds bytes.
bool Extracting(const UpdateSite& site) {
  std::error_code ec;
  for (const auto& f : fs::directory_iterator(site.install / "bin", ec))
    if (f.path().filename().string().starts_with(".krevo-") && f.file_size(ec) > 0) return true;
  return false;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(UpdateRunBounded, ASilentServerEndsTheRunAfterReadTimeout) {
  UpdateSite site;
  ftp::test::TScriptedPeer silent([](ftp::test::TPeerConnection& c, int) { c.ReadAll(); });
  site.install.Write("config.ini", "[Updater]\r\nHost=127.0.0.1\r\nPort=" +
                                       std::to_string(silent.Port()) + "\r\nReadTimeout=2\r\n");
  WriteEarlierLog(site);
  const auto start = Clock::now();
  RunResult r = site.Run();
  const double seconds = SecondsSince(start);
  // A server that never greets could not be reached.
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.err, "Krevo-updater: Read Timeout.\n");
  EXPECT_GE(seconds, 2.0);
  EXPECT_LT(seconds, 8.0);
  EXPECT_EQ(Modified(site.install / "updates.log"), kLastUpdate);
  EXPECT_TRUE(site.Log().ends_with(kFooter)) << site.Log();
  EXPECT_EQ(silent.Join(), "");
}

TEST(UpdateRunBounded, ADownloadBelowMinRateEndsWithinMinRateTime) {
  // 512 bytes a second, never silent for long: ReadTimeout alone would wait
  // out the whole megabyte.
  UpdateSite site(512);
  site.AddPackage("080307",
                  {{"bin/big.bin", Noise(std::size_t{1} << 20, 5), LocalTime(2008, 3, 7)}});
  // Retried once, as a time-out is, after about a second; then the package fails.
  site.WriteConfig("ReadTimeout=60\r\nMinRate=1K\r\nMinRateTime=2\r\nRetries=1\r\n");
  WriteEarlierLog(site);
  const auto start = Clock::now();
  RunResult r = site.Run();
  const double seconds = SecondsSince(start);
  EXPECT_EQ(r.exitCode, 4) << r.out;
  EXPECT_NE(r.err.find("Retrying up080307.zip from byte "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Error: Failed to download up080307.zip: The transfer was slower than 1024 "
                       "bytes a second for 2 seconds."),
            std::string::npos)
      << r.err;
  EXPECT_GE(seconds, 4.0);
  EXPECT_LT(seconds, 12.0);
  EXPECT_FALSE(fs::exists(site.install / "bin/big.bin"));
  EXPECT_EQ(Modified(site.install / "updates.log"), kLastUpdate);
}

// 1 MiB at 32 KiB a second: the download would take half a minute.
constexpr int kThrottle = 32 * 1024;
const std::string kBig = Noise(std::size_t{1} << 20, 7);
// Large enough that writing it takes far longer than the 10 ms between two
// looks at the installation.
const std::string kHuge = Noise(std::size_t{16} << 20, 9);

TEST(UpdateRunStopped, ASignalDuringTheRunEndsItAsAFailedRun) {
  const struct {
    const char* when;
    int signal;
  } cases[] = {
      {"downloading", SIGTERM},
      {"downloading", SIGINT},
      {"extracting", SIGTERM},
  };
  for (const auto& tc : cases) {
    const bool downloading = tc.when == std::string("downloading");
    SCOPED_TRACE(std::string(tc.when) + ", signal " + std::to_string(tc.signal));
    UpdateSite site(downloading ? kThrottle : 0);
    site.AddPackage("080307", {{"bin/big.bin", downloading ? kBig : kHuge, LocalTime(2008, 3, 7)}});
    WriteEarlierLog(site);
    const auto start = Clock::now();
    RunResult r =
        site.Run([&] { return downloading ? Downloading(site) : Extracting(site); }, tc.signal);
    const double seconds = SecondsSince(start);
    EXPECT_EQ(r.exitCode, 128 + tc.signal) << r.err;
    EXPECT_EQ(r.err, "") << "a stop is no error to show";
    EXPECT_LT(seconds, 12.0);
    EXPECT_EQ(r.out.find(" ... complete"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(site.install / "bin/big.bin"));
    EXPECT_EQ(Modified(site.install / "updates.log"), kLastUpdate);
    const std::string log = site.Log();
    EXPECT_TRUE(log.starts_with("earlier\r\nScan started ")) << log;
    EXPECT_TRUE(log.ends_with(kFooter)) << log;
    // Nothing of the package is left in the installation, hidden or not.
    if (fs::exists(site.install / "bin")) {
      EXPECT_TRUE(fs::is_empty(site.install / "bin"));
    }
  }
}

// Runs the updater in its window on a virtual display: the shell waits until
// `ready` (a shell condition) holds, sends SIGTERM (timeout passes it on) and
// waits for the program, which SIGKILL ends after 20 s. The output ends with
// "exit=" and the program's status.
RunResult RunWindowAndTerminate(const UpdateSite& site, const std::string& ready) {
  const std::string script =
      "timeout -s KILL 20 ./krevo-updater & pid=$!; "
      "for i in $(seq 400); do " +
      ready +
      " && break; sleep 0.05; done; "
      "kill -TERM $pid; wait $pid; echo exit=$?";
  RunOptions options;
  // The leak check stays on: a dialog's buttons left out of its window were
  // once leaked here.
  options.extraEnv = {"LC_ALL=C", "TMPDIR=" + site.tmp.Folder()};
  TVirtualDisplay display;
  if (!display.Usable()) throw std::runtime_error("Xvfb did not start");
  return RunProcess({"/bin/sh", "-c", script}, site.install.Folder(), options);
}

TEST(UpdateRunStopped, SIGTERMStopsTheRunInTheWindow) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/xwininfo", X_OK) != 0)
    GTEST_SKIP() << "Xvfb or xwininfo is missing";
  const struct {
    const char* when;
    const char* ready;
  } cases[] = {
      // The display keeps files of its own in a folder of $TMPDIR.
      {"downloading", "[ -n \"$(find \"$TMPDIR\" -name 'up*.zip' -size +0c)\" ]"},
      // Nothing newer than the last update: the run asks whether to retry.
      {"asking", "xwininfo -root -tree | grep -q '\"Confirm\"'"},
  };
  for (const auto& tc : cases) {
    const bool downloading = tc.when == std::string("downloading");
    SCOPED_TRACE(tc.when);
    UpdateSite site(downloading ? kThrottle : 0);
    site.AddPackage("080307", {{"bin/big.bin", kBig, LocalTime(2008, 3, 7)}});
    WriteEarlierLog(site);
    const std::time_t lastUpdate = downloading ? kLastUpdate : LocalTime(2009, 1, 1);
    SetModified(site.install / "updates.log", lastUpdate);
    const auto start = Clock::now();
    RunResult r = RunWindowAndTerminate(site, tc.ready);
    EXPECT_LT(SecondsSince(start), 20.0);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("exit=0\n")) << r.out << r.err;
    EXPECT_FALSE(fs::exists(site.install / "bin/big.bin"));
    // A stopped download keeps the date; the question closed as its close
    // does (No), and the run then reached its end.
    if (downloading) {
      EXPECT_EQ(Modified(site.install / "updates.log"), lastUpdate);
    }
    EXPECT_TRUE(site.Log().ends_with(kFooter)) << site.Log();
  }
}

}  // namespace
}  // namespace krevo::test
