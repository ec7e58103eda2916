// An update run killed with SIGKILL in the middle of extracting a package:
// every installed file is left old or new, never empty or partial, and the
// next run installs the package and appends to the log as usual.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

// Large enough that writing one entry takes far longer than the 10 ms between
// two looks at the installation; pseudo-random so that it does not compress.
constexpr std::size_t kLarge = std::size_t{16} << 20;

// What a file holds: "absent", "old", "new", or "partial (N bytes)".
std::string StateOf(const std::string& path, const std::string& old, const std::string& fresh) {
  if (!fs::exists(path)) return "absent";
  const std::string now = ReadFile(path);
  if (!old.empty() && now == old) return "old";
  if (now == fresh) return "new";
  return "partial (" + std::to_string(now.size()) + " bytes)";
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class UpdateRunKilled : public ::testing::Test {
 protected:
  UpdateRunKilled() {
    // Entries in this order: a file the installation lacks, one it has, a small one.
    site.AddPackage("080307", {{"bin/added.bin", added, LocalTime(2008, 3, 7)},
                               {"bin/replaced.bin", replaced, LocalTime(2008, 3, 7)},
                               {"readme.txt", "readme 2", LocalTime(2008, 3, 7)}});
  }

  // The installation before the package: two files of 2001 and a log of 2005.
  void ResetInstallation() {
    fs::create_directories(site.install / "bin");
    fs::remove(site.install / "bin/added.bin");
    for (const auto& name : Leftovers()) fs::remove(site.install / name);
    site.install.Write("bin/replaced.bin", kOldReplaced);
    site.install.Write("readme.txt", kOldReadme);
    for (const char* name : {"bin/replaced.bin", "readme.txt"})
      SetModified(site.install / name, LocalTime(2001, 1, 1));
    site.install.Write("updates.log", "earlier\r\n");
    SetModified(site.install / "updates.log", LocalTime(2005, 5, 5));
  }

  // True while an entry is being written: a file in bin/ other than the
  // installed replaced.bin holds some but not all of an entry's bytes (the
  // file staged beside its destination); `entry` is the one written first
  // (the files come in the package's order) while no staged file is whole.
  bool Writing(const std::string& entry) const {
    std::error_code ec;
    int whole = 0, partial = 0;
    for (const auto& f : fs::directory_iterator(site.install / "bin", ec)) {
      if (f.path().filename() == "replaced.bin" || !f.is_regular_file(ec)) continue;
      const auto size = f.file_size(ec);
      if (ec) continue;
      whole += size == kLarge;
      partial += size > 0 && size < kLarge;
    }
    return partial > 0 && whole == (entry == "bin/added.bin" ? 0 : 1);
  }

  // Files in the installation that are neither the package's nor the test's.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& f : fs::recursive_directory_iterator(site.install.Folder())) {
      const std::string name = fs::relative(f.path(), site.install.Folder()).string();
      if (f.is_regular_file() && name != "krevo-updater" && name != "krevo.exe" &&
          name != "config.ini" && name != "updates.log" && name != "updates-status.json" &&
          name != "readme.txt" && name != "bin/added.bin" && name != "bin/replaced.bin")
        names.push_back(name);
    }
    return names;
  }

  const std::string kOldReplaced = "replaced 1";
  const std::string kOldReadme = "readme 1";
  const std::string added = Noise(kLarge, 1);
  const std::string replaced = Noise(kLarge, 2);
  UpdateSite site;
};

TEST_F(UpdateRunKilled, EveryFileIsOldOrNewAndTheNextRunInstallsThePackage) {
  for (const char* entry : {"bin/added.bin", "bin/replaced.bin"}) {
    SCOPED_TRACE(std::string("killed while writing ") + entry);
    ResetInstallation();
    RunResult killed = site.Run([&] { return Writing(entry); });
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL)
        << "the run was not killed while extracting; " << killed.err;
    const std::string added1 = StateOf(site.install / "bin/added.bin", "", added);
    EXPECT_TRUE(added1 == "absent" || added1 == "new") << "bin/added.bin: " << added1;
    const std::string replaced1 =
        StateOf(site.install / "bin/replaced.bin", kOldReplaced, replaced);
    EXPECT_TRUE(replaced1 == "old" || replaced1 == "new") << "bin/replaced.bin: " << replaced1;
    EXPECT_EQ(StateOf(site.install / "readme.txt", kOldReadme, "readme 2"), "old");
    // The killed run does not count as an update.
    EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));

    RunResult next = site.Run();
    EXPECT_EQ(next.exitCode, 0) << next.err;
    // A partial new file left by the killed run would be newer than the
    // package's copy, and the overwrite policy would keep it.
    EXPECT_EQ(StateOf(site.install / "bin/added.bin", "", added), "new");
    EXPECT_EQ(StateOf(site.install / "bin/replaced.bin", kOldReplaced, replaced), "new");
    EXPECT_EQ(StateOf(site.install / "readme.txt", kOldReadme, "readme 2"), "new");
    // The log kept the earlier runs, and the next run appended a whole record;
    // the killed run logged no file, since none was in place.
    const std::string log = site.Log();
    EXPECT_EQ(log.rfind("earlier\r\nScan started ", 0), 0u) << log;
    EXPECT_EQ(Count(log, "Scan started "), 2u) << log;
    EXPECT_EQ(Count(log, "Scan finished "), 1u) << log;
    EXPECT_EQ(Count(log, "readme.txt > "), 1u) << log;
    // The killed run's staged files went before the next run connected.
    EXPECT_NE(log.find("Interrupted update of up080307.zip rolled back\r\n"), std::string::npos)
        << log;
    EXPECT_TRUE(log.ends_with("3 files updated.\r\n" + std::string(70, '=') + "\r\n")) << log;
    // What the killed run left behind is hidden beside its destination and
    // touched by nobody.
    for (const std::string& name : Leftovers())
      EXPECT_EQ(fs::path(name).filename().string().rfind(".krevo-", 0), 0u) << name;
  }
}

// Every write to the log moves its date, and a call after it puts the date
// back: a run killed between the two (at the first, once "Scan started" is
// written; at the second, once the package's line is) must not leave the log
// dated now, or the packages it did not count would never be new again.
TEST(UpdateRunKilledBetweenWriteAndDate, KeepsTheDateOfTheLastUpdate) {
  for (const char* nth : {"1", "2"}) {
    SCOPED_TRACE(std::string("killed before dating the log back, time ") + nth);
    UpdateSite site;
    site.AddPackage("080307", {{"readme.txt", "readme 2", LocalTime(2008, 3, 7)}});
    site.install.Write("updates.log", "earlier\r\n");
    SetModified(site.install / "updates.log", LocalTime(2005, 5, 5));
    site.env = {"LD_PRELOAD=" KREVO_CRASH_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0",
                "KREVO_KILL_CALL=utimensat", "KREVO_KILL_NAME=updates.log",
                std::string("KREVO_KILL_NTH=") + nth};
    ASSERT_EQ(site.Run().exitCode, 128 + SIGKILL);
    site.env.clear();
    EXPECT_NE(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));
    // The next run, with the server away, believes the date the killed run kept.
    site.StopServer();
    EXPECT_EQ(site.Run().exitCode, 3);
    EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));
    site.RestartServer({});
    const RunResult next = site.Run();
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(next.err.find("No new updates"), std::string::npos) << next.err;
    EXPECT_EQ(ReadFile(site.install / "readme.txt"), "readme 2");
    EXPECT_GT(Modified(site.install / "updates.log"), LocalTime(2008, 3, 7));
  }
}

}  // namespace
}  // namespace krevo::test
