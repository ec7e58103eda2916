// Transfers with a bound: a file longer than expected and an endless sender
// are cut at the bound, and the session goes on.
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

using test::Caught;
using test::TTempFolder;

std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i * 7 % 26);
  return bytes;
}

TEST(NetFTPTransferBound, AFileLongerThanItsBoundIsCutAndTheSameSessionRetrievesTheNext) {
  struct Case {
    std::size_t size;
    std::int64_t bound;
    std::size_t resumeAt;  // bytes already there (resumed transfer)
    bool tooLong;
  };
  const std::vector<Case> cases = {
      {1000, 1000, 0, false},      // exactly the bound
      {1001, 1000, 0, true},       // one byte more
      {5000, 0, 0, true},          // nothing expected
      {3000, 2999, 1000, true},    // resumed: the bytes before count
      {3000, 3000, 1000, false},   //
      {8 << 20, 100000, 0, true},  // still being sent when cut
  };
  TTempFolder site;
  const std::string other = Pattern(70001);
  site.WriteFile("other.zip", other);
  for (std::size_t i = 0; i < cases.size(); ++i)
    site.WriteFile("f" + std::to_string(i), Pattern(cases[i].size));
  test::TRealFtpServer server(site.Path());
  for (const bool passive : {true, false}) {
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server.Port());
    ftp.Passive = passive;
    ftp.OpenSession(true, -1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(std::to_string(i) + (passive ? " passive" : " active"));
      const std::string whole = Pattern(c.size);
      base::TMemoryStream stream;
      stream.WriteBuffer(whole.data(), static_cast<std::int64_t>(c.resumeAt));
      const auto start = std::chrono::steady_clock::now();
      if (c.tooLong) {
        auto e = Caught<ENetTransferTooLong>([&] {
          ftp.RetrieveIntoStream("f" + std::to_string(i), stream, c.resumeAt > 0, c.bound);
        });
        ASSERT_TRUE(e);
        EXPECT_EQ(std::string(e->what()),
                  "The server sent more than the " + std::to_string(c.bound) + " bytes expected");
        EXPECT_LT(MsSince(start), 5000);
      } else {
        ftp.RetrieveIntoStream("f" + std::to_string(i), stream, c.resumeAt > 0, c.bound);
      }
      // Never a byte past the bound, and what is there is the file's start.
      const std::string held = stream.AsString();
      EXPECT_EQ(held.size(), std::min<std::size_t>(c.size, static_cast<std::size_t>(c.bound)));
      EXPECT_EQ(held, whole.substr(0, held.size()));
      ASSERT_TRUE(ftp.IsLinkOpen());
      base::TMemoryStream next;
      ftp.RetrieveIntoStream("other.zip", next, false, static_cast<std::int64_t>(other.size()));
      EXPECT_EQ(next.AsString(), other);
    }
    ftp.CloseSession();
  }
}

class NetFTPEndlessSender : public ::testing::Test {
 protected:
  std::vector<std::string> Transcript(std::unique_ptr<test::TFakeFtpServer>& server) {
    server.reset();
    return folder.ReadLines("t.txt");
  }
  TTempFolder folder;
};

TEST_F(NetFTPEndlessSender, IsCutAtTheBoundAndHeardOutAfterAbor) {
  auto server = std::make_unique<test::TFakeFtpServer>("endless-file", folder.Path() + "/t.txt");
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server->Port());
  ftp.OpenSession(true, -1);
  for (int round = 0; round < 2; ++round) {
    base::TMemoryStream stream;
    const auto start = std::chrono::steady_clock::now();
    auto e =
        Caught<ENetTransferTooLong>([&] { ftp.RetrieveIntoStream("up.zip", stream, false, 142); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Limit, 142);
    EXPECT_EQ(stream.Size(), 142);
    EXPECT_LT(MsSince(start), 3000);
    ASSERT_TRUE(ftp.IsLinkOpen());
  }
  ftp.SendCommand("NOOP", 200);  // its own answer: nothing is left over
  ftp.CloseSession();
  const std::vector<std::string> retrieval = {"PASV", "RETR up.zip", "ABOR", "NOOP"};
  std::vector<std::string> expected = {"USER krevoftp", "PASS q7wz2kp", "TYPE I", "SYST"};
  for (int round = 0; round < 2; ++round)
    expected.insert(expected.end(), retrieval.begin(), retrieval.end());
  expected.push_back("NOOP");
  EXPECT_EQ(Transcript(server), expected);
}

TEST_F(NetFTPEndlessSender, ThatFallsSilentAfterTheCutHasTheSessionClosedInTime) {
  auto server =
      std::make_unique<test::TFakeFtpServer>("endless-file-silent", folder.Path() + "/t.txt");
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server->Port());
  ftp.ReadTimeout = 500;
  ftp.OpenSession(true, -1);
  base::TMemoryStream stream;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ftp.RetrieveIntoStream("up.zip", stream, false, 100000), ENetTransferTooLong);
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ(stream.Size(), 100000);
  EXPECT_FALSE(ftp.IsLinkOpen());
}

TEST_F(NetFTPEndlessSender, AListingPastEitherBoundFailsQuicklyAndTheSessionGoesOn) {
  struct Case {
    std::string scenario, error;  // error empty: the listing is taken
  };
  const std::vector<Case> cases = {
      {"listing-at-line-bound", ""},
      {"listing-past-line-bound", "The listing is longer than 100000 lines"},
      {"endless-listing-lines", "The listing is longer than 100000 lines"},
      {"endless-listing-line", "The listing is longer than 16 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    auto server = std::make_unique<test::TFakeFtpServer>(c.scenario, folder.Path() + "/t.txt");
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server->Port());
    ftp.OpenSession(true, -1);
    base::TStringList lines;
    lines.Add("before");
    const auto start = std::chrono::steady_clock::now();
    if (c.error.empty()) {
      ftp.FetchListing(&lines, "up*.zip", true);
      EXPECT_EQ(lines.Count(), TNetFTP::kMaxListingLines);
    } else {
      auto e = Caught<ENetTransferTooLong>([&] { ftp.FetchListing(&lines, "up*.zip", true); });
      ASSERT_TRUE(e);
      EXPECT_EQ(std::string(e->what()), c.error);
      EXPECT_EQ(lines.Lines(), std::vector<std::string>{"before"});
      EXPECT_LT(MsSince(start), 5000);
    }
    ASSERT_TRUE(ftp.IsLinkOpen());
    ftp.SendCommand("NOOP", 200);
    ftp.CloseSession();
  }
}

}  // namespace
}  // namespace krevo::ftp
