// A download that a run did not finish (killed, stopped) goes on where it
// ended in the next run, when the server still offers the same package: the
// listed size and the server's time of the file are unchanged, and REST is
// accepted. Otherwise it starts anew.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "tests/app/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

TEST(UpdateRunResume, AnUnfinishedDownloadGoesOnWhereItEndedWhenTheOfferIsTheSame) {
  struct Case {
    const char* what;
    int signal;          // what ends the first run during its download
    bool changed;        // the package is made anew on the server in between
    const char* refuse;  // what the second server answers with 502: "all" REST, "past" 1
    bool signedKey;      // the package is signed and the key configured
    bool restAtCopy;     // the second run asks for the rest of the copy
  };
  const Case cases[] = {
      {"killed", SIGKILL, false, "", false, true},
      {"stopped", SIGTERM, false, "", false, true},
      {"signed and killed", SIGKILL, false, "", true, true},
      {"changed on the server", SIGKILL, true, "", false, false},
      {"REST refused", SIGKILL, false, "all", false, false},
      // Restarts in general, but not from there: the whole file after all.
      {"REST from the copy's end refused", SIGKILL, false, "past", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site(64 * 1024);  // a slow line for the first run
    TempDir keys;
    std::string keySetting;
    const auto make = [&](unsigned seed) {
      const std::string package =
          site.AddPackage("080307", {{"big.bin", Noise(1 << 20, seed), LocalTime(2008, 3, 7)}});
      if (!c.signedKey) return;
      RunResult r = RunProcess({"/usr/bin/minisign", "-S", "-s", keys / "k.key", "-m", package},
                               keys.Folder());
      ASSERT_EQ(r.exitCode, 0) << r.err;
    };
    if (c.signedKey) {
      RunResult r =
          RunProcess({"/usr/bin/minisign", "-G", "-W", "-p", keys / "k.pub", "-s", keys / "k.key"},
                     keys.Folder());
      ASSERT_EQ(r.exitCode, 0) << r.err;
      keySetting = "PublicKeyFile=" + keys / "k.pub" + "\r\n";
      site.WriteConfig(keySetting);
    }
    make(1);
    const std::string copy = site.Staging() + "/up080307.zip";
    std::error_code ec;
    const RunResult first =
        site.Run([&] { return fs::file_size(copy, ec) >= 128 * 1024 && !ec; }, c.signal);
    ASSERT_EQ(first.exitCode, 128 + c.signal) << first.err;
    const auto partial = fs::file_size(copy);
    ASSERT_LT(partial, fs::file_size(site.serverRoot / "krevo/updates/up080307.zip"));
    if (c.changed) make(2);
    const std::string commands = site.tmp / "commands.txt";
    std::vector<std::string> options = {"--command-log", commands};
    if (c.refuse == std::string("all")) options.push_back("--refuse-rest");
    if (c.refuse == std::string("past")) options.insert(options.end(), {"--refuse-rest-past", "1"});
    site.RestartServer(options);
    site.WriteConfig(keySetting);
    const RunResult second = site.Run();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(ReadFile(site.install / "big.bin"), Noise(1 << 20, c.changed ? 2 : 1));
    // The rest was asked for, or the whole file.
    const bool rest =
        ReadFile(commands).find("REST " + std::to_string(partial) + "\n") != std::string::npos;
    EXPECT_EQ(rest, c.restAtCopy) << ReadFile(commands);
    EXPECT_FALSE(fs::exists(copy + ".partial"));
  }
}

}  // namespace
}  // namespace krevo::test
