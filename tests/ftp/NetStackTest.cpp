// The socket stack: names, error texts, waits and connects on loopback.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ftp/NetComponent.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetStack.h"
#include "ftp/NetTCPClient.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/ScriptedPeer.h"

namespace krevo::ftp {
namespace {

TEST(NetStack, RecognisesDottedAddresses) {
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1", true}, {"0.0.0.0", true},     {"255.255.255.255", true}, {"010.1.1.1", true},
      {"256.1.1.1", false}, {"1.2.3", false},     {"1.2.3.4.5", false},      {"a.b.c.d", false},
      {"1..2.3", false},    {"", false},          {"1.2.3.-4", false},       {"localhost", false},
  };
  for (auto [text, dotted] : cases) EXPECT_EQ(TNetStack::IsDottedAddress(text), dotted) << text;
}

TEST(NetStack, ResolvesLocalhostWithoutALookUpAndReportsUnknownHosts) {
  TNetComponent keepStack;
  TNetStack& stack = TNetComponent::Stack();
  for (const char* name : {"localhost", "LocalHost", "LOCALHOST"})
    EXPECT_EQ(stack.LookUpHostAddress(name), "127.0.0.1") << name;
  EXPECT_EQ(stack.LookUpHostAddress("10.1.2.3"), "10.1.2.3");
  auto e = test::Caught<ENetSocketError>([&] { stack.LookUpHostAddress("no-such-host.invalid"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorNumber, 11001);
  EXPECT_STREQ(e->what(), "Socket Error # 11001\r\nHost not found.");
}

TEST(NetStack, ErrorTextsAndNumbers) {
  EXPECT_EQ(SocketErrorMessage(10061), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(SocketErrorMessage(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(SocketErrorMessage(12345), "Socket Error # 12345\r\n");
  EXPECT_EQ(ErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(ErrorFromErrno(EPIPE), 10058);
  EXPECT_EQ(ErrorFromErrno(ENOENT), ENOENT);
}

TEST(NetStack, SplitsWaitsAsSelectTakesThem) {
  TNetWaitTime t = SplitWaitTime(1500);
  EXPECT_EQ(t.seconds, 1);
  EXPECT_EQ(t.microseconds, 500000);
}

TEST(NetStack, PollWorksOnSocketNumbersAbove1023) {
  TNetComponent keepStack;
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 1600) {
    limit.rlim_cur = std::min<rlim_t>(1600, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  base::UniqueFd a(pair[0]), b(pair[1]);
  base::UniqueFd high(dup2(a.get(), 1500));
  if (!high) GTEST_SKIP() << "cannot open descriptor 1500";
  TNetStack& stack = TNetComponent::Stack();
  EXPECT_FALSE(stack.PollReadable(high.get(), 10));
  ASSERT_EQ(write(b.get(), "x", 1), 1);
  EXPECT_TRUE(stack.PollReadable(high.get(), kInfiniteWait));
  std::vector<TNetSocket> tooMany(65, high.get());
  EXPECT_THROW(stack.Select(tooMany, nullptr, nullptr, 0), ENetStackSetSizeExceeded);
}

TEST(NetStack, RefusedConnectionsRaiseTheSocketError) {
  for (int timeout : {-1, 5000}) {
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(test::UnusedPort());
    try {
      client.OpenLink(timeout);
      FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
      EXPECT_EQ(timeout, -1);
      EXPECT_EQ(e.ErrorNumber, 10061);
      EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    } catch (const ENetConnectException& e) {
      EXPECT_EQ(timeout, 5000);
      EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(client.IsLinkOpen());
  }
}

TEST(NetStack, ATimedConnectThatCannotCompleteTimesOut) {
  // A listener whose accept queue is full drops further connection requests,
  // so a connect to it can only time out.
  base::UniqueFd listener(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener.get(), 0), 0);
  ASSERT_EQ(getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
  std::vector<base::UniqueFd> queued;
  for (int i = 0; i < 4; ++i) {
    queued.emplace_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(queued.back().get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(ntohs(a.sin_port));
  auto e = test::Caught<ENetConnectTimeout>([&] { client.OpenLink(300); });
  EXPECT_STREQ(e ? e->what() : "", "Connect timed out.");
  EXPECT_FALSE(client.IsLinkOpen());
}

TEST(NetStack, TheStackLivesAsLongAsAComponent) {
  const int before = TNetComponent::InstanceCount();
  {
    TNetTCPClient a, b;
    EXPECT_EQ(TNetComponent::InstanceCount(), before + 2);
  }
  EXPECT_EQ(TNetComponent::InstanceCount(), before);
}

TEST(NetStack, BindsInAPortRangeOrReportsIt) {
  test::TScriptedPeer peer([](test::TPeerConnection& c, int) { c.ReadAll(); });
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.BoundPortMin = 40000;
  client.BoundPortMax = 39999;
  EXPECT_THROW(client.OpenLink(), ENetInvalidPortRange);
  const int port = test::UnusedPort();
  client.BoundPortMin = client.BoundPortMax = port;
  client.OpenLink(5000);  // a timed connect that succeeds
  EXPECT_EQ(client.Binding()->Port, port);
  client.CloseSession();
}

}  // namespace
}  // namespace krevo::ftp
