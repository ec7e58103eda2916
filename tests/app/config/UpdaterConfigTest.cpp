// The root folder and config.ini.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "app/config/UpdaterConfig.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

using test::TempDir;

TEST(RootFolder, KeepsTheCharactersBothValuesShareAtEachPosition) {
  struct Case {
    const char* documents;
    const char* reports;
    const char* root;
  };
  for (Case c : {Case{"/opt/krevo/", "/opt/krevo/", "/opt/krevo/"},
                 Case{"/a/X/", "/a/Y/", "/a//"},              // the scan goes on past a difference
                 Case{"/data/", "/data/reports/", "/data/"},  // the shorter length bounds it
                 Case{"", "/opt/krevo/", ""}, Case{"/opt/krevo/", "", ""},
                 Case{"C:\\A\\X\\", "C:\\A\\Y\\", "C:\\A\\\\"}}) {
    EXPECT_EQ(DeriveRootFolder(c.documents, c.reports), c.root)
        << c.documents << " | " << c.reports;
  }
}

TEST(UpdaterConfig, ReadsBothRootsAndTheOptionalServer) {
  TempDir dir;
  TUpdaterConfig none = ReadUpdaterConfig(dir.Folder());
  EXPECT_EQ(none.DocumentsRoot, dir.Folder());
  EXPECT_EQ(none.ReportsRoot, dir.Folder());
  EXPECT_EQ(none.Host, DefaultFtpHost());
  EXPECT_EQ(none.Port, DefaultFtpPort());

  dir.Write("config.ini",
            "[Documents]\r\nRootFolder=/srv/docs/\r\n[Reports]\r\nRootFolder=\r\n"
            "[Updater]\r\nHost=127.0.0.1\r\nPort=2121\r\n");
  TUpdaterConfig c = ReadUpdaterConfig(dir.Folder());
  EXPECT_EQ(c.DocumentsRoot, "/srv/docs/");
  EXPECT_EQ(c.ReportsRoot, "");
  EXPECT_EQ(c.Host, "127.0.0.1");
  EXPECT_EQ(c.Port, 2121);

  for (const char* port : {"0", "65536", "21x", "-1", ""}) {
    dir.Write("config.ini", std::string("[Updater]\nHost=\nPort=") + port + "\n");
    TUpdaterConfig bad = ReadUpdaterConfig(dir.Folder());
    EXPECT_EQ(bad.Port, DefaultFtpPort()) << port;
    EXPECT_EQ(bad.Host, DefaultFtpHost());
  }
}

TEST(UpdaterConfig, PhasingIsOnUnlessSwitchedOff) {
  TempDir dir;
  const struct {
    const char* lines;
    bool phasing;
    const char* group;
  } cases[] = {{"", true, ""},
               {"Phasing=No\nPhaseGroup=canaries\n", false, "canaries"},
               {"Phasing=FALSE\n", false, ""},
               {"Phasing=0\n", false, ""},
               {"Phasing=off\n", false, ""},
               {"Phasing=yes\n", true, ""},
               {"Phasing=\nPhaseGroup=\n", true, ""}};
  for (const auto& tc : cases) {
    dir.Write("config.ini", std::string("[Updater]\n") + tc.lines);
    const TUpdaterConfig c = ReadUpdaterConfig(dir.Folder());
    EXPECT_EQ(c.Phasing, tc.phasing) << tc.lines;
    EXPECT_EQ(c.PhaseGroup, tc.group) << tc.lines;
  }
}

TEST(UpdaterConfig, TheTimeoutsAreWholeNumbersOfSecondsUpToADay) {
  // ReadTimeout, RunTimeout and HealthCheckTimeout, each from the same
  // values; -1 here: the key's default (a check with no time at all is none).
  TempDir dir;
  EXPECT_EQ(ReadUpdaterConfig(dir.Folder()).ReadTimeout, 60);
  EXPECT_EQ(ReadUpdaterConfig(dir.Folder()).RunTimeout, 7200);
  const struct {
    const char* value;
    int seconds;
  } cases[] = {{"2", 2},    {"0", 0},   {"86400", 86400}, {"86401", -1},      {"-1", -1},
               {"1.5", -1}, {"2s", -1}, {"", -1},         {"99999999999", -1}};
  for (const auto& tc : cases) {
    dir.Write("config.ini", std::string("[Updater]\r\nReadTimeout=") + tc.value +
                                "\r\nRunTimeout=" + tc.value +
                                "\r\nHealthCheckTimeout=" + tc.value + "\r\n");
    const TUpdaterConfig c = ReadUpdaterConfig(dir.Folder());
    EXPECT_EQ(c.ReadTimeout, tc.seconds < 0 ? 60 : tc.seconds) << tc.value;
    EXPECT_EQ(c.RunTimeout, tc.seconds < 0 ? 7200 : tc.seconds) << tc.value;
    EXPECT_EQ(c.HealthCheckTimeout, tc.seconds <= 0 ? 60 : tc.seconds) << tc.value;
  }
}

TEST(UpdaterConfig, TheRateLimitsTakeKAndMSuffixesAndKeepTheirDefaultsOtherwise) {
  // Retries is read here too, with the same values.
  TempDir dir;
  const TUpdaterConfig defaults = ReadUpdaterConfig(dir.Folder());
  EXPECT_EQ(defaults.MinRate, 1024);
  EXPECT_EQ(defaults.MinRateTime, 60);
  EXPECT_EQ(defaults.MaxRate, 0);
  EXPECT_EQ(defaults.Retries, 5);
  EXPECT_EQ(defaults.MaxPackageSize, std::int64_t{2} << 30);
  const struct {
    const char* value;
    std::int64_t rate;  // MinRate and MaxRate read from `value`
    int seconds;        // MinRateTime read from `value`
  } cases[] = {
      {"0", 0, 0},
      {"512", 512, 512},
      {"512K", 512 * 1024, 60},
      {"10M", 10 * 1024 * 1024, 60},
      {"10m", 10 * 1024 * 1024, 60},
      {"2k", 2048, 60},
      {"3600", 3600, 3600},
      {"3601", 3601, 60},
      {"1099511627776", std::int64_t{1} << 40, 60},
      {"1048576M", std::int64_t{1} << 40, 60},
      {"1048577M", -1, 60},
      {"99999999999999999999", -1, 60},
      {"1.5M", -1, 60},
      {"10KB", -1, 60},
      {"10G", -1, 60},
      {"-1", -1, 60},
      {"+10", -1, 60},
      {"K", -1, 60},
      {"", -1, 60},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.value);
    dir.Write("config.ini", std::string("[Updater]\r\nMinRate=") + tc.value + "\r\nMinRateTime=" +
                                tc.value + "\r\nMaxRate=" + tc.value + "\r\nRetries=" + tc.value +
                                "\r\nMaxPackageSize=" + tc.value + "\r\n");
    const TUpdaterConfig c = ReadUpdaterConfig(dir.Folder());
    EXPECT_EQ(c.MinRate, tc.rate < 0 ? 1024 : tc.rate);
    // MaxPackageSize: a byte count as the rates, but 0 keeps the default too.
    EXPECT_EQ(c.MaxPackageSize, tc.rate <= 0 ? std::int64_t{2} << 30 : tc.rate);
    EXPECT_EQ(c.MaxRate, tc.rate < 0 ? 0 : tc.rate);
    EXPECT_EQ(c.MinRateTime, tc.seconds);
    // Retries: a whole number from 0 to 100, else 5.
    EXPECT_EQ(c.Retries, tc.value == std::string("0") ? 0 : 5);
  }
  for (const auto& [value, retries] : {std::pair{"2", 2}, {"100", 100}, {"101", 5}, {"x", 5}}) {
    dir.Write("config.ini", std::string("[Updater]\r\nRetries=") + value + "\r\n");
    EXPECT_EQ(ReadUpdaterConfig(dir.Folder()).Retries, retries) << value;
  }
}

}  // namespace
}  // namespace krevo::app
