// The FTP session against the scripted fake server: what a real server will
// not do on demand, with the exact command transcript.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ftp/NetFTP.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using test::TFakeFtpServer;
using test::TTempFolder;

class NetFTPScripted : public ::testing::Test {
 protected:
  // Starts `scenario` and points `ftp` at it.
  std::unique_ptr<TFakeFtpServer> Start(TNetFTP& ftp, const std::string& scenario,
                                        const std::string& host = "127.0.0.1") {
    transcriptFile = folder.Path() + "/" + scenario + std::to_string(++started) + ".txt";
    auto server = std::make_unique<TFakeFtpServer>(scenario, transcriptFile, host);
    test::ConfigureAsUpdater(ftp, server->Port(), host);
    return server;
  }
  // The command lines the server received, without their CR LF.
  std::vector<std::string> Transcript(std::unique_ptr<TFakeFtpServer>& server) {
    server.reset();
    return folder.ReadLines(transcriptFile.substr(folder.Path().size() + 1));
  }
  // Logs in, retrieves file.bin and closes: the whole 80000 bytes with
  // `error` null, else an ENetException whose message starts with `error`.
  static void RetrieveExpecting(TNetFTP& ftp, const std::string& scenario, const char* error) {
    ftp.OpenSession(true, -1);
    base::TMemoryStream stream;
    try {
      ftp.RetrieveIntoStream("file.bin", stream, false);
      EXPECT_EQ(error, nullptr) << scenario;
      EXPECT_EQ(stream.Size(), 80000) << scenario;
    } catch (const ENetException& e) {
      EXPECT_NE(error, nullptr) << scenario << ": " << e.what();
      if (error) {
        EXPECT_EQ(std::string(e.what()).rfind(error, 0), 0u) << e.what();
      }
    }
    ftp.CloseSession();
  }
  TTempFolder folder;
  std::string transcriptFile;
  int started = 0;
};

TEST_F(NetFTPScripted, TheUpdatersExchangeWordForWord) {
  TNetFTP ftp;
  auto server = Start(ftp, "plain");
  ftp.OpenSession(true, -1);
  ftp.EnterDirectory("krevo");
  ftp.EnterDirectory("updates");
  base::TStringList lines;
  ftp.FetchListing(&lines, "up*.zip", true);
  ftp.CloseSession();
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"line one", "line two"}));
  EXPECT_EQ(Transcript(server), (std::vector<std::string>{"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST",
                                                          "CWD krevo", "CWD updates", "PASV", "LIST up*.zip"}));

  server = Start(ftp, "plain");
  ftp.OpenSession(true, -1);
  const std::string path = folder.Path() + "/up080101.zip";
  ftp.RetrieveFile("up080101.zip", path, true, true);
  ftp.RetrieveFile("up080102.zip", folder.Path() + "/up080102.zip", true, true);
  ftp.CloseSession();
  EXPECT_EQ(folder.ReadFile("up080101.zip").size(), 80000u);
  EXPECT_EQ(Transcript(server),
            (std::vector<std::string>{"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST", "REST 1", "REST 0", "PASV",
                                      "REST 0", "RETR up080101.zip", "PASV", "REST 0", "RETR up080102.zip"}));

  // The restart probe belongs to the object, not to the connection.
  server = Start(ftp, "plain");
  ftp.OpenSession(true, -1);
  ftp.RetrieveFile("up080103.zip", folder.Path() + "/up080103.zip", true, true);
  ftp.CloseSession();
  EXPECT_EQ(Transcript(server), (std::vector<std::string>{"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST", "PASV",
                                                          "REST 0", "RETR up080103.zip"}));
}

TEST_F(NetFTPScripted, MultiLineGreetingUserAcceptedAndSystRefusedWith500) {
  TNetFTP ftp;
  auto server = Start(ftp, "multiline-greeting");
  ftp.OpenSession(true, -1);
  EXPECT_EQ(ftp.GreetingReply().Text.Lines(), (std::vector<std::string>{"Welcome", "to the", "fake server."}));
  EXPECT_EQ(ftp.SystemDescription(), "Unknown");
  ftp.CloseSession();
  EXPECT_EQ(Transcript(server), (std::vector<std::string>{"USER krevoftp", "TYPE I", "SYST"}));
}

TEST_F(NetFTPScripted, Syst502FailsTheOpenAndClosesTheSession) {
  TNetFTP ftp;
  int disconnected = 0;
  ftp.OnDisconnected = [&](TNetComponent*) { ++disconnected; };
  auto server = Start(ftp, "syst-502");
  auto e = test::Caught<ENetProtocolReplyError>([&] { ftp.OpenSession(true, -1); });
  EXPECT_EQ(e ? e->ReplyCode : 0, 502);
  EXPECT_FALSE(ftp.IsLinkOpen());
  EXPECT_EQ(disconnected, 1);
  server = Start(ftp, "plain");
  ftp.OpenSession(true, -1);  // no "Already connected."
  ftp.CloseSession();
}

TEST_F(NetFTPScripted, PassiveRepliesAreCheckedAndTheControlHostIsUsed) {
  const struct {
    const char* scenario;
    const char* error;  // null: the transfer works
  } cases[] = {
      {"pasv-no-parens", nullptr},
      {"pasv-elsewhere", nullptr},  // names 127.0.0.2: ignored, the control peer is used
      {"pasv-bad-number", "Invalid passive mode reply: Entering Passive Mode (127,0,0,300,"},
      {"pasv-missing-number", "Invalid passive mode reply: Entering Passive Mode (127,0,0,"},
  };
  for (const auto& tc : cases) {
    TNetFTP ftp;
    auto server = Start(ftp, tc.scenario);
    RetrieveExpecting(ftp, tc.scenario, tc.error);
  }
  // Trusting the reply's address goes where the reply says (127.0.0.2, where
  // nothing listens).
  TNetFTP ftp;
  ftp.PassiveUseReplyHost = true;
  auto server = Start(ftp, "pasv-elsewhere");
  ftp.OpenSession(true, -1);
  base::TMemoryStream stream;
  EXPECT_THROW(ftp.RetrieveIntoStream("file.bin", stream, false), ENetSocketError);
  ftp.CloseSession();
}

TEST_F(NetFTPScripted, ExtendedPassiveOnIPv6AndWhenPasvIsRefused) {
  const std::vector<std::string> login = {"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST"};
  const struct {
    const char* scenario;
    const char* host;
    std::vector<std::string> commands;  // after the login
    const char* error;                  // null: the transfer works
  } cases[] = {
      {"plain", "::1", {"EPSV", "RETR file.bin"}, nullptr},
      {"pasv-refused", "127.0.0.1", {"PASV", "EPSV", "RETR file.bin"}, nullptr},
      // A 229 reply naming a family or an address, or port 0, is refused.
      {"epsv-family",
       "127.0.0.1",
       {"PASV", "EPSV"},
       "Invalid passive mode reply: Entering Extended Passive Mode (|2|::1|"},
      {"epsv-port-zero",
       "127.0.0.1",
       {"PASV", "EPSV"},
       "Invalid passive mode reply: Entering Extended Passive Mode (|||0|)"},
      {"retr-refused", "::1", {"EPSV", "RETR file.bin"}, "No such file."},
  };
  const bool ipv6 = test::HaveIPv6Loopback();
  for (const auto& tc : cases) {
    if (std::string(tc.host) == "::1" && !ipv6) continue;
    TNetFTP ftp;
    auto server = Start(ftp, tc.scenario, tc.host);
    RetrieveExpecting(ftp, tc.scenario, tc.error);
    std::vector<std::string> expected = login;
    expected.insert(expected.end(), tc.commands.begin(), tc.commands.end());
    EXPECT_EQ(Transcript(server), expected) << tc.scenario;
  }
  if (!ipv6) GTEST_SKIP() << "no IPv6 loopback (::1 cannot be bound): only the IPv4 cases ran";
}

TEST_F(NetFTPScripted, ALone426FailsWithinASecondEvenWithoutAReadLimit) {
  TNetFTP ftp;
  auto server = Start(ftp, "lone-426");
  ftp.ReadTimeout = 0;
  ftp.OpenSession(true, -1);
  base::TMemoryStream stream;
  const auto start = std::chrono::steady_clock::now();
  auto e = test::Caught<ENetProtocolReplyError>(
      [&] { ftp.RetrieveIntoStream("file.bin", stream, false); });
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ReplyCode, 426);
  EXPECT_STREQ(e->what(), "Failure writing network stream.\r\n");
  EXPECT_EQ(stream.Size(), 40000);
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  ftp.CloseSession();
}

TEST_F(NetFTPScripted, AnAbortedTransferIsAnError) {
  TNetFTP ftp;
  std::vector<std::string> statuses;
  ftp.OnStatus = [&](TNetComponent*, TNetStatus s, const std::string& text) {
    if (s == ftpAborted || s == ftpReady) statuses.push_back(text);
  };
  auto server = Start(ftp, "abort");
  ftp.OpenSession(true, -1);
  base::TMemoryStream stream;
  auto e = test::Caught<ENetProtocolReplyError>([&] { ftp.RetrieveIntoStream("file.bin", stream, false); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ReplyCode, 426);
  EXPECT_STREQ(e->what(), "Connection closed; transfer aborted.\r\n");
  EXPECT_EQ(stream.Size(), 1000);
  EXPECT_EQ(statuses, (std::vector<std::string>{"Connection established", "Transfer complete", "Transfer aborted"}));
  // Both end replies were read: the next command gets its own answer.
  ftp.EnterDirectory("next");
  ftp.CloseSession();
}

TEST_F(NetFTPScripted, BrokenConnectionsAndRefusedRestart) {
  for (const char* scenario : {"drop-control", "reset-data", "retr-refused"}) {
    TNetFTP ftp;
    auto server = Start(ftp, scenario);
    ftp.OpenSession(true, -1);
    base::TMemoryStream stream;
    EXPECT_THROW(ftp.RetrieveIntoStream("file.bin", stream, false), ENetException) << scenario;
    EXPECT_EQ(ftp.TransferLink(), nullptr);
    ftp.CloseSession();
  }
  TNetFTP ftp;
  auto server = Start(ftp, "rest-refused");
  ftp.OpenSession(true, -1);
  EXPECT_FALSE(ftp.ServerAcceptsRestart());
  ftp.RetrieveFile("a.zip", folder.Path() + "/a.zip", true, true);
  ftp.CloseSession();
  EXPECT_EQ(Transcript(server), (std::vector<std::string>{"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST", "REST 1",
                                                          "REST 0", "PASV", "RETR a.zip"}));
}

}  // namespace
}  // namespace krevo::ftp
