// The buffered connection against real loopback sockets: lines, exact and
// until-closed reads, work events, the peer's close and reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/NetTCPClient.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/ScriptedPeer.h"

namespace krevo::ftp {
namespace {

using test::TPeerConnection;
using test::TScriptedPeer;

// Records work events as text ("begin r 0", "work r 32768", "end r").
struct TWorkLog {
  std::vector<std::string> events;
  void Attach(TNetComponent& c) {
    auto m = [](TWorkMode mode) { return mode == wmRead ? std::string("r") : std::string("w"); };
    c.OnWorkBegin = [this, m](TNetComponent*, TWorkMode mode, std::int64_t max) {
      events.push_back("begin " + m(mode) + " " + std::to_string(max));
    };
    c.OnWork = [this, m](TNetComponent*, TWorkMode mode, std::int64_t count) {
      events.push_back("work " + m(mode) + " " + std::to_string(count));
    };
    c.OnWorkEnd = [this, m](TNetComponent*, TWorkMode mode) { events.push_back("end " + m(mode)); };
  }
};

void Open(TNetTCPClient& client, const TScriptedPeer& peer) {
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.OpenLink();
}

TEST(NetConnection, ReadsLinesEndingInLfOrCrLfAndKeepsAnInnerCr) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.Send("one\r\ntwo\nthr\ree\r\n\nlast"); });
  TNetTCPClient client;
  Open(client, peer);
  EXPECT_EQ(client.ReadTextLine(), "one");
  EXPECT_EQ(client.ReadTextLine(), "two");
  EXPECT_EQ(client.ReadTextLine(), "thr\ree");
  EXPECT_EQ(client.ReadTextLine(), "");
  // The unterminated tail is never delivered as a line: an empty line comes
  // back when the peer closes, and the next read raises the close.
  EXPECT_EQ(client.ReadTextLine(), "");
  EXPECT_TRUE(client.ReadLnTimedOut());
  EXPECT_THROW(client.ReadTextLine(), ENetConnClosedGracefully);
  EXPECT_EQ(client.InputBuffer().View(), "last");
}

TEST(NetConnection, EnforcesMaxLineLength) {
  struct TCase {
    std::string sent;
    bool accepted;
  } cases[] = {
      {std::string(15, 'a') + "\r\n", true},   // 16 bytes before LF, CR included
      {std::string(16, 'a') + "\n", true},
      {std::string(16, 'a') + "\r\n", false},  // one over
      {std::string(17, 'a') + "\n", false},
      {std::string(17, 'a'), false},           // no LF at all, more than the maximum buffered
  };
  for (const auto& tc : cases) {
    TScriptedPeer peer([&](TPeerConnection& c, int) {
      c.Send(tc.sent);
      c.ReadAll();
    });
    TNetTCPClient client;
    client.MaxLineLength = 16;
    client.ReadTimeout = 5000;
    Open(client, peer);
    if (tc.accepted)
      EXPECT_NO_THROW(client.ReadTextLine()) << tc.sent;
    else
      EXPECT_THROW(client.ReadTextLine(), ENetReadLnMaxLineLengthExceeded) << tc.sent;
    client.CloseSession();
  }
}

TEST(NetConnection, SplitsOverlongLinesWhenAskedTo) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.Send("abcdefghij\n"); });
  TNetTCPClient client;
  client.MaxLineLength = 4;
  client.MaxLineAction = maSplit;
  Open(client, peer);
  EXPECT_EQ(client.ReadTextLine(), "abcd");
  EXPECT_TRUE(client.ReadLnSplit());
  EXPECT_EQ(client.ReadTextLine(), "efgh");
  EXPECT_EQ(client.ReadTextLine(), "ij");
  EXPECT_FALSE(client.ReadLnSplit());
}

TEST(NetConnection, DataSentBeforeTheCloseStaysReadable) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.Send("hello\r\nworld\r\n"); });
  TNetTCPClient client;
  std::vector<std::string> statuses;
  int disconnected = 0;
  client.OnStatus = [&](TNetComponent*, TNetStatus, const std::string& text) { statuses.push_back(text); };
  client.OnDisconnected = [&](TNetComponent*) { ++disconnected; };
  Open(client, peer);
  peer.Join();
  EXPECT_EQ(client.ReadTextLine(), "hello");
  EXPECT_EQ(client.ReadTextLine(), "world");
  EXPECT_THROW(client.ReadTextLine(), ENetConnClosedGracefully);
  EXPECT_FALSE(client.IsLinkOpen());
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "Disconnected."}));
}

TEST(NetConnection, ReadsUntilClosedInChunksWithWorkEvents) {
  const std::string data = [] {
    std::string s(70000, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 7);
    return s;
  }();
  TScriptedPeer peer([&](TPeerConnection& c, int) { c.Send(data); });
  TNetTCPClient client;
  TWorkLog log;
  log.Attach(client);
  Open(client, peer);
  base::TMemoryStream stream;
  client.ReadToStream(stream, -1, true);
  EXPECT_EQ(stream.AsString(), data);
  EXPECT_EQ(log.events, (std::vector<std::string>{"begin r 0", "work r 32768", "work r 65536", "end r"}));
}

TEST(NetConnection, ReadsACountedBlockAndFailsWhenThePeerClosesEarly) {
  TScriptedPeer peer(
      [](TPeerConnection& c, int i) {
        if (i == 0) c.Send(std::string("\x00\x00\x00\x05", 4) + "abcdeXYZ");
        else c.Send("abc");
      },
      2);
  TNetTCPClient client;
  Open(client, peer);
  base::TMemoryStream stream;
  client.ReadToStream(stream);
  EXPECT_EQ(stream.AsString(), "abcde");
  EXPECT_EQ(client.ReadUntilClosed(), "XYZ");
  client.CloseSession();

  Open(client, peer);
  base::TMemoryStream cut;
  EXPECT_THROW(client.ReadToStream(cut, 10, false), ENetConnClosedGracefully);
  EXPECT_EQ(cut.Size(), 0);  // nothing was taken out of the buffer; the grown stream is cut back
}

// A memory stream that remembers the largest size it was given.
class TWatchedStream final : public base::TStream {
 public:
  std::int64_t largest = 0;
  base::TMemoryStream data;
  std::int64_t Read(void* b, std::int64_t n) override { return data.Read(b, n); }
  std::int64_t Write(const void* b, std::int64_t n) override {
    largest = std::max(largest, data.Position() + n);
    return data.Write(b, n);
  }
  std::int64_t Seek(std::int64_t o, base::TSeekOrigin origin) override { return data.Seek(o, origin); }
  void SetSize(std::int64_t size) override {
    largest = std::max(largest, size);
    data.SetSize(size);
  }
};

TEST(NetConnection, ACountAnnouncedByThePeerDoesNotSizeTheStream) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.Send(std::string("\x7f\xff\xff\xff", 4) + "tiny"); });
  TNetTCPClient client;
  Open(client, peer);
  TWatchedStream stream;
  EXPECT_THROW(client.ReadToStream(stream), ENetConnClosedGracefully);
  EXPECT_LT(stream.largest, 1 << 20);
}

TEST(NetConnection, NestedWorkBracketsFireOneBeginAndOneEnd) {
  TNetTCPConnection c;
  TWorkLog log;
  log.Attach(c);
  c.StartWork(wmWrite, 10);
  c.StartWork(wmWrite, 99);
  c.AddWork(wmWrite, 4);
  c.FinishWork(wmWrite);
  c.AddWork(wmWrite, 6);
  c.FinishWork(wmWrite);
  c.AddWork(wmWrite, 1);  // outside a bracket: silent
  EXPECT_EQ(log.events, (std::vector<std::string>{"begin w 10", "work w 4", "work w 10", "end w"}));
}

TEST(NetConnection, OpeningTwiceRaisesAlreadyConnected) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.ReadAll(); });
  TNetTCPClient client;
  Open(client, peer);
  auto e = test::Caught<ENetAlreadyConnected>([&] { client.OpenLink(); });
  EXPECT_STREQ(e ? e->what() : "", "Already connected.");
  client.CloseSession();
  EXPECT_FALSE(client.IsLinkOpen());
}

TEST(NetConnection, ASilentPeerTimesOutWithReadTimeout) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.ReadAll(); });
  TNetTCPClient client;
  client.ReadTimeout = 200;
  Open(client, peer);
  EXPECT_THROW(client.ReadTextLine(), ENetReadTimeout);
  EXPECT_EQ(client.FillInputBuffer(true, 50, false), -1);
  client.CloseSession();
}

TEST(NetConnection, AResetRaisesTheSocketErrorAndClosesTheSocket) {
  TScriptedPeer peer([](TPeerConnection& c, int) {
    c.Send("partial");
    c.ReadLine();
    c.Reset();
  });
  TNetTCPClient client;
  Open(client, peer);
  client.WriteTextLine("go");
  auto e = test::Caught<ENetSocketError>([&] { client.ReadTextLine(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorNumber, 10054);
  EXPECT_STREQ(e->what(), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_FALSE(client.IsLinkOpen());
}

TEST(NetConnection, WritingToAClosedPeerRaisesInsteadOfKillingTheProcess) {
  TScriptedPeer peer([](TPeerConnection& c, int) { c.Reset(); });
  TNetTCPClient client;
  Open(client, peer);
  peer.Join();
  const std::string block(65536, 'x');
  try {
    for (int i = 0; i < 100; ++i) client.WriteBlock(block.data(), static_cast<std::int64_t>(block.size()));
    FAIL() << "no exception";
  } catch (const ENetSocketError& e) {
    EXPECT_TRUE(e.ErrorNumber == 10054 || e.ErrorNumber == 10058) << e.ErrorNumber;
  } catch (const ENetConnClosedGracefully&) {
  }
  EXPECT_FALSE(client.IsLinkOpen());
  EXPECT_THROW(client.WriteTextLine("again"), ENetException);
}

TEST(NetConnection, WritesStreamsAndFilesWithWriteWork) {
  std::string received;
  TScriptedPeer peer([&](TPeerConnection& c, int) { received = c.ReadAll(); });
  TNetTCPClient client;
  client.SendBufferSize = 4;
  TWorkLog log;
  log.Attach(client);
  Open(client, peer);
  base::TMemoryStream stream;
  stream.WriteBuffer("0123456789", 10);
  client.WriteFromStream(stream, true, 0, true);
  auto e = test::Caught<ENetFileNotFound>([&] { client.WriteFileContents("/nonexistent/krevo.bin"); });
  EXPECT_STREQ(e ? e->what() : "", "File \"/nonexistent/krevo.bin\" not found");
  client.CloseSession();
  peer.Join();
  EXPECT_EQ(received, std::string("\x00\x00\x00\x0a", 4) + "0123456789");
  EXPECT_EQ(log.events,
            (std::vector<std::string>{"begin w 10", "work w 4", "work w 8", "work w 10", "end w"}));
}

TEST(NetConnection, OperationsWithoutALinkRaiseNotConnected) {
  TNetTCPClient client;
  EXPECT_THROW(client.FillInputBuffer(), ENetNotConnected);
  EXPECT_EQ(client.FillInputBuffer(false), 0);
  EXPECT_THROW(client.WriteTextLine("x"), ENetNotConnected);
  EXPECT_NO_THROW(client.CloseSession());
}

}  // namespace
}  // namespace krevo::ftp
