// Several update sources through the whole run: sources that are down,
// refuse the login or fail the listing before one that works, and a local
// folder as a stick or a share holds it, with and without a key.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "base/FileDescriptor.h"
#include "tests/app/support/SigningKeys.h"
#include "tests/app/support/UpdateSite.h"

namespace krevo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Ftp(int port) {
  return "ftp://127.0.0.1:" + std::to_string(port);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

TEST(UpdateRunSources, AFailingSourceIsPassedForTheNextAndTheLastOneEndsTheRun) {
  // A server that refuses the updater's password, and one whose listing
  // never fits the bound.
  TempDir refusingRoot;
  fs::create_directories(refusingRoot / "krevo/updates");
  ftp::test::TRealFtpServer refusing(refusingRoot.Folder(), "dos", "krevoftp", "not the password");
  TempDir scratch;
  ftp::test::TFakeFtpServer endless("listing-past-line-bound", scratch / "transcript");
  const std::string down = Ftp(FreePort()), refuses = Ftp(refusing.Port()),
                    overlong = Ftp(endless.Port());
  struct Case {
    const char* what;
    std::vector<std::string> sources;  // "" is the site's own, working server
    int exitStatus;
    const char* outcome;
    std::size_t used;  // the source the status names
  };
  const std::vector<Case> cases = {
      {"down, refusing, overlong listing, then working",
       {down, refuses, overlong, ""},
       0,
       "updated",
       3},
      {"none works, the last one down", {refuses, down}, 3, "unreachable", 1},
      {"none works, the last one refusing", {down, refuses}, 1, "error", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    site.AddPackage("090101", {{"a.txt", "from the vendor", LocalTime(2009, 1, 1)}});
    std::vector<std::string> sources;
    for (const std::string& s : c.sources) sources.push_back(s.empty() ? Ftp(site.Port()) : s);
    std::string value;
    for (const std::string& s : sources) value += (value.empty() ? "" : " , ") + s;
    site.WriteConfig("Sources=" + value + "\r\n");
    const RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, c.exitStatus) << r.err;
    EXPECT_EQ(fs::exists(site.install / "a.txt"), c.exitStatus == 0);
    // Every source before the one the run ended with is said, in order, in
    // the log and on standard error.
    std::size_t at = 0;
    for (std::size_t i = 0; i < c.used; ++i) {
      const std::string note = "Source " + sources[i] + " failed: ";
      at = site.Log().find(note, at);
      EXPECT_NE(at, std::string::npos) << note << "\n" << site.Log();
      EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    }
    EXPECT_EQ(Count(site.Log(), "; trying the next.\r\n"), c.used) << site.Log();
    const json s = StatusOf(site);
    EXPECT_EQ(s["outcome"], c.outcome);
    EXPECT_EQ(s["source"], sources[c.used]);
  }
}

// A folder as a USB stick holds it: the packages themselves, no krevo/updates.
class UpdateRunFolder : public SigningKeysTest {
 protected:
  static void Sign(const std::string& package) {
    RunResult r = RunProcess(
        {"/bin/sh", "-c", "minisign -S -s \"$0\" -m \"$1\" >/dev/null", *keys_ / "k1.key", package},
        "/");
    if (r.exitCode != 0) throw std::runtime_error("minisign: " + r.err);
  }
  static std::string KeyFile() { return *keys_ / "k1.pub"; }
};

TEST_F(UpdateRunFolder, PackagesMustVerifyUnlessTheFolderIsAllowedUnsigned) {
  struct Case {
    const char* what;
    bool key, allowUnsigned, tamper;
    int exitStatus;
    const char* ending;  // of the package's line; "": none listed
  };
  const std::vector<Case> cases = {
      {"signed, with the key", true, false, false, 0, "complete"},
      {"changed after signing", true, false, true, 4, "bad signature"},
      {"no key, AllowUnsignedFolder=yes", false, true, false, 0, "complete"},
      {"no key", false, false, false, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateSite site;
    const std::string package =
        site.AddPackage("090101", {{"a.txt", "from the stick", LocalTime(2009, 1, 1)}});
    Sign(package);
    if (c.tamper) {
      std::string bytes = ReadFile(package);
      bytes[40] = static_cast<char>(bytes[40] ^ 0xff);
      site.serverRoot.Write("krevo/updates/up090101.zip", bytes);
    }
    const std::string folder = site.serverRoot / "krevo/updates";
    // The site's server comes second and keeps a record of what it is asked.
    const std::string commands = site.tmp / "commands";
    site.RestartServer({"--command-log", commands});
    site.WriteConfig("Sources=file://" + folder + "/, " + Ftp(site.Port()) + "\r\n" +
                     (c.key ? "PublicKeyFile=" + KeyFile() + "\r\n" : "") +
                     (c.allowUnsigned ? "AllowUnsignedFolder=yes\r\n" : ""));
    const RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, c.exitStatus) << r.err;
    EXPECT_EQ(fs::exists(site.install / "a.txt"), c.exitStatus == 0);
    EXPECT_FALSE(fs::exists(commands)) << "the folder serves the run alone";
    if (*c.ending) {
      EXPECT_NE(r.out.find("up090101.zip ... " + std::string(c.ending) + "\n"), std::string::npos)
          << r.out;
      EXPECT_EQ(StatusOf(site)["source"], "file://" + folder);
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find("may serve unsigned packages only with AllowUnsignedFolder=yes"),
                std::string::npos)
          << r.err;
    }
  }
}

// What someone who can write the folder may plant: links to packages and
// signatures that verify, a FIFO that would hold a reader for ever, a
// folder; none of them is followed or opened.
TEST_F(UpdateRunFolder, NothingPlantedInTheFolderIsFollowed) {
  UpdateSite site;
  TempDir stick, elsewhere;
  const std::string outside =
      site.AddPackage("090102", {{"planted.txt", "planted", LocalTime(2009, 1, 2)}});
  Sign(outside);
  const std::string own = site.AddPackage("090101", {{"a.txt", "own", LocalTime(2009, 1, 1)}});
  Sign(own);
  fs::copy_file(own, stick / "up090101.zip");
  // Its signature is real, but reached only through a link.
  fs::create_symlink(own + ".minisig", stick / "up090101.zip.minisig");
  fs::create_symlink(outside, stick / "up090102.zip");
  fs::copy_file(outside + ".minisig", stick / "up090102.zip.minisig");
  ASSERT_EQ(::mkfifo((stick / "up090103.zip").c_str(), 0644), 0);
  fs::create_directory(stick / "up090104.zip");
  site.WriteConfig("Sources=file://" + stick.Folder() + "\r\nPublicKeyFile=" + KeyFile() + "\r\n");
  const RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_NE(r.out.find("up090101.zip ... bad signature\n"), std::string::npos) << r.out;
  for (const char* planted : {"up090102", "up090103", "up090104"})
    EXPECT_EQ(r.out.find(planted), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("up090101.zip.minisig is not a regular file"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(site.install / "a.txt"));
  EXPECT_FALSE(fs::exists(site.install / "planted.txt"));
}

}  // namespace
}  // namespace krevo::test
