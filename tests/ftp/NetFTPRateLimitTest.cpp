// The floor and the cap on a data connection's speed: a server that drips
// is ended within the floor's window although it is never silent for long,
// and a capped transfer keeps near its rate without tripping the floor.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <typeinfo>

#include "ftp/NetFTP.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/TlsTestSite.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using Clock = std::chrono::steady_clock;

struct TOutcome {
  std::string type;  // empty: the retrieval went through
  std::string message;
  double seconds = 0;
};

// Open, CWD krevo, CWD updates, RETR up080101.zip into `stream`, timed.
TOutcome Retrieve(TNetFTP& ftp, base::TStream& stream) {
  TOutcome o;
  const auto start = Clock::now();
  try {
    ftp.OpenSession(true, -1);
    ftp.EnterDirectory("krevo");
    ftp.EnterDirectory("updates");
    ftp.RetrieveIntoStream("up080101.zip", stream, false);
  } catch (const ENetException& e) {
    o.type = typeid(e).name();
    o.message = e.what();
    // The retry logic above takes it for a time-out.
    EXPECT_NE(dynamic_cast<const ENetReadTimeout*>(&e), nullptr) << e.what();
  }
  o.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return o;
}

TEST(NetFTPRateLimits, AServerThatDripsIsEndedWithinTheFloorsWindow) {
  test::TTempFolder folder;
  test::TFakeFtpServer server("drip-data", folder.Path() + "/drip.txt");
  TNetFTP ftp;
  test::ConfigureAsUpdater(ftp, server.Port());
  // A byte every quarter of a second: the read time-out alone never fires.
  ftp.ReadTimeout = 1500;
  ftp.MinRate = 1024;
  ftp.MinRateTime = 2;
  base::TMemoryStream stream;
  const TOutcome o = Retrieve(ftp, stream);
  EXPECT_EQ(o.type, typeid(ENetTransferTooSlow).name());
  EXPECT_EQ(o.message, "The transfer was slower than 1024 bytes a second for 2 seconds");
  // Checked at the second whole second after the first receive.
  EXPECT_GT(o.seconds, 1.9);
  EXPECT_LT(o.seconds, 4.0);
  EXPECT_LT(stream.Size(), 1020);
  EXPECT_EQ(ftp.TransferLink(), nullptr);
  ftp.CloseSession();
}

TEST(NetFTPRateLimits, ACappedTransferKeepsNearItsRate) {
  const std::string bytes(std::size_t{1} << 20, 'k');
  test::TTempFolder home;
  home.WriteFile("krevo/updates/up080101.zip", bytes);
  test::TRealFtpServer server(home.Path());
  test::TTestCertificates certs;
  test::TTlsFtpServer tlsServer(home.Path(), certs);
  const struct {
    const char* name;
    std::int64_t maxRate, minRate;
    int minRateTime;
    bool tls;
    double least, most;  // seconds, loose: no tight timing on a shared machine
  } cases[] = {
      // 1 MiB at 512 KiB a second, with a floor the cap keeps well above.
      {"512K", 512 * 1024, 1024, 1, false, 1.6, 3.0},
      // The same through TLS, whose records the paced receives cut anywhere.
      {"512K over TLS", 512 * 1024, 1024, 1, true, 1.6, 3.0},
      // A floor alone does not slow a fast transfer.
      {"floor only", 0, 1024, 1, false, 0.0, 1.5},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, tc.tls ? tlsServer.Port() : server.Port());
    if (tc.tls) {
      ftp.Security = fsTLS;
      ftp.CAFile = certs.CA();
    }
    ftp.MaxRate = tc.maxRate;
    ftp.MinRate = tc.minRate;
    ftp.MinRateTime = tc.minRateTime;
    base::TMemoryStream stream;
    const TOutcome o = Retrieve(ftp, stream);
    EXPECT_EQ(o.type, "") << o.message;
    EXPECT_EQ(stream.AsString(), bytes);
    EXPECT_GE(o.seconds, tc.least);
    EXPECT_LE(o.seconds, tc.most);
    ftp.CloseSession();
  }
}

}  // namespace
}  // namespace krevo::ftp
