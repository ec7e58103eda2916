// The updater over FTPS: Security=tls with the test's CA in CAFile.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/support/UpdateSite.h"
#include "tests/ftp/TlsTestSite.h"

namespace krevo::test {
namespace {

ftp::test::TTestCertificates& Certs() {
  static ftp::test::TTestCertificates certs;
  return certs;
}

// Security=tls, or an ftps:// source (after a plain one that the TLS server
// refuses to serve in clear).
TEST(UpdateRunTls, APackageIsInstalledOverTls) {
  for (const bool sources : {false, true}) {
    SCOPED_TRACE(sources ? "Sources" : "Security");
    UpdateSite site;
    site.AddPackage("240101", {{"doc/readme.txt", "over TLS", LocalTime(2024, 1, 1)}});
    site.RestartServer({"--tls", Certs().Cert("good"), Certs().Key("good")});
    const std::string server = "127.0.0.1:" + std::to_string(site.Port());
    site.WriteConfig(
        (sources ? "Sources=ftp://" + server + ", ftps://" + server + "\r\n" : "Security=tls\r\n") +
        "CAFile=" + Certs().CA() + "\r\n");
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(site.install / "doc/readme.txt"), "over TLS");
    EXPECT_NE(ReadFile(site.install / "updates-status.json").find("\"ftps://" + server + "\""),
              std::string::npos);
  }
}

TEST(UpdateRunTls, ARefusedCertificateEndsTheRunWithItsReason) {
  struct Case {
    std::string cert, extra, reason;
  };
  const std::vector<Case> cases = {
      {"untrusted", "", "self-signed certificate"},
      {"wronghost", "", "IP address mismatch"},  // Host=127.0.0.1 is checked as an address
      {"expired", "", "certificate has expired"},
      // The system's store does not know the test's CA.
      {"good", "none", "unable to get local issuer certificate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cert + c.extra);
    UpdateSite site;
    site.AddPackage("240101", {{"a.txt", "x", LocalTime(2024, 1, 1)}});
    site.RestartServer({"--tls", Certs().Cert(c.cert), Certs().Key(c.cert)});
    site.WriteConfig("Security=TLS\r\n" +
                     (c.extra.empty() ? "CAFile=" + Certs().CA() + "\r\n" : ""));
    site.install.Write("updates.log", "");
    const std::time_t before = LocalTime(2020, 5, 5);
    SetModified(site.install / "updates.log", before);
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("The server's certificate was refused: " + c.reason), std::string::npos)
        << r.err;
    EXPECT_EQ(Modified(site.install / "updates.log"), before)
        << "the date of the last update stays";
    EXPECT_FALSE(std::filesystem::exists(site.install / "a.txt"));
  }
}

// A relative CAFile is the one beside the updater, never one in the folder
// that whoever starts it stands in.
TEST(UpdateRunTls, ARelativeCAFileIsReadFromTheUpdatersFolder) {
  for (const bool besideTheUpdater : {true, false}) {
    SCOPED_TRACE(besideTheUpdater ? "beside the updater" : "in the current folder");
    UpdateSite site;
    site.AddPackage("240101", {{"a.txt", "x", LocalTime(2024, 1, 1)}});
    site.RestartServer({"--tls", Certs().Cert("good"), Certs().Key("good")});
    site.WriteConfig("Security=tls\r\nCAFile=ca.pem\r\n");
    TempDir elsewhere;
    std::filesystem::copy_file(Certs().CA(),
                               besideTheUpdater ? site.install / "ca.pem" : elsewhere / "ca.pem");
    site.runFolder = elsewhere.Folder();
    RunResult r = site.Run();
    EXPECT_EQ(r.exitCode, besideTheUpdater ? 0 : 1) << r.err;
    EXPECT_EQ(std::filesystem::exists(site.install / "a.txt"), besideTheUpdater);
    if (!besideTheUpdater) {
      EXPECT_NE(r.err.find(site.install / "ca.pem"), std::string::npos) << r.err;
    }
  }
}

TEST(UpdateRunTls, SecurityNoneAgainstATlsServerSendsNoPasswordAndFails) {
  UpdateSite site;
  site.RestartServer({"--tls", Certs().Cert("good"), Certs().Key("good")});
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("SSL/TLS required"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace krevo::test
