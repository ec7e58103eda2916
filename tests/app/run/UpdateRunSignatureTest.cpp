// Signed packages through the whole run: the built krevo-updater in console
// mode against a real FTP server, packages made by Info-ZIP zip and signed by
// the minisign tool at test time, then tampered with as a hostile server or a
// man in the middle would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/app/support/SigningKeys.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;

// Two key pairs, made once for the suite: k1 is the one the updater trusts.
class UpdateRunSignature : public SigningKeysTest {
 protected:
  // Runs `script` in the server's package folder, $K1 and $K2 naming the
  // secret keys.
  static void OnServer(const UpdateSite& site, const std::string& script) {
    RunResult r =
        RunProcess({"/bin/sh", "-c",
                    "K1='" + (*keys_ / "k1.key") + "' K2='" + (*keys_ / "k2.key") + "'; " + script},
                   site.serverRoot / "krevo/updates");
    if (r.exitCode != 0) throw std::runtime_error(script + ": " + r.err);
  }

  // Two packages: up080307.zip (a.txt), which each case signs or tampers
  // with, and up080308.zip (next.txt), validly signed; a log dated 2005; the
  // server recording the commands; config.ini trusting k1 through the file
  // keys/krevo.pub beside the updater.
  static void Prepare(UpdateSite& site, const std::string& commandLog) {
    site.AddPackage("080307", {{"a.txt", "package a", LocalTime(2008, 3, 7)}});
    site.AddPackage("080308", {{"next.txt", "next", LocalTime(2008, 3, 8)}});
    OnServer(site, "minisign -S -s \"$K1\" -m up080308.zip");
    site.install.Write("updates.log", "earlier\r\n");
    SetModified(site.install / "updates.log", LocalTime(2005, 5, 5));
    site.RestartServer({"--command-log", commandLog});
    fs::create_directories(site.install / "keys");
    fs::copy_file(*keys_ / "k1.pub", site.install / "keys/krevo.pub");
    site.WriteConfig("PublicKeyFile=keys/krevo.pub\r\n");
  }
};

bool HasLine(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

TEST_F(UpdateRunSignature, OnlyAPackageThatVerifiesIsInstalledAndTheRunGoesOn) {
  struct Case {
    const char* what;
    const char* script;  // signs or tampers with up080307.zip on the server
    const char* ending;  // of its list line
    const char* error;   // the dialog's line on standard error; "": none
  };
  const char* const kBad = "Error: Refused to install up080307.zip: bad signature: ";
  const std::vector<Case> cases = {
      {"ED", "minisign -S -s \"$K1\" -m up080307.zip", "complete", ""},
      {"legacy Ed", "minisign -S -l -s \"$K1\" -m up080307.zip", "complete", ""},
      {"unsigned", ":", "not signed",
       "Error: Refused to install up080307.zip: it is not signed; the server has no "
       "up080307.zip.minisig: "},
      {"a byte changed after signing",
       "minisign -S -s \"$K1\" -m up080307.zip"
       " && printf '\\377' | dd of=up080307.zip bs=1 seek=40 conv=notrunc 2>/dev/null",
       "bad signature", "the file is not the one that was signed."},
      {"legacy, a byte changed after signing",
       "minisign -S -l -s \"$K1\" -m up080307.zip"
       " && printf '\\377' | dd of=up080307.zip bs=1 seek=40 conv=notrunc 2>/dev/null",
       "bad signature", "the file is not the one that was signed."},
      {"another file's signature renamed", "cp up080308.zip.minisig up080307.zip.minisig",
       "bad signature", "the file is not the one that was signed."},
      {"another key", "minisign -S -s \"$K2\" -m up080307.zip", "bad signature",
       "it was made with another key."},
      {"trusted comment naming another file",
       "minisign -S -s \"$K1\" -m up080307.zip -t 'timestamp:1\tfile:up080308.zip'",
       "bad signature", "it was made for another file name."},
      {"trusted comment changed after signing",
       "minisign -S -s \"$K1\" -m up080307.zip"
       " && sed -i '3s/$/x/' up080307.zip.minisig",
       "bad signature", "its trusted comment is not the one that was signed."},
      {"truncated",
       "minisign -S -s \"$K1\" -m up080307.zip"
       " && head -c 150 up080307.zip.minisig > s && mv s up080307.zip.minisig",
       "bad signature", "the signature file is malformed: "},
      {"garbled",
       "minisign -S -s \"$K1\" -m up080307.zip && sed -i '2s/^../!!/' up080307.zip.minisig",
       "bad signature", "the signature file is malformed: "},
      {"empty", ": > up080307.zip.minisig", "bad signature", "the signature file is malformed: "},
      // The untrusted comment is not signed: only the size is wrong.
      {"a valid signature past 4 KiB",
       "minisign -S -s \"$K1\" -m up080307.zip"
       " && sed -i \"1s/$/$(head -c 4000 /dev/zero | tr '\\0' x)/\" up080307.zip.minisig",
       "bad signature", "up080307.zip.minisig is larger than 4096 bytes."},
      {"8 MiB of noise", "head -c 8388608 /dev/urandom > up080307.zip.minisig", "bad signature",
       "up080307.zip.minisig is larger than 4096 bytes."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands");
    OnServer(site, c.script);
    RunResult r = site.Run();
    const bool valid = c.ending == std::string("complete");
    EXPECT_EQ(r.exitCode, valid ? 0 : 4) << r.err;
    EXPECT_TRUE(HasLine(r.out, std::string(R"(up080307\.zip ... )") + c.ending + "\n")) << r.out;
    EXPECT_EQ(fs::exists(site.install / "a.txt"), valid);
    EXPECT_EQ(Modified(site.install / "updates.log") == LocalTime(2005, 5, 5), !valid);
    if (!valid) {
      const std::string error = std::string(c.error).starts_with("Error: ")
                                    ? std::string(c.error)
                                    : std::string(kBad) + c.error;
      EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
    }
    // The session is still in step: the next package is fetched, checked and
    // installed after whatever the first one's signature did.
    EXPECT_TRUE(HasLine(r.out, R"(up080308\.zip ... complete\n)")) << r.out;
    EXPECT_EQ(ReadFile(site.install / "next.txt"), "next");
    // Each signature is asked for right after its package, in the same session.
    const std::string commands = ReadFile(scratch / "commands");
    EXPECT_TRUE(HasLine(commands, "RETR up080307\\.zip\nPASV\nRETR up080307\\.zip\\.minisig\n"))
        << commands;
  }
}

TEST_F(UpdateRunSignature, TheKeyLineInConfigIniIsTrustedLikeTheFile) {
  UpdateSite site;
  TempDir scratch;
  Prepare(site, scratch / "commands");
  OnServer(site, "minisign -S -s \"$K1\" -m up080307.zip");
  site.WriteConfig("PublicKey=" + KeyLine() + "\r\n");
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a");
  // The line wins over a file that names another key.
  fs::remove(site.install / "a.txt");
  fs::remove(site.install / "next.txt");
  fs::copy_file(*keys_ / "k2.pub", site.install / "other.pub");
  site.WriteConfig("PublicKey=" + KeyLine() + "\r\nPublicKeyFile=other.pub\r\n");
  r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(UpdateRunSignature, WithoutAKeyAnUnsignedPackageInstallsAndNoSignatureIsAskedFor) {
  UpdateSite site;
  TempDir scratch;
  Prepare(site, scratch / "commands");
  site.WriteConfig();
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, R"(up080307\.zip ... complete\n)")) << r.out;
  EXPECT_EQ(ReadFile(site.install / "a.txt"), "package a");
  const std::string commands = ReadFile(scratch / "commands");
  EXPECT_NE(commands.find("RETR up080307.zip\n"), std::string::npos) << commands;
  EXPECT_EQ(commands.find(".minisig"), std::string::npos) << commands;
}

TEST_F(UpdateRunSignature, AKeyThatCannotBeReadStopsTheRunBeforeTheServerIsContacted) {
  struct Case {
    const char* config;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"PublicKey=RWQnotakey", ": PublicKey in config.ini: The public key is not a minisign"},
      {"PublicKeyFile=missing.pub", "missing.pub: No such file or directory"},
      {"PublicKeyFile=/", ": PublicKeyFile /: Is a directory"},
      {"PublicKeyFile=k2.key", "k2.key: The public key is not a minisign public key"},
      {"PublicKey=RWQnotakey, RWQalso", ": PublicKey in config.ini: Key 1: The public key is not"},
      {"PublicKeyFile=two.pub", "two.pub: Key 2: The public key is not a minisign public key"},
      {"RequireIndex=yes", "RequireIndex=yes in config.ini needs a public key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    UpdateSite site;
    TempDir scratch;
    Prepare(site, scratch / "commands");
    fs::copy_file(*keys_ / "k2.key", site.install / "k2.key");
    site.install.Write("two.pub", ReadFile(*keys_ / "k1.pub") + "untrusted comment: x\nRWQ\n");
    site.WriteConfig(std::string(c.config) + "\r\n");
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(site.install / "a.txt"));
    EXPECT_EQ(Modified(site.install / "updates.log"), LocalTime(2005, 5, 5));
    EXPECT_FALSE(fs::exists(scratch / "commands")) << ReadFile(scratch / "commands");
  }
}

}  // namespace
}  // namespace krevo::test
