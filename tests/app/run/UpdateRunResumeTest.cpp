// A download that a run did not finish (killed, stopped) goes on where it
// ended in the next run, when the server still offers the same package: the
// listed size and the server's time of the file are unchanged, and REST is
// accepted. Otherwise it starts anew. Within a run, a transfer that breaks
// off is resumed on a new connection, up to Retries times.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "tests/app/support/UpdateSite.h"

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

TEST(UpdateRunResume, ATransferThatBreaksOffIsResumedWithinTheRunUpToRetriesTimes) {
  struct Case {
    const char* what;
    std::vector<std::string> server;  // the faults of the server
    const char* config;               // lines added to config.ini
    int retries;                      // the retries that the run makes
    bool installed;                   // the big package is installed
    int sessions;                     // the logins of the run
    bool signedKey = false;           // the packages are signed and the key configured
  };
  const std::string after = std::to_string(256 * 1024);
  const Case cases[] = {
      {"dropped once", {"--drop-after", after, "--drops", "1"}, "", 1, true, 2},
      {"dropped again on the retry", {"--drop-after", after, "--drops", "2"}, "", 2, true, 2},
      // What was in flight is lost: the copy may end anywhere before.
      {"reset", {"--drop-after", after, "--drops", "1", "--drop-reset"}, "", 1, true, 2},
      {"the session lost with it",
       {"--drop-after", after, "--drops", "1", "--drop-session"},
       "",
       1,
       true,
       3},
      // The retry's REST is refused: the whole file, at once.
      {"REST refused on the retry",
       {"--drop-after", after, "--drops", "1", "--refuse-rest-past", "1"},
       "",
       1,
       true,
       2},
      {"dropped every time", {"--drop-after", after}, "Retries=2\r\n", 2, false, 2},
      // Hashed where it lies, since the hash of its arrival is not whole.
      {"signed", {"--drop-after", after, "--drops", "1"}, "", 1, true, 2, true},
  };
  const std::string big = Noise(1 << 20, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    const std::vector<std::string> packages = {
        site.AddPackage("080307", {{"big.bin", big, LocalTime(2008, 3, 7)}}),
        // Smaller than the drop: the next package comes through.
        site.AddPackage("080308", {{"small.txt", "small", LocalTime(2008, 3, 8)}})};
    std::string config = c.config;
    TempDir keys;
    if (c.signedKey) {
      RunResult made =
          RunProcess({"/usr/bin/minisign", "-G", "-W", "-p", keys / "k.pub", "-s", keys / "k.key"},
                     keys.Folder());
      ASSERT_EQ(made.exitCode, 0) << made.err;
      for (const std::string& package : packages) {
        RunResult signature = RunProcess(
            {"/usr/bin/minisign", "-S", "-s", keys / "k.key", "-m", package}, keys.Folder());
        ASSERT_EQ(signature.exitCode, 0) << signature.err;
      }
      config += "PublicKeyFile=" + keys / "k.pub" + "\r\n";
    }
    const std::string commands = site.tmp / "commands.txt";
    std::vector<std::string> options = {"--command-log", commands};
    options.insert(options.end(), c.server.begin(), c.server.end());
    site.RestartServer(options);
    site.WriteConfig(config);
    const RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, c.installed ? 0 : 4) << r.err;
    EXPECT_EQ(fs::exists(site.install / "big.bin"), c.installed);
    if (c.installed) {
      EXPECT_EQ(ReadFile(site.install / "big.bin"), big);
    }
    EXPECT_EQ(ReadFile(site.install / "small.txt"), "small");
    const std::string log = site.Log();
    const std::string sent = ReadFile(commands);
    // Each retry is said in the log and on the console, from where the copy
    // ended; the server was asked for the rest from there.
    const std::regex retry(R"(Retrying up080307\.zip from byte (\d+) \((\d+) of (\d+)\): )");
    int count = 0;
    for (auto m = std::sregex_iterator(log.begin(), log.end(), retry); m != std::sregex_iterator();
         ++m, ++count) {
      EXPECT_EQ(std::stoi((*m)[2]), count + 1);
      EXPECT_EQ((*m)[3], std::string(c.config).empty() ? "5" : "2");
      const long long from = std::stoll((*m)[1]);
      if (c.server.back() == "--drop-reset") {
        EXPECT_LE(from, 256 * 1024);
      } else {
        EXPECT_EQ(from, (count + 1) * 256 * 1024);
      }
      EXPECT_NE(sent.find("REST " + std::to_string(from) + "\n"), std::string::npos) << sent;
      EXPECT_NE(r.err.find((*m).str()), std::string::npos) << r.err;
    }
    EXPECT_EQ(count, c.retries) << log;
    std::size_t logins = 0;
    for (std::size_t at = 0; (at = sent.find("USER ", at)) != std::string::npos; ++at) ++logins;
    EXPECT_EQ(logins, static_cast<std::size_t>(c.sessions)) << sent;
    if (c.installed) {
      EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... complete\n)"))) << r.out;
      continue;
    }
    // The retries ran out: the package failed, its copy is kept for the
    // next run, and the next package was still tried.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... failed\n)"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080308\.zip ... complete\n)"))) << r.out;
    EXPECT_NE(r.err.find("Error: Failed to download up080307.zip: "), std::string::npos) << r.err;
    EXPECT_GT(fs::file_size(site.Staging() + "/up080307.zip"), 0u);
    EXPECT_TRUE(fs::exists(site.Staging() + "/up080307.zip.partial"));
  }
}

}  // namespace
}  // namespace krevo::test
