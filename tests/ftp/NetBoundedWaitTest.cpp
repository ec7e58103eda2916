// Waits that end: a connect that never completes gives up after its limit, on
// the control and the passive data connection; an abort descriptor ends every
// wait at once, a busy transfer included; both connections keep alive.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>

#include "base/FileDescriptor.h"
#include "ftp/NetFTP.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/ScriptedPeer.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using Clock = std::chrono::steady_clock;

// A port on 127.0.0.1 where a connect never completes: the listener's queue
// (backlog 0) is filled by one connection nobody accepts, so further SYNs are
// dropped and a connect waits until its own limit.
class TFullBacklog final {
 public:
  TFullBacklog() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_.get(), 0) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("cannot listen");
    port_ = ntohs(a.sin_port);
    filler_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(filler_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("cannot fill the backlog");
  }
  int Port() const { return port_; }

 private:
  base::UniqueFd listener_;
  base::UniqueFd filler_;
  int port_ = 0;
};

// Answers the updater's login and directory commands; PASV points at
// `dataPort`. Then waits until the client hangs up.
void ServeUntilPasv(test::TPeerConnection& c, int dataPort) {
  c.Send("220 ready\r\n");
  while (true) {
    const std::string line = c.ReadLine();
    if (line.empty()) return;
    const std::string verb = line.substr(0, 4);
    if (verb == "USER")
      c.Send("331 password\r\n");
    else if (verb == "PASS")
      c.Send("230 in\r\n");
    else if (verb == "TYPE")
      c.Send("200 type\r\n");
    else if (verb == "SYST")
      c.Send("215 UNIX\r\n");
    else if (verb == "CWD ")
      c.Send("250 ok\r\n");
    else if (verb == "REST")
      c.Send("350 ok\r\n");
    else if (verb == "PASV") {
      c.Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort >> 8) + "," +
             std::to_string(dataPort & 255) + ")\r\n");
      c.ReadAll();
      return;
    } else
      c.Send("502 no\r\n");
  }
}

struct TOutcome {
  std::string type;
  std::string message;
  double seconds = 0;
};

TOutcome Attempt(const std::function<void()>& step) {
  const auto start = Clock::now();
  TOutcome outcome;
  try {
    step();
    outcome.type = "none";
  } catch (const ENetException& e) {
    outcome.type = typeid(e).name();
    outcome.message = e.what();
  }
  outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return outcome;
}

TEST(NetBoundedWaits, AConnectThatNeverCompletesTimesOut) {
  TFullBacklog nowhere;
  {
    SCOPED_TRACE("control connection");
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, nowhere.Port());
    ftp.ConnectTimeout = 500;
    const TOutcome o = Attempt([&] { ftp.OpenSession(true, -1); });
    EXPECT_EQ(o.type, typeid(ENetConnectTimeout).name());
    EXPECT_EQ(o.message, "Connect timed out.");
    EXPECT_LT(o.seconds, 3.0);
    EXPECT_FALSE(ftp.IsLinkOpen());
  }
  {
    SCOPED_TRACE("passive data connection");
    test::TScriptedPeer server(
        [&](test::TPeerConnection& c, int) { ServeUntilPasv(c, nowhere.Port()); });
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server.Port());
    ftp.ConnectTimeout = 500;
    base::TMemoryStream stream;
    const TOutcome o = Attempt([&] {
      ftp.OpenSession(true, -1);
      ftp.RetrieveIntoStream("up080101.zip", stream, false);
    });
    EXPECT_EQ(o.type, typeid(ENetConnectTimeout).name());
    EXPECT_LT(o.seconds, 3.0);
    EXPECT_EQ(ftp.TransferLink(), nullptr);
    ftp.CloseSession();
    EXPECT_EQ(server.Join(), "");
  }
}

// ReadTimeout bounds a whole reply, not only the silence between its lines:
// a greeting dripped a line at a time, each just inside the limit, ends once
// the limit has passed since the reply began; one that comes in time does not,
// and every reply of the session gets the limit afresh.
TEST(NetBoundedWaits, AReplyMustComeWholeWithinReadTimeout) {
  const struct {
    const char* name;
    int lines;
    int gapMs;
    bool timesOut;
  } cases[] = {
      {"dripped past the limit", 12, 150, true},
      {"whole within the limit", 3, 100, false},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    test::TScriptedPeer server([&](test::TPeerConnection& c, int) {
      for (int i = 0; i < tc.lines; ++i) {
        c.Send("220-welcome " + std::to_string(i) + "\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(tc.gapMs));
      }
      ServeUntilPasv(c, 1);
    });
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server.Port());
    ftp.ReadTimeout = 800;
    const TOutcome o = Attempt([&] { ftp.OpenSession(true, -1); });
    if (tc.timesOut) {
      EXPECT_EQ(o.type, typeid(ENetReadTimeout).name());
      EXPECT_GE(o.seconds, 0.7);
      EXPECT_LT(o.seconds, 1.5);
    } else {
      EXPECT_EQ(o.type, "none") << o.message;
    }
    ftp.CloseSession();
    server.Join();
  }
}

// A pipe whose read end is the abort descriptor; Fire makes it readable.
class TAbortPipe final {
 public:
  TAbortPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    read_.Reset(fds[0]);
    write_.Reset(fds[1]);
  }
  int Fd() const { return read_.get(); }
  void Fire() { [[maybe_unused]] ssize_t n = ::write(write_.get(), "x", 1); }

 private:
  base::UniqueFd read_, write_;
};

TEST(NetBoundedWaits, TheAbortDescriptorEndsEveryWaitWithoutALimitOfItsOwn) {
  TFullBacklog nowhere;
  test::TTempFolder home;
  home.WriteFile("krevo/updates/up080101.zip", "");
  std::filesystem::resize_file(home.Path() + "/krevo/updates/up080101.zip",
                               std::uintmax_t{256} << 20);
  test::TRealFtpServer real(home.Path());
  test::TScriptedPeer silent([](test::TPeerConnection& c, int) { c.ReadAll(); });

  const struct {
    const char* wait;
    int port;
    bool fireOnFirstData;  // else 300 ms after the start
    std::int64_t maxRate = 0;
  } cases[] = {
      {"connect", nowhere.Port(), false},
      {"greeting", silent.Port(), false},
      // The data flows as fast as the loopback goes: the abort still wins.
      {"transfer", real.Port(), true},
      // A capped transfer pauses between receives: the abort ends a pause.
      {"capped transfer", real.Port(), false, 100},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.wait);
    TAbortPipe abort;
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, tc.port);
    ftp.ReadTimeout = 0;
    ftp.AbortDescriptor = abort.Fd();
    ftp.MaxRate = tc.maxRate;
    std::int64_t received = 0;
    ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t count) {
      received = count;
      if (tc.fireOnFirstData) abort.Fire();
    };
    std::thread timer;
    if (!tc.fireOnFirstData)
      timer = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        abort.Fire();
      });
    base::TNullStream stream;
    const TOutcome o = Attempt([&] {
      ftp.OpenSession(true, -1);
      ftp.EnterDirectory("krevo");
      ftp.EnterDirectory("updates");
      ftp.RetrieveIntoStream("up080101.zip", stream, false);
    });
    if (timer.joinable()) timer.join();
    EXPECT_EQ(o.type, typeid(ENetOperationAborted).name());
    EXPECT_EQ(o.message, "Operation aborted.");
    EXPECT_LT(o.seconds, 5.0);
    EXPECT_LT(received, std::int64_t{256} << 20);
    EXPECT_EQ(ftp.TransferLink(), nullptr);
    ftp.CloseSession();
  }
}

TEST(NetBoundedWaits, BothConnectionsKeepAlive) {
  test::TTempFolder home;
  home.WriteFile("krevo/updates/up080101.zip", std::string(100000, 'x'));
  test::TRealFtpServer server(home.Path());
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server.Port());
  auto options = [](const TNetTCPConnection* link) {
    const int fd = link && link->Binding() ? link->Binding()->Handle() : -1;
    int on = 0, idle = 0;
    socklen_t len = sizeof on;
    ::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &len);
    len = sizeof idle;
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &len);
    return std::to_string(on) + "/" + std::to_string(idle);
  };
  std::string data;
  ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t) { data = options(ftp.TransferLink()); };
  ftp.OpenSession(true, -1);
  EXPECT_EQ(options(&ftp), "1/120");
  base::TMemoryStream stream;
  ftp.RetrieveIntoStream("krevo/updates/up080101.zip", stream, false);
  EXPECT_EQ(data, "1/120");
  ftp.CloseSession();
}

}  // namespace
}  // namespace krevo::ftp
