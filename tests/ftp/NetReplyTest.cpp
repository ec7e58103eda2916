// Reading numbered replies and checking their codes, against a scripted peer
// that sends each case's exact bytes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ftp/NetTCPClient.h"
#include "tests/ftp/ScriptedPeer.h"

namespace krevo::ftp {
namespace {

using test::TPeerConnection;
using test::TScriptedPeer;

struct TReplyCase {
  const char* name;
  std::string sent;
  int code;
  std::vector<std::string> text;
};

TEST(NetReply, ParsesSingleAndMultiLineReplies) {
  const TReplyCase cases[] = {
      {"single", "230 User logged in.\r\n", 230, {"User logged in."}},
      {"lf only", "230 User logged in.\n", 230, {"User logged in."}},
      {"empty lines first", "\r\n\r\n  220 Ready\r\n", 220, {"Ready"}},
      {"multi", "230-Welcome\r\n  banner text\r\n230 Done.\r\n", 230, {"Welcome", "er text", "Done."}},
      {"closed in another case", "abc-Hello\r\nABC bye\r\n", 0, {"Hello", "bye"}},
      {"closed by a short line", "211-Status\r\n inner line\r\n211\r\n", 211, {"Status", "r line", ""}},
      {"no code", "Hello there\r\n", 0, {"o there"}},
      {"bare code", "200\r\n", 200, {""}},
  };
  for (const auto& tc : cases) {
    TScriptedPeer peer([&](TPeerConnection& c, int) { c.Send(tc.sent + "999 next\r\n"); });
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.OpenLink();
    client.ReadReply();
    EXPECT_EQ(client.LastReply().NumericCode(), tc.code) << tc.name;
    EXPECT_EQ(client.LastReply().Text.Lines(), tc.text) << tc.name;
    client.ReadReply();  // the reply ended exactly where it should
    EXPECT_EQ(client.LastReply().NumericCode(), 999) << tc.name;
  }
}

// One exchange: the command sent, the reply, and the expected outcome.
struct TCommandCase {
  const char* name;
  std::string reply;
  std::vector<std::int16_t> allowed;
  int raisedCode;  // -1: no error
  std::string message;
};

TEST(NetReply, SendCommandChecksTheCodeAndRaisesWithTheReplyText) {
  const TCommandCase cases[] = {
      {"allowed", "250 OK\r\n", {200, 250}, -1, ""},
      {"refused", "550 No such directory.\r\n", {200, 250}, 550, "No such directory.\r\n"},
      {"multi refused", "530-Login incorrect.\r\n530 Bye.\r\n", {230}, 530, "Login incorrect.\r\nBye.\r\n"},
      {"no code", "garbage\r\n", {200}, 0, "age\r\n"},
      {"any code", "421 Going away\r\n", {-1}, -1, ""},
  };
  for (const auto& tc : cases) {
    std::string command;
    TScriptedPeer peer([&](TPeerConnection& c, int) {
      command = c.ReadLine();
      c.Send(tc.reply);
      c.ReadAll();
    });
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.OpenLink();
    try {
      std::int16_t code;
      if (tc.allowed.size() == 1) code = client.SendCommand("CWD x", tc.allowed[0]);
      else code = client.SendCommand("CWD x", {tc.allowed[0], tc.allowed[1]});
      EXPECT_EQ(tc.raisedCode, -1) << tc.name;
      EXPECT_EQ(code, client.LastReply().NumericCode()) << tc.name;
    } catch (const ENetProtocolReplyError& e) {
      EXPECT_EQ(e.ReplyCode, tc.raisedCode) << tc.name;
      EXPECT_EQ(e.what(), tc.message) << tc.name;
    }
    EXPECT_TRUE(client.IsLinkOpen()) << tc.name;  // a refused reply leaves the link open
    client.CloseSession();
    peer.Join();
    EXPECT_EQ(command, "CWD x\r\n") << tc.name;
  }
}

TEST(NetReply, GreetingCodesAreChecked) {
  for (auto [greeting, raised] : {std::pair{"220 Ready\r\n", 0}, std::pair{"421 Too many users\r\n", 421}}) {
    TScriptedPeer peer([&](TPeerConnection& c, int) { c.Send(greeting); });
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.OpenLink();
    try {
      EXPECT_EQ(client.ExpectReply({220}), 220);
      EXPECT_EQ(raised, 0);
    } catch (const ENetProtocolReplyError& e) {
      EXPECT_EQ(e.ReplyCode, raised);
    }
  }
}

// Hostile or broken servers: every case ends in the family's exception.
struct TBadCase {
  const char* name;
  std::string sent;
  bool reset;
};

TEST(NetReply, BadServersRaiseTheFamilysErrorsNeverHang) {
  const TBadCase cases[] = {
      {"closes mid-line", "220 Rea", false},
      {"closes before anything", "", false},
      {"16385-byte line", "220 " + std::string(16381, 'x') + "\r\n", false},
      {"multi-line never ends", "220-one\r\n220-two\r\n three\r\n", false},
      {"resets", "220-one\r\n", true},
      {"binary garbage", std::string("\x00\xff\x13\x00-\r\r\x80", 9), false},
      {"endless multi-line", "220-start\r\n" + [] {
         std::string s;
         for (int i = 0; i < 70000; ++i) s += "220-more text here\r\n";
         return s;
       }(), false},
  };
  for (const auto& tc : cases) {
    TScriptedPeer peer([&](TPeerConnection& c, int) {
      c.Send(tc.sent);
      if (tc.reset) c.Reset();
    });
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.ReadTimeout = 10000;
    client.OpenLink();
    peer.Join();
    EXPECT_THROW(
        {
          client.ReadReply();
          client.ReadReply();
        },
        ENetException)
        << tc.name;
  }
}

TEST(NetReply, EndlessBlankLinesEndTheReadingAtTheReplysBound) {
  for (const std::string& blank : {std::string("\r\n"), std::string(1000, ' ') + "\r\n"}) {
    // Sent until the client gives up and closes.
    TScriptedPeer peer([&](TPeerConnection& c, int) {
      std::string burst;
      for (int i = 0; i < 1000; ++i) burst += blank;
      try {
        while (true) c.Send(burst);
      } catch (const std::runtime_error&) {
      }
    });
    TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.ReadTimeout = 10000;
    client.OpenLink();
    EXPECT_THROW(client.ReadReply(), ENetReadLnMaxLineLengthExceeded);
    client.CloseSession();
    EXPECT_EQ(peer.Join(), "");
  }
}

}  // namespace
}  // namespace krevo::ftp
