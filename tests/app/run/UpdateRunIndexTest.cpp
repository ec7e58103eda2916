// The signed package index through the whole run: the built krevo-updater in
// console mode against a real FTP server, indexes made by
// scripts/make-index.sh and signed by the minisign tool at test time, then
// refused, replayed, withheld or tampered with as a hostile server would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/app/support/SigningKeys.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

const std::string kFuture = "2099-01-01T00:00:00Z";

// Two key pairs, made once for the suite: k1 is the one the updater trusts.
class UpdateRunIndex : public SigningKeysTest {
 protected:
  // Runs `script` in the server's package folder: $K1 and $K2 name the secret
  // keys, $INDEX runs scripts/make-index.sh on the folder (signing with k1).
  static void OnServer(const UpdateSite& site, const std::string& script) {
    InFolder(site.serverRoot / "krevo/updates", script);
  }
  // The same in `folder`.
  static void InFolder(const std::string& folder, const std::string& script) {
    RunResult r = RunProcess({"/bin/sh", "-c",
                              "K1='" + (*keys_ / "k1.key") + "' K2='" + (*keys_ / "k2.key") +
                                  "'; INDEX=\"env KREVO_SIGNING_KEY=$K1 " KREVO_TEST_SOURCE_DIR
                                  "/scripts/make-index.sh .\"; " +
                                  script},
                             folder);
    if (r.exitCode != 0) throw std::runtime_error(script + ": " + r.err);
  }

  // up080307.zip (a.txt) and up080308.zip (b.txt) on the server; a log dated
  // `logDate` (0: none); the server recording the commands; config.ini
  // trusting k1 through keys/krevo.pub beside the updater, with `extra`.
  static void Prepare(UpdateSite& site, const std::string& commandLog, std::time_t logDate,
                      const std::string& extra = "") {
    site.AddPackage("080307", {{"a.txt", "package a", LocalTime(2008, 3, 7)}});
    site.AddPackage("080308", {{"b.txt", "package b", LocalTime(2008, 3, 8)}});
    if (logDate) {
      site.install.Write("updates.log", "earlier\r\n");
      SetModified(site.install / "updates.log", logDate);
    }
    site.RestartServer({"--command-log", commandLog});
    fs::create_directories(site.install / "keys");
    fs::copy_file(*keys_ / "k1.pub", site.install / "keys/krevo.pub");
    site.WriteConfig("PublicKeyFile=keys/krevo.pub\r\n" + extra);
  }
};

bool Has(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

std::string State(const UpdateSite& site) {
  return fs::exists(site.install / ".krevo-index.state")
             ? ReadFile(site.install / ".krevo-index.state")
             : "";
}

// The state without the packages' hashes.
std::string Recorded(const UpdateSite& site) {
  return std::regex_replace(State(site), std::regex(" ([0-9a-f]{128}|-)\n"), "\n");
}

TEST_F(UpdateRunIndex, ARefusedIndexEndsTheRunWithItsReasonBeforeAnythingIsDownloaded) {
  struct Case {
    const char* what;
    const char* script;  // on the server
    const char* reason;  // the dialog's text and the log's line start so
    const char* extra = "";
    // This installation accepted index 17 before and installed nothing since.
    const char* state = "krevo-index-state 1\nsequence 17\n";
  };
  const std::vector<Case> cases = {
      {"expired", "$INDEX 17 2020-01-01T00:00:00Z",
       "The package index has expired (2020-01-01T00:00:00Z)."},
      {"lower sequence", "$INDEX 16 2099-01-01T00:00:00Z",
       "The package index is older than the one accepted before (sequence 16, not 17)."},
      {"other channel", "$INDEX 17 2099-01-01T00:00:00Z beta",
       "The package index is for the channel beta, not stable."},
      {"channel configured", "$INDEX 17 2099-01-01T00:00:00Z",
       "The package index is for the channel stable, not beta.", "Channel=beta\r\n"},
      {"malformed",
       "$INDEX 17 2099-01-01T00:00:00Z && printf 'mirror x\\n' >> index"
       " && minisign -S -s \"$K1\" -m index",
       "The package index is malformed: line 7: it starts with the unknown word mirror."},
      {"CR line ends",
       "$INDEX 17 2099-01-01T00:00:00Z && sed -i 's/$/\\r/' index"
       " && minisign -S -s \"$K1\" -m index",
       "The package index is malformed: line 1: it holds a CR."},
      {"over 1 MiB",
       "head -c 1048577 /dev/zero | tr '\\0' x > index && minisign -S -s \"$K1\" -m index",
       "The package index was refused: index is larger than 1048576 bytes."},
      {"another key", "$INDEX 17 2099-01-01T00:00:00Z && minisign -S -s \"$K2\" -m index",
       "The package index has a bad signature: it was made with another key."},
      {"for another file",
       "$INDEX 17 2099-01-01T00:00:00Z && minisign -S -s \"$K1\" -m index -t file:up080308.zip",
       "The package index has a bad signature: it was made for another file name."},
      {"changed after signing",
       "$INDEX 17 2099-01-01T00:00:00Z && sed -i 's/sequence 17/sequence 99/' index",
       "The package index has a bad signature: the file is not the one that was signed."},
      {"not signed", "$INDEX 17 2099-01-01T00:00:00Z && rm index.minisig",
       "The package index is not signed: the server has no index.minisig: "},
      // Once an index was accepted, a server cannot switch it off.
      {"withheld after one was accepted", ":",
       "The server has no package index, and this installation accepted package index 17 "
       "before."},
      {"missing, required", ":",
       "The server has no package index, and RequireIndex=yes in config.ini asks for one.",
       "RequireIndex=yes\r\n"},
      // Its loss would let an older index in again.
      {"damaged state", "$INDEX 17 2099-01-01T00:00:00Z",
       "The index state .krevo-index.state in the root folder is damaged (its sequence is no "
       "number); remove it",
       "", "krevo-index-state 1\nsequence x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands", LocalTime(2005, 5, 5), c.extra);
    site.install.Write(".krevo-index.state", c.state);
    OnServer(site, c.script);
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find(std::string("Error: ") + c.reason), std::string::npos) << r.err;
    EXPECT_NE(site.Log().find(c.reason), std::string::npos) << site.Log();
    EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));
    EXPECT_FALSE(fs::exists(site.install / "a.txt"));
    EXPECT_EQ(State(site), c.state);
    const std::string commands = ReadFile(scratch / "commands");
    EXPECT_FALSE(Has(commands, "RETR up")) << commands;
  }
}

// Each case runs against up080307.zip and up080308.zip, indexed as sequence
// 17, then changed on the server.
TEST_F(UpdateRunIndex, ExactlyTheIndexedPackagesAreInstalledWithTheIndexSizesAndHashes) {
  struct Case {
    const char* what;
    const char* script;   // after the index is made
    const char* ending7;  // of up080307.zip's line
    int exitCode;
    const char* error = "";  // on standard error
  };
  const std::vector<Case> cases = {
      {"valid", ":", "complete", 0},
      {"a byte changed",
       "printf '\\377' | dd of=up080307.zip bs=1 seek=40 conv=notrunc 2>/dev/null", "bad signature",
       4, "Error: Refused to install up080307.zip: bad signature: its BLAKE2b-512 hash is not"},
      {"longer", "printf x >> up080307.zip", "failed", 4,
       "Error: Failed to download up080307.zip: The server sent more than the"},
      {"shorter", "truncate -s -1 up080307.zip", "failed", 4, " bytes were received."},
      {"missing on the server", "rm up080307.zip", "failed", 4,
       "Error: Failed to download up080307.zip: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands", LocalTime(2005, 5, 5));
    OnServer(site, "$INDEX 17 " + kFuture + " && " + c.script);
    // Not in the index: passed over, whatever its date.
    site.AddPackage("080310", {{"c.txt", "not indexed", LocalTime(2008, 3, 10)}});
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(Has(r.out, std::string(R"(up080307\.zip ... )") + c.ending7 + "\n")) << r.out;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_EQ(fs::exists(site.install / "a.txt"), c.exitCode == 0);
    // The other package goes in whatever became of the first.
    EXPECT_TRUE(Has(r.out, R"(up080308\.zip ... complete\n)")) << r.out;
    EXPECT_EQ(ReadFile(site.install / "b.txt"), "package b");
    EXPECT_FALSE(fs::exists(site.install / "c.txt"));
    EXPECT_NE(site.Log().find("Passed over up080310.zip: it is not in the package index."),
              std::string::npos)
        << site.Log();
    EXPECT_NE(
        site.Log().find("Package index 17 (channel stable, expires " + kFuture + ") accepted."),
        std::string::npos);
    EXPECT_EQ(Recorded(site), std::string("krevo-index-state 2\nsequence 17\n") +
                                  (c.exitCode == 0 ? "installed up080307.zip\n" : "") +
                                  "installed up080308.zip\n");
    const std::string commands = ReadFile(scratch / "commands");
    EXPECT_TRUE(Has(commands, "RETR index\nPASV\nRETR index\\.minisig\n")) << commands;
    EXPECT_FALSE(Has(commands, "up08030.\\.zip\\.minisig|RETR up080310")) << commands;
  }
}

// Which packages a run takes with an index, whatever the dates say.
TEST_F(UpdateRunIndex, NoPackageIsLostToTheDateFilter) {
  struct Case {
    const char* what;
    std::time_t logDate;  // 0: no log yet
    const char* state;    // written before the run; "": none
    bool install7, install8;
    const char* stateAfter;
    const char* logLine = "";
  };
  const std::vector<Case> cases = {
      {"a new installation", 0, "", true, true,
       "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n"},
      // Nothing recorded up080307.zip: it may have been uploaded after the
      // last run, so the first index brings it, and says so.
      {"the first index met", LocalTime(2008, 3, 7), "", true, true,
       "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n",
       "Offering up080307.zip again: it is dated before the last update, but no run recorded "
       "installing it."},
      // A run without an index recorded it.
      {"the first index, up080307.zip recorded", LocalTime(2008, 3, 7),
       "krevo-index-state 2\ninstalled up080307.zip -\n", false, true,
       "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n"},
      // up080308.zip was uploaded after a run on 9 March.
      {"a package uploaded late", LocalTime(2008, 3, 9),
       "krevo-index-state 1\nsequence 16\ninstalled up080307.zip\n", false, true,
       "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n"},
      // One run stamped the log with a date years ahead; the clock is back.
      {"after the clock ran ahead", LocalTime(2030, 1, 1), "krevo-index-state 1\nsequence 16\n",
       true, true, "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n"},
      {"everything installed", LocalTime(2008, 3, 9),
       "krevo-index-state 1\nsequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n", false,
       false, "sequence 17\ninstalled up080307.zip\ninstalled up080308.zip\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands", c.logDate);
    if (*c.state) site.install.Write(".krevo-index.state", c.state);
    OnServer(site, "$INDEX 17 " + kFuture);
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(fs::exists(site.install / "a.txt"), c.install7);
    EXPECT_EQ(fs::exists(site.install / "b.txt"), c.install8);
    EXPECT_EQ(Recorded(site), std::string("krevo-index-state 2\n") + c.stateAfter);
    EXPECT_NE(site.Log().find(c.logLine), std::string::npos) << site.Log();
    if (!c.install7 && !c.install8) {
      // Nothing new: the retry question offers the index's last package,
      // which unattended runs decline.
      EXPECT_NE(r.err.find("No new updates were available for download. Retry last updated "
                           "anyway?"),
                std::string::npos)
          << r.err;
    }
  }
}

TEST_F(UpdateRunIndex, EveryConfiguredKeyIsTrusted) {
  struct Case {
    const char* what;
    const char* signer;  // K1 or K2: signs the index, or the packages without one
    bool index;
    std::string config;
  };
  const std::string both = "PublicKey= " + KeyLine("k1.pub") + " ,\t" + KeyLine("k2.pub") + "\r\n";
  const std::vector<Case> cases = {
      {"key lines, the first signs", "K1", true, both},
      {"key lines, the second signs", "K2", true, both},
      {"key file, the second signs", "K2", true, "PublicKeyFile=both.pub\r\n"},
      {"key file, the first signs packages", "K1", false, "PublicKeyFile=both.pub\r\n"},
      {"key file, the second signs packages", "K2", false, "PublicKeyFile=both.pub\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands", LocalTime(2005, 5, 5));
    site.install.Write("both.pub", ReadFile(*keys_ / "k1.pub") + ReadFile(*keys_ / "k2.pub"));
    site.WriteConfig(c.config);
    const std::string signer = std::string("\"$") + c.signer + "\"";
    OnServer(site, c.index ? "KREVO_SIGNING_KEY=" + signer +
                                 " " KREVO_TEST_SOURCE_DIR "/scripts/make-index.sh . 17 " + kFuture
                           : "minisign -S -s " + signer + " -m up080307.zip && minisign -S -s " +
                                 signer + " -m up080308.zip");
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a");
    EXPECT_EQ(Has(State(site), "sequence 17"), c.index) << State(site);
  }
}

TEST_F(UpdateRunIndex, WithoutAnIndexTheDateFilterAndPackageSignaturesStay) {
  UpdateSite site;
  TempDir scratch;
  Prepare(site, scratch / "commands", LocalTime(2008, 3, 7));
  OnServer(site,
           "minisign -S -s \"$K1\" -m up080307.zip && minisign -S -s \"$K1\" -m up080308.zip");
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(fs::exists(site.install / "a.txt"));
  EXPECT_EQ(ReadFile(site.install / "b.txt"), "package b");
  const std::string commands = ReadFile(scratch / "commands");
  EXPECT_TRUE(Has(commands,
                  "RETR index\n[\\s\\S]*RETR up080308\\.zip\nPASV\nRETR up080308\\.zip\\.minisig"))
      << commands;
  // Recorded with the hash of its bytes, for the first index to come.
  EXPECT_TRUE(Has(State(site), "^krevo-index-state 2\ninstalled up080308\\.zip [0-9a-f]{128}\n$"))
      << State(site);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

TEST_F(UpdateRunIndex, APackageRepublishedUnderItsNameIsInstalledAgain) {
  UpdateSite site;
  TempDir scratch;
  Prepare(site, scratch / "commands", LocalTime(2005, 5, 5));
  OnServer(site, "$INDEX 17 " + kFuture);
  RunResult r = site.Run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The vendor mends up080307.zip and publishes it again under its name.
  site.AddPackage("080307", {{"a.txt", "package a, mended", LocalTime(2008, 3, 8)}});
  OnServer(site, "$INDEX 18 " + kFuture);
  r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a, mended");
  EXPECT_NE(site.Log().find("Offering up080307.zip again: the package index gives it another hash "
                            "than the one installed."),
            std::string::npos)
      << site.Log();
  const std::string commands = ReadFile(scratch / "commands");
  EXPECT_EQ(Count(commands, "RETR up080307.zip\n"), 2u) << commands;
  EXPECT_EQ(Count(commands, "RETR up080308.zip\n"), 1u) << commands;
  // The new hash is recorded: the next run has nothing new.
  r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("No new updates were available"), std::string::npos) << r.err;
  EXPECT_EQ(Count(ReadFile(scratch / "commands"), "RETR up080307.zip\n"), 2u);
}

// A mirror first, the vendor (the site's server, index 17) second; this
// installation accepted index 16 before.
TEST_F(UpdateRunIndex, AMirrorWithoutAnAcceptableIndexIsPassedOverForTheNextSource) {
  struct Case {
    const char* what;
    std::string mirror;  // script in the mirror's folder, which holds the packages
    const char* reason;  // of the mirror's note
    std::string vendor = "$INDEX 17 " + kFuture;
    int exitCode = 0;
  };
  const std::vector<Case> cases = {
      {"lists nothing", "rm up*.zip",
       "The server has no package index, and this installation accepted package index 16 before"},
      {"no index", ":",
       "The server has no package index, and this installation accepted package index 16 before"},
      {"expired", "$INDEX 17 2020-01-01T00:00:00Z",
       "The package index has expired (2020-01-01T00:00:00Z)"},
      {"older", "$INDEX 15 " + kFuture,
       "The package index is older than the one accepted before (sequence 15, not 16)"},
      {"another channel", "$INDEX 17 " + kFuture + " beta",
       "The package index is for the channel beta, not stable"},
      {"signed with another key", "$INDEX 17 " + kFuture + " && minisign -S -s \"$K2\" -m index",
       "The package index has a bad signature: it was made with another key"},
      // No source gives an acceptable index: the last one's reason ends the run.
      {"the vendor's expired too", "$INDEX 15 " + kFuture,
       "The package index is older than the one accepted before (sequence 15, not 16)",
       "$INDEX 17 2020-01-01T00:00:00Z", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch, mirrorRoot;
    Prepare(site, scratch / "commands", LocalTime(2005, 5, 5));
    const std::string state = "krevo-index-state 1\nsequence 16\n";
    site.install.Write(".krevo-index.state", state);
    const fs::path mirrorFolder = mirrorRoot / "krevo/updates";
    fs::create_directories(mirrorFolder);
    for (const char* name : {"up080307.zip", "up080308.zip"})
      fs::copy_file(fs::path(site.serverRoot / "krevo/updates") / name, mirrorFolder / name);
    InFolder(mirrorFolder.string(), c.mirror);
    OnServer(site, c.vendor);
    ftp::test::TRealFtpServer mirror(mirrorRoot.Folder(), "dos", "krevoftp", "q7wz2kp");
    const std::string mirrorName = "ftp://127.0.0.1:" + std::to_string(mirror.Port());
    const std::string vendorName = "ftp://127.0.0.1:" + std::to_string(site.Port());
    site.WriteConfig("PublicKeyFile=keys/krevo.pub\r\nSources=" + mirrorName + ", " + vendorName +
                     "\r\n");
    const RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    const std::string note = "Source " + mirrorName + " failed: " + c.reason + "; trying the next.";
    EXPECT_NE(site.Log().find(note), std::string::npos) << site.Log();
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    EXPECT_EQ(StatusOf(site)["source"], vendorName);
    if (c.exitCode == 0) {
      EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a");
      EXPECT_EQ(ReadFile(site.install / "b.txt"), "package b");
      EXPECT_TRUE(Has(State(site), "sequence 17\n")) << State(site);
    } else {
      EXPECT_NE(r.err.find("Error: The package index has expired (2020-01-01T00:00:00Z)."),
                std::string::npos)
          << r.err;
      EXPECT_FALSE(fs::exists(site.install / "a.txt"));
      EXPECT_EQ(State(site), state);
    }
  }
}

TEST_F(UpdateRunIndex, KrevoUnzipVerifiesTheIndexAsAPackage) {
  UpdateSite site;
  TempDir scratch;
  Prepare(site, scratch / "commands", 0);
  OnServer(site, "$INDEX 17 " + kFuture);
  const std::string unzip =
      fs::path(KREVO_UPDATER_PATH).parent_path().parent_path() / "tools/krevo-unzip";
  const std::string folder = site.serverRoot / "krevo/updates/";
  site.install.Write("both.pub", ReadFile(*keys_ / "k2.pub") + ReadFile(*keys_ / "k1.pub"));
  RunResult r = RunProcess({unzip, "--verify-key", site.install / "both.pub", "--signature",
                            folder + "index.minisig", folder + "index"},
                           folder);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "index: signature verified; trusted comment: timestamp:.*file:index"))
      << r.out;
  r = RunProcess({unzip, "--verify-key", *keys_ / "k2.pub", "--signature", folder + "index.minisig",
                  folder + "index"},
                 folder);
  EXPECT_EQ(r.exitCode, 1) << r.err;
}

// Release control: up080308.zip's line gains `words` in index 17, re-signed.
TEST_F(UpdateRunIndex, PhasesHoldBackAndRevokedPackagesAreNeverFetched) {
  struct Case {
    const char* what;
    const char* words;
    std::string extra;  // config.ini
    std::vector<std::string> args;
    bool install8;
    bool held;
  };
  const std::vector<Case> cases = {
      {"halted", " phase=0", "", {}, false, true},
      {"fully phased", " phase=100", "", {}, true, false},
      {"halted, in a group", " phase=0", "PhaseGroup=canaries\r\n", {}, false, true},
      {"halted, phasing off", " phase=0", "Phasing=no\r\n", {}, true, false},
      {"halted, --ignore-phasing", " phase=0", "", {"--ignore-phasing"}, true, false},
      {"revoked", " revoked", "", {}, false, false},
      {"revoked, phasing off", " phase=100 revoked", "Phasing=no\r\n", {}, false, false},
  };
  const auto index = [](const UpdateSite& site, int sequence, const std::string& words) {
    OnServer(site, "$INDEX " + std::to_string(sequence) + " " + kFuture +
                       " && sed -i '/^package up080308/s/$/" + words +
                       "/' index && minisign -S -s \"$K1\" -m index");
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    scratch.Write("machine-id", "5c2f1e0d9b8a47e6a1f3c4d5e6f70819\n");
    site.env = {"KREVO_MACHINE_ID_FILE=" + (scratch / "machine-id")};
    Prepare(site, scratch / "commands", 0, c.extra);
    index(site, 17, c.words);
    RunResult r = site.RunWith(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a");
    EXPECT_EQ(fs::exists(site.install / "b.txt"), c.install8);
    EXPECT_EQ(Has(ReadFile(scratch / "commands"), "RETR up080308"), c.install8);
    EXPECT_EQ(Has(site.Log(),
                  R"(Held back up080308\.zip: phased to 0% \(this machine: \d+(\.\d\d?)?%\)\.)"),
              c.held)
        << site.Log();
    EXPECT_EQ(Has(r.out, R"(up080308\.zip ... held back\n)"), c.held) << r.out;
    const std::string status = ReadFile(site.install / "updates-status.json");
    EXPECT_EQ(Has(status, R"("held_by_phase": \[\s*"up080308\.zip"\s*\])"), c.held) << status;
    if (!c.held) continue;
    // Raised in the next index: the machine held back takes it.
    index(site, 18, " phase=100");
    r = site.Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(site.install / "b.txt"), "package b");
    EXPECT_FALSE(Has(ReadFile(site.install / "updates-status.json"), "held_by_phase"));
  }
}

}  // namespace
}  // namespace krevo::test
