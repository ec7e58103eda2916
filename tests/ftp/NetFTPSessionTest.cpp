// The FTP session against a real server (pyftpdlib): the updater's listing and
// download runs, work events on the data channel, overwrite and resume, active
// mode, and the errors a real server gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "ftp/NetFTP.h"
#include "tests/ftp/Caught.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/UpdaterClient.h"
#include "tests/ftp/ScriptedPeer.h"

namespace krevo::ftp {
namespace {

using test::TRealFtpServer;
using test::TTempFolder;

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + 7) % 251);
  return s;
}

class NetFTPSession : public ::testing::Test {
 protected:
  void SetUp() override {
    home.WriteFile("krevo/updates/up080101.zip", Pattern(1000));
    home.WriteFile("krevo/updates/up080315a.zip", Pattern(70000));
    home.WriteFile("krevo/updates/readme.txt", "not a package");
    std::filesystem::create_directories(home.Path() + "/krevo/empty");
    server = std::make_unique<TRealFtpServer>(home.Path());
  }
  void Configure(TNetFTP& ftp) { test::ConfigureAsUpdater(ftp, server->Port()); }
  void Enter(TNetFTP& ftp) {
    ftp.OpenSession(true, -1);
    ftp.EnterDirectory("krevo");
    ftp.EnterDirectory("updates");
  }
  TTempFolder home, local;
  std::unique_ptr<TRealFtpServer> server;
};

TEST_F(NetFTPSession, ListsPackagesInDosColumnsAndDownloadsThem) {
  TNetFTP ftp;
  Configure(ftp);
  std::vector<std::string> statuses;
  ftp.OnStatus = [&](TNetComponent*, TNetStatus, const std::string& text) { statuses.push_back(text); };
  Enter(ftp);
  EXPECT_EQ(ftp.SystemDescription(), "UNIX Type: L8");
  EXPECT_EQ(ftp.LoginReply().NumericCode(), 230);
  base::TStringList lines;
  ftp.FetchListing(&lines, "up*.zip", true);
  ftp.CloseSession();
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[0].substr(39), "up080101.zip");
  EXPECT_EQ(lines[1].substr(39), "up080315a.zip");
  EXPECT_EQ(lines[1].substr(29, 10), "    70000 ");
  EXPECT_EQ(ftp.ListingLines().Lines(), lines.Lines());
  EXPECT_EQ(statuses.front(), "Connecting to 127.0.0.1.");
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Connection established"), statuses.end());
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Starting FTP transfer"), statuses.end());
  EXPECT_EQ(statuses.back(), "Disconnected.");

  // The download run: the local file is deleted first, then retrieved with
  // overwrite and resume, as the updater does.
  Enter(ftp);
  for (const char* name : {"up080101.zip", "up080315a.zip"}) {
    const std::string path = local.Path() + "/" + name;
    base::DeleteFile(path);
    ftp.RetrieveFile(name, path, true, true);
    EXPECT_EQ(local.ReadFile(name), home.ReadFile(std::string("krevo/updates/") + name)) << name;
  }
  ftp.CloseSession();
}

TEST_F(NetFTPSession, WorkEventsFollowTheDataChannelsChunks) {
  const struct {
    std::size_t size;
    std::vector<std::string> events;
  } cases[] = {
      {0, {"begin 0", "end"}},
      {65536, {"begin 0", "work 32768", "work 65536", "end"}},
      {65537, {"begin 0", "work 32768", "work 65536", "end"}},
  };
  TNetFTP ftp;
  Configure(ftp);
  std::vector<std::string> events;
  TNetComponent* sender = nullptr;
  ftp.OnWorkBegin = [&](TNetComponent* s, TWorkMode, std::int64_t max) {
    sender = s;
    events.push_back("begin " + std::to_string(max));
  };
  ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t n) { events.push_back("work " + std::to_string(n)); };
  ftp.OnWorkEnd = [&](TNetComponent*, TWorkMode) { events.push_back("end"); };
  Enter(ftp);
  for (const auto& tc : cases) {
    const std::string name = "f" + std::to_string(tc.size);
    home.WriteFile("krevo/updates/" + name, Pattern(tc.size));
    base::TMemoryStream stream;
    events.clear();
    ftp.RetrieveIntoStream(name, stream, false);
    EXPECT_EQ(events, tc.events) << tc.size;
    EXPECT_EQ(stream.AsString(), Pattern(tc.size)) << tc.size;
    EXPECT_NE(sender, &ftp);  // the data channel fires them
    EXPECT_EQ(ftp.TransferLink(), nullptr);
  }
  ftp.CloseSession();
}

TEST_F(NetFTPSession, OverwriteAndResumeCombinations) {
  const std::string remote = Pattern(70000);
  const struct {
    bool canOverwrite, resume;
    bool raises;
    std::string expected;
  } cases[] = {
      {true, false, false, remote},
      {false, true, false, "LOCAL" + remote.substr(5)},
      {true, true, true, "LOCAL"},
      {false, false, true, "LOCAL"},
  };
  TNetFTP ftp;
  Configure(ftp);
  Enter(ftp);
  for (const auto& tc : cases) {
    local.WriteFile("p.zip", "LOCAL");
    const std::string path = local.Path() + "/p.zip";
    if (tc.raises) {
      EXPECT_THROW(ftp.RetrieveFile("up080315a.zip", path, tc.canOverwrite, tc.resume), ENetFTPFileAlreadyExists);
    } else {
      ftp.RetrieveFile("up080315a.zip", path, tc.canOverwrite, tc.resume);
    }
    EXPECT_EQ(local.ReadFile("p.zip"), tc.expected) << tc.canOverwrite << tc.resume;
  }
  ftp.CloseSession();
}

TEST_F(NetFTPSession, ActiveModeAndAsciiListings) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.Passive = false;
  Enter(ftp);
  base::TMemoryStream stream;
  ftp.RetrieveIntoStream("up080315a.zip", stream, false);
  EXPECT_EQ(stream.AsString(), Pattern(70000));
  ftp.SetTransferType(ftASCII);
  base::TStringList names;
  ftp.FetchListing(&names, "", false);
  EXPECT_EQ(names.Lines(), (std::vector<std::string>{"readme.txt", "up080101.zip", "up080315a.zip"}));
  ftp.EnterDirectory("../empty");
  ftp.FetchListing(&names, "", true);
  EXPECT_EQ(names.Count(), 0);
  ftp.CloseSession();
}

TEST_F(NetFTPSession, ServerRefusalsCarryTheReplyCodeAndText) {
  TNetFTP ftp;
  Configure(ftp);
  ftp.Password = "wrong";
  auto refused = test::Caught<ENetProtocolReplyError>([&] { ftp.OpenSession(true, -1); });
  EXPECT_EQ(refused ? refused->ReplyCode : 0, 530);
  EXPECT_FALSE(ftp.IsLinkOpen());
  ftp.Password = "q7wz2kp";
  Enter(ftp);  // reopening after a failed open works
  auto missing = test::Caught<ENetProtocolReplyError>([&] { ftp.EnterDirectory("missing"); });
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->ReplyCode, 550);
  EXPECT_EQ(std::string(missing->what()).substr(std::string(missing->what()).size() - 2), "\r\n");
  base::TMemoryStream stream;
  EXPECT_THROW(ftp.RetrieveIntoStream("missing.zip", stream, false), ENetProtocolReplyError);
  // The session is still usable after a refusal.
  ftp.RetrieveIntoStream("up080101.zip", stream, false);
  EXPECT_EQ(stream.AsString(), Pattern(1000));
  ftp.CloseSession();
}

TEST_F(NetFTPSession, AbortFromAWorkEventEndsTheTransferAsAnError) {
  home.WriteFile("krevo/updates/big.bin", Pattern(50 << 20));
  TNetFTP ftp;
  Configure(ftp);
  int logins = 0, afterGets = 0;
  ftp.OnAfterClientLogin = [&](TNetComponent*) { ++logins; };
  ftp.OnAfterGet = [&](TNetComponent*, base::TStream& stream) { afterGets += stream.Size() == 1000; };
  ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t) { ftp.AbortTransfer(); };
  Enter(ftp);
  base::TMemoryStream stream;
  auto e = test::Caught<ENetProtocolReplyError>([&] { ftp.RetrieveIntoStream("big.bin", stream, false); });
  EXPECT_EQ(e ? e->ReplyCode : 0, 426);
  EXPECT_LT(stream.Size(), 50 << 20);
  EXPECT_EQ(ftp.TransferLink(), nullptr);
  ftp.OnWork = nullptr;
  base::TMemoryStream small;
  ftp.RetrieveIntoStream("up080101.zip", small, false);  // the control connection is in step
  EXPECT_EQ(small.AsString(), Pattern(1000));
  EXPECT_EQ(logins, 1);
  EXPECT_EQ(afterGets, 1);
  ftp.CloseSession();
}

TEST_F(NetFTPSession, LineEndsInArgumentsAreRefusedBeforeAnythingIsSent) {
  TNetFTP ftp;
  Configure(ftp);
  Enter(ftp);
  const std::string path = local.Path() + "/x.zip";
  for (const std::string bad : {"a\r\nDELE up080101.zip", "a\nb", "a\rb"}) {
    auto e = test::Caught<ENetException>([&] { ftp.RetrieveFile(bad, path, true, false); });
    EXPECT_STREQ(e ? e->what() : "", "Invalid character in FTP command argument");
    EXPECT_THROW(ftp.EnterDirectory(bad), ENetException);
    EXPECT_THROW(ftp.FetchListing(nullptr, bad, true), ENetException);
  }
  EXPECT_FALSE(base::FileExists(path));
  EXPECT_TRUE(ftp.IsLinkOpen());
  ftp.CloseSession();
  ftp.Username = "krevoftp\r\nUSER root";
  EXPECT_THROW(ftp.OpenSession(true, -1), ENetException);
  EXPECT_EQ(home.ReadFile("krevo/updates/up080101.zip"), Pattern(1000));
}

TEST(NetFTPConnect, RefusedAndUnknownHostsRaiseTheSocketError) {
  const struct {
    std::string host;
    int number;
    const char* message;
  } cases[] = {
      {"127.0.0.1", 10061, "Socket Error # 10061\r\nConnection refused."},
      {"no-such-host.invalid", 11001, "Socket Error # 11001\r\nHost not found."},
  };
  for (const auto& tc : cases) {
    TNetFTP ftp;
    ftp.SetHost(tc.host);
    ftp.SetPort(test::UnusedPort());
    auto e = test::Caught<ENetSocketError>([&] { ftp.OpenSession(true, -1); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorNumber, tc.number);
    EXPECT_STREQ(e->what(), tc.message);
    EXPECT_EQ(ftp.Host(), tc.host);
    EXPECT_FALSE(ftp.IsLinkOpen());
  }
}

}  // namespace
}  // namespace krevo::ftp
