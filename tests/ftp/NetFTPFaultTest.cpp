// Faults on the updater's road through the FTP client: a server that falls
// silent, hangs up or resets between commands or during a transfer, a server
// process that dies mid-transfer, and a transfer past 4 GiB. Each fault ends in
// the client's own error, never in a hang, a crash or a success.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <typeinfo>

#include "ftp/NetFTP.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using test::TFakeFtpServer;
using test::TRealFtpServer;
using test::TTempFolder;

// The updater's steps, in order: which one failed, and with what.
struct TFailure {
  std::string step;
  std::string type;
  std::string message;
};

// Runs the updater's exchange (open, CWD krevo, CWD updates, RETR) into
// `stream` and returns the first failure; an empty step when all went through.
TFailure RunUpdaterExchange(TNetFTP& ftp, base::TStream& stream) {
  std::string step = "open";
  try {
    ftp.OpenSession(true, -1);
    step = "CWD krevo";
    ftp.EnterDirectory("krevo");
    step = "CWD updates";
    ftp.EnterDirectory("updates");
    step = "RETR";
    ftp.RetrieveIntoStream("up080101.zip", stream, false);
  } catch (const ENetException& e) {
    return {step, typeid(e).name(), e.what()};
  }
  return {};
}

TEST(NetFTPFaults, EachFaultEndsInTheDesignedError) {
  const std::string closed = "Connection Closed Gracefully.";
  const std::string reset = "Socket Error # 10054\r\nConnection reset by peer.";
  const struct {
    const char* scenario;
    int readTimeout;  // ms: short where the fault is a silence
    const char* step;
    const std::type_info& type;
    std::string message;
  } cases[] = {
      // Accepts the connection and never sends the greeting.
      {"silent", 1500, "open", typeid(ENetReadTimeout), "Read Timeout"},
      // The control connection closed between two commands: in order, or reset.
      {"hangup-after-cwd", 20000, "CWD updates", typeid(ENetConnClosedGracefully), closed},
      {"reset-after-cwd", 20000, "CWD updates", typeid(ENetSocketError), reset},
      // The control connection closed while the data still flows.
      {"drop-control", 20000, "RETR", typeid(ENetConnClosedGracefully), closed},
      // The data connection reset after 1000 bytes.
      {"reset-data", 20000, "RETR", typeid(ENetSocketError), reset},
      // All the data, then no end reply.
      {"no-end-reply", 1500, "RETR", typeid(ENetReadTimeout), "Read Timeout"},
      // 1000 bytes, then the data connection stays open and quiet.
      {"stall-data", 1500, "RETR", typeid(ENetReadTimeout), "Read Timeout"},
  };
  TTempFolder folder;
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.scenario);
    TFakeFtpServer server(tc.scenario, folder.Path() + "/" + tc.scenario + ".txt");
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server.Port());
    ftp.ReadTimeout = tc.readTimeout;
    base::TMemoryStream stream;
    const TFailure failure = RunUpdaterExchange(ftp, stream);
    EXPECT_EQ(failure.step, tc.step);
    EXPECT_EQ(failure.type, tc.type.name());
    EXPECT_EQ(failure.message, tc.message);
    EXPECT_EQ(ftp.TransferLink(), nullptr);
    // A failed open closes the session itself; a later failure leaves the
    // closing to the caller, which works whatever state the link is in.
    if (tc.step == std::string("open")) {
      EXPECT_FALSE(ftp.IsLinkOpen());
    }
    ftp.CloseSession();
    EXPECT_FALSE(ftp.IsLinkOpen());
  }
}

// Real servers for the cases that need a real file: the package and a file
// past 4 GiB, both sparse, so that neither takes room on the disk.
class NetFTPRealServerFaults : public ::testing::Test {
 protected:
  std::int64_t AddSparseFile(const std::string& name, std::int64_t size) {
    home.WriteFile("krevo/updates/" + name, "");
    std::filesystem::resize_file(home.Path() + "/krevo/updates/" + name, static_cast<std::uintmax_t>(size));
    return size;
  }
  TTempFolder home;
};

TEST_F(NetFTPRealServerFaults, AServerKilledMidTransferIsAClosedConnection) {
  const std::int64_t size = AddSparseFile("up080101.zip", std::int64_t{64} << 20);
  TRealFtpServer server(home.Path());
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server.Port());
  // The first chunk has arrived: the server process dies.
  ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t) { server.Kill(SIGKILL); };
  base::TMemoryStream stream;
  const TFailure failure = RunUpdaterExchange(ftp, stream);
  EXPECT_EQ(failure.step, "RETR");
  EXPECT_EQ(failure.type, typeid(ENetConnClosedGracefully).name());
  EXPECT_EQ(failure.message, "Connection Closed Gracefully.");
  EXPECT_GT(stream.Size(), 0);
  EXPECT_LT(stream.Size(), size);
  EXPECT_EQ(ftp.TransferLink(), nullptr);
  ftp.CloseSession();
}

// About 4 GiB through the loopback: the slowest test of the FTP client.
TEST_F(NetFTPRealServerFaults, ATransferPast4GiBIsCountedWith64BitCounts) {
  const std::int64_t size = AddSparseFile("up080101.zip", (std::int64_t{1} << 32) + 65536 + 123);
  TRealFtpServer server(home.Path());
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server.Port());
  std::int64_t last = 0, events = 0;
  bool increasing = true;
  ftp.OnWork = [&](TNetComponent*, TWorkMode, std::int64_t count) {
    increasing = increasing && count > last;
    last = count;
    ++events;
  };
  base::TNullStream stream;
  const TFailure failure = RunUpdaterExchange(ftp, stream);
  EXPECT_EQ(failure.step, "") << failure.message;
  ftp.CloseSession();
  EXPECT_EQ(stream.Size(), size);
  EXPECT_EQ(stream.Position(), size);
  // One event per full chunk of RecvBufferSize bytes, the count never wrapping.
  EXPECT_TRUE(increasing);
  EXPECT_EQ(last, size - size % ftp.RecvBufferSize);
  EXPECT_EQ(events, size / ftp.RecvBufferSize);
}

}  // namespace
}  // namespace krevo::ftp
