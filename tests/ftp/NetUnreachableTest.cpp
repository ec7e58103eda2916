// Which failures to open a session mean that the server could not be
// reached: a table of the family's exceptions, and the real situations.
#include <gtest/gtest.h>

#include <functional>
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

template <class E, class... A>
std::function<void()> Thrower(A... args) {
  return [=] { throw E(args...); };
}

TEST(NetUnreachable, TellsTheFailuresToReachFromTheRefusals) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    bool beforeLogin, unreachable;
  };
  const std::vector<Case> cases = {
      {"refused", Thrower<ENetSocketError>(WSAECONNREFUSED, "refused"), false, true},
      {"host not found", Thrower<ENetSocketError>(WSAHOST_NOT_FOUND, "no host"), false, true},
      {"network unreachable", Thrower<ENetSocketError>(WSAENETUNREACH, "net"), false, true},
      {"host unreachable", Thrower<ENetSocketError>(WSAEHOSTUNREACH, "host"), false, true},
      {"timed out", Thrower<ENetSocketError>(WSAETIMEDOUT, "timed out"), false, true},
      {"reset in the handshake", Thrower<ENetSocketError>(WSAECONNRESET, "reset"), false, true},
      {"timed connect", Thrower<ENetConnectException>(std::string("refused")), false, true},
      {"connect timed out", Thrower<ENetConnectTimeout>(), false, true},
      {"silent greeting", Thrower<ENetReadTimeout>(), false, true},
      {"closed before greeting", Thrower<ENetConnClosedGracefully>(), false, true},
      // The server answered, or it is no network failure at all.
      {"silent after the login began", Thrower<ENetReadTimeout>(), true, false},
      {"reset after the login began", Thrower<ENetSocketError>(WSAECONNRESET, "r"), true, false},
      {"login refused", Thrower<ENetProtocolReplyError>(530, "Login incorrect."), false, false},
      {"no socket", Thrower<ENetSocketError>(10024, "too many files"), false, false},
      {"certificate", Thrower<ENetTLSCertificateError>(62L, "hostname mismatch"), false, false},
      {"TLS", Thrower<ENetTLSError>(std::string("TLS error: bad record")), false, false},
      {"stopped", Thrower<ENetOperationAborted>(), false, false},
      {"too long", Thrower<ENetTransferTooLong>(std::int64_t{10}), false, false},
      {"other", Thrower<std::runtime_error>("other"), false, false},
  };
  for (const Case& c : cases) {
    try {
      c.raise();
    } catch (const std::exception& e) {
      EXPECT_EQ(IsUnreachable(e, c.beforeLogin), c.unreachable) << c.what;
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
