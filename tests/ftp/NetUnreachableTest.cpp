// Which failures to open a session mean that the server could not be
// reached: a table of the family's exceptions, and the real situations.
#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ftp/NetFTP.h"
#include "ftp/NetStack.h"
#include "ftp/NetUnreachable.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/ScriptedPeer.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

TEST(NetUnreachable, TellsTheFailuresToReachFromTheRefusals) {
  struct Case {
    const char* what;
    std::exception_ptr failure;
    bool reachedLogin, unreachable;
  };
  const std::vector<Case> cases = {
      {"host not found", std::make_exception_ptr(ENetSocketError(WSAHOST_NOT_FOUND, "")), false,
       true},
      {"network unreachable", std::make_exception_ptr(ENetSocketError(WSAENETUNREACH, "")), false,
       true},
      {"connect timed out", std::make_exception_ptr(ENetConnectTimeout()), false, true},
      // A server that answered, or no failure of the network at all.
      {"silent after the greeting", std::make_exception_ptr(ENetReadTimeout()), true, false},
      {"too many files", std::make_exception_ptr(ENetSocketError(10024, "")), false, false},
      {"certificate", std::make_exception_ptr(ENetTLSCertificateError(62, "")), false, false},
      {"stopped", std::make_exception_ptr(ENetOperationAborted()), false, false},
      {"other", std::make_exception_ptr(std::runtime_error("other")), false, false},
  };
  for (const Case& c : cases) {
    try {
      std::rethrow_exception(c.failure);
    } catch (const std::exception& e) {
      EXPECT_EQ(IsUnreachable(e, c.reachedLogin), c.unreachable) << c.what;
    }
  }
}

TEST(NetUnreachable, TheRealFailuresOfOpenSession) {
  test::TTempFolder folder;
  test::TRealFtpServer real(folder.Path());
  auto silent = std::make_unique<test::TFakeFtpServer>("silent", folder.Path() + "/t.txt");
  auto tlsHangUp =
      std::make_unique<test::TFakeFtpServer>("auth-then-hangup", folder.Path() + "/u.txt");
  auto tlsRefused =
      std::make_unique<test::TFakeFtpServer>("auth-refused", folder.Path() + "/v.txt");
  test::TScriptedPeer hangUp([](test::TPeerConnection& c, int) { c.Close(); });
  struct Case {
    const char* what;
    int port;
    std::string password;
    bool tls, unreachable;
  };
  const std::vector<Case> cases = {
      {"closed port", test::UnusedPort(), "q7wz2kp", false, true},
      {"no greeting", silent->Port(), "q7wz2kp", false, true},
      {"hang-up before the greeting", hangUp.Port(), "q7wz2kp", false, true},
      {"hang-up in the TLS handshake", tlsHangUp->Port(), "q7wz2kp", true, true},
      {"TLS refused", tlsRefused->Port(), "q7wz2kp", true, false},
      {"login refused", real.Port(), "wrong", false, false},
  };
  for (const Case& c : cases) {
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, c.port);
    ftp.Password = c.password;
    if (c.tls) ftp.Security = fsTLS;
    ftp.ReadTimeout = ftp.ConnectTimeout = 500;
    try {
      ftp.OpenSession(true, -1);
      ADD_FAILURE() << c.what << ": no failure";
    } catch (const std::exception& e) {
      EXPECT_EQ(IsUnreachable(e, ftp.ReachedLogin()), c.unreachable) << c.what << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace krevo::ftp
