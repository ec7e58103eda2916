// Explicit FTPS against real TLS servers (pyftpdlib, vsftpd) with
// certificates made for the test, and the scripted server for the faults.
#include <gtest/gtest.h>
#include <net/if.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp/NetFTP.h"
#include "ftp/NetStack.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/TlsTestSite.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using test::Caught;
using test::TTempFolder;

class NetFTPTLS : public ::testing::Test {
 protected:
  NetFTPTLS() {
    // Two packages past one TLS record and one receive buffer each.
    site.WriteFile("krevo/updates/up240101.zip", std::string(200000, 'a') + "end1");
    site.WriteFile("krevo/updates/up240102.zip", std::string(70001, 'b'));
  }
  static test::TTestCertificates& Certs() {
    static test::TTestCertificates certs;
    return certs;
  }
  void Configure(TNetFTP& ftp, int port, const std::string& host = "localhost") {
    test::ConfigureAsUpdater(ftp, port);
    ftp.SetHost(host);
    ftp.Security = fsTLS;
    ftp.CAFile = Certs().CA();
  }
  // The updater's session: listing, then both packages in one session (the
  // second data connection resumes the session again).
  void RunUpdaterSession(TNetFTP& ftp) {
    std::vector<std::string> status;
    ftp.OnStatus = [&](TNetComponent*, TNetStatus, const std::string& text) {
      status.push_back(text);
    };
    ftp.OpenSession(true, -1);
    ftp.EnterDirectory("krevo");
    ftp.EnterDirectory("updates");
    base::TStringList lines;
    ftp.FetchListing(&lines, "up*.zip", true);
    EXPECT_EQ(lines.Count(), 2);
    for (const char* name : {"up240101.zip", "up240102.zip"}) {
      std::filesystem::remove(local.Path() + "/" + name);
      ftp.RetrieveFile(name, local.Path() + "/" + name, true, true);
    }
    ftp.CloseSession();
    EXPECT_EQ(local.ReadFile("up240101.zip"), site.ReadFile("krevo/updates/up240101.zip"));
    EXPECT_EQ(local.ReadFile("up240102.zip"), site.ReadFile("krevo/updates/up240102.zip"));
    int reused = 0;
    for (const auto& s : status) reused += s.find("session reused") != std::string::npos;
    EXPECT_EQ(reused, 3) << "every data connection resumes the control session";
  }
  // The updater's session with the server on `port`, which must negotiate
  // TLS `version` ("1.2", "1.3").
  void RunUpdaterSessionAt(int port, const std::string& version) {
    TNetFTP ftp;
    Configure(ftp, port);
    std::string seen;
    ftp.OnAfterClientLogin = [&](TNetComponent*) { seen = ftp.TLSDescription(); };
    RunUpdaterSession(ftp);
    EXPECT_EQ(seen.rfind("TLSv" + version + ",", 0), 0u) << seen;
  }
  TTempFolder site, local;
};

TEST_F(NetFTPTLS, TheUpdatersSessionWorksWithTls12AndTls13) {
  for (const std::string version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    test::TTlsFtpServer server(site.Path(), Certs(), "good", version);
    RunUpdaterSessionAt(server.Port(), version);
  }
}

TEST_F(NetFTPTLS, AnAddressLiteralIsCheckedAsAnAddress) {
  test::TTlsFtpServer server(site.Path(), Certs());
  TNetFTP ftp;
  Configure(ftp, server.Port(), "127.0.0.1");
  RunUpdaterSession(ftp);
}

TEST_F(NetFTPTLS, RefusedCertificatesNameTheirReason) {
  struct Case {
    std::string cert, host, reason;
  };
  const std::vector<Case> cases = {
      {"untrusted", "localhost", "self-signed certificate"},
      {"wronghost", "localhost", "hostname mismatch"},
      {"expired", "localhost", "certificate has expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cert + " " + c.host);
    test::TTlsFtpServer server(site.Path(), Certs(), c.cert);
    TNetFTP ftp;
    Configure(ftp, server.Port(), c.host);
    auto e = Caught<ENetTLSCertificateError>([&] { ftp.OpenSession(true, -1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(std::string(e->what()), "The server's certificate was refused: " + c.reason);
    EXPECT_FALSE(ftp.IsLinkOpen());
  }
  // Without the check (krevo-ftp -k) the same server is taken.
  test::TTlsFtpServer server(site.Path(), Certs(), "untrusted");
  TNetFTP ftp;
  Configure(ftp, server.Port());
  ftp.VerifyCertificate = false;
  ftp.OpenSession(true, -1);
  ftp.CloseSession();
}

TEST_F(NetFTPTLS, AFileLongerThanItsBoundIsCutAndTheSessionGoesOn) {
  test::TTlsFtpServer server(site.Path(), Certs());
  TNetFTP ftp;
  Configure(ftp, server.Port());
  ftp.OpenSession(true, -1);
  ftp.EnterDirectory("krevo");
  ftp.EnterDirectory("updates");
  base::TMemoryStream cut, whole;
  EXPECT_THROW(ftp.RetrieveIntoStream("up240101.zip", cut, false, 1000), ENetTransferTooLong);
  EXPECT_EQ(cut.Size(), 1000);
  ftp.RetrieveIntoStream("up240102.zip", whole, false, 70001);
  EXPECT_EQ(whole.AsString(), site.ReadFile("krevo/updates/up240102.zip"));
  ftp.CloseSession();
}

TEST_F(NetFTPTLS, AZonedAddressIsCheckedAsTheAddressWithoutItsZone) {
  const unsigned loopback = ::if_nametoindex("lo");
  if (!test::HaveIPv6Loopback() || loopback == 0) GTEST_SKIP() << "no IPv6 loopback";
  // A link-local server is reached through its zone; the certificate names
  // the address alone.
  const std::string zoned = "::1%" + std::to_string(loopback);
  {
    test::TTlsFtpServer server(site.Path(), Certs(), "loopback6", "any", "::1");
    TNetFTP ftp;
    Configure(ftp, server.Port(), zoned);
    RunUpdaterSession(ftp);
  }
  // A certificate of the same CA for other addresses is refused.
  test::TTlsFtpServer server(site.Path(), Certs(), "good", "any", "::1");
  TNetFTP ftp;
  Configure(ftp, server.Port(), zoned);
  auto e = Caught<ENetTLSCertificateError>([&] { ftp.OpenSession(true, -1); });
  ASSERT_TRUE(e);
  EXPECT_EQ(std::string(e->what()), "The server's certificate was refused: IP address mismatch");
  EXPECT_FALSE(ftp.IsLinkOpen());
}

TEST_F(NetFTPTLS, AHostThatCannotBeTheIdentityEndsTheSessionBeforeTheHandshake) {
  // Each connects (the resolver reads up to the NUL), but no certificate
  // could be checked against it.
  test::TTlsFtpServer server(site.Path(), Certs());
  for (const std::string& host :
       {std::string("localhost\0.example", 18), std::string("127.0.0.1\0", 10)}) {
    TNetFTP ftp;
    Configure(ftp, server.Port(), host);
    std::string message = "no exception";
    try {
      ftp.OpenSession(true, -1);
    } catch (const ENetTLSCertificateError& e) {
      message = std::string("a certificate check: ") + e.what();
    } catch (const ENetTLSError& e) {
      message = e.what();
    }
    std::string shown = host;
    shown[shown.find('\0')] = '?';
    EXPECT_EQ(message,
              "Cannot check the server's identity: \"" + shown + "\" is no host name or address");
    EXPECT_FALSE(ftp.IsLinkOpen());
  }
}

TEST_F(NetFTPTLS, AMissingCAFileIsReportedBeforeAnythingIsSent) {
  TNetFTP ftp;
  Configure(ftp, 1);
  ftp.CAFile = local.Path() + "/none.pem";
  auto e = Caught<ENetTLSError>([&] { ftp.OpenSession(true, -1); });
  ASSERT_TRUE(e);
  EXPECT_NE(std::string(e->what()).find("Cannot load the trusted certificates (" + ftp.CAFile),
            std::string::npos);
}

TEST_F(NetFTPTLS, VsftpdWithItsSecureDefaultsAcceptsTheResumedSessionsOfBothVersions) {
  // vsftpd serves as the account, which must be able to read the site.
  std::filesystem::permissions(site.Path(), std::filesystem::perms::all,
                               std::filesystem::perm_options::add);
  for (const std::string version : {"1.2", "1.3"}) {
    SCOPED_TRACE(version);
    test::TVsftpdServer server(site.Path(), Certs(), version == "1.2" ? "1.2" : "");
    if (!server.Usable()) GTEST_SKIP() << server.WhyNot();
    RunUpdaterSessionAt(server.Port(), version);
  }
}

class NetFTPTLSScripted : public ::testing::Test {
 protected:
  std::vector<std::string> Run(const std::string& scenario,
                               const std::function<void(TNetFTP&)>& check) {
    const std::string transcript = folder.Path() + "/" + scenario + ".txt";
    auto server = std::make_unique<test::TFakeFtpServer>(scenario, transcript);
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server->Port());
    ftp.Security = fsTLS;
    check(ftp);
    ftp.CloseSession();
    server.reset();
    return folder.ReadLines(scenario + ".txt");
  }
  TTempFolder folder;
};

TEST_F(NetFTPTLSScripted, NothingButAuthTlsGoesOutInClear) {
  auto refused = Run("auth-refused", [](TNetFTP& ftp) {
    auto e = Caught<ENetProtocolReplyError>([&] { ftp.OpenSession(true, -1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ReplyCode, 500);
    EXPECT_EQ(std::string(e->what()), "The server refused TLS: AUTH not understood.\r\n");
  });
  EXPECT_EQ(refused, std::vector<std::string>{"AUTH TLS"});

  auto forged = Run("auth-then-clear-text", [](TNetFTP& ftp) {
    auto e = Caught<ENetTLSError>([&] { ftp.OpenSession(true, -1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(std::string(e->what()), "The server sent data before the TLS handshake.");
  });
  EXPECT_EQ(forged, std::vector<std::string>{"AUTH TLS"});
}

TEST_F(NetFTPTLSScripted, AServerThatHangsUpInTheHandshakeIsASocketError) {
  Run("auth-then-hangup", [](TNetFTP& ftp) {
    auto e = Caught<ENetSocketError>([&] { ftp.OpenSession(true, -1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorNumber, WSAECONNRESET);
  });
}

}  // namespace
}  // namespace krevo::ftp
