// The FTP client over IPv6 against the real server (pyftpdlib on ::1): the
// listing and the download with EPSV, active mode with EPRT, and the stack's
// address texts of both families.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/NetBuffer.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetFTP.h"
#include "ftp/NetStack.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/UpdaterClient.h"

namespace krevo::ftp {
namespace {

using test::TRealFtpServer;
using test::TTempFolder;

// Records the commands sent on the control connection.
class TCommandLog final : public TNetConnectionIntercept {
 public:
  void Send(TNetSimpleBuffer& buffer) override {
    const std::string line(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
    commands.push_back(line.substr(0, line.find_first_of(" \r")));
  }
  std::vector<std::string> commands;
};

TEST(NetFTPOverIPv6, ListsAndRetrievesPassiveWithEpsvAndActiveWithEprt) {
  if (!test::HaveIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback (::1 cannot be bound)";
  TTempFolder home;
  std::string payload(100000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);
  home.WriteFile("krevo/updates/up080307.zip", payload);
  TRealFtpServer server(home.Path(), "dos", "krevoftp", "q7wz2kp", 0, "::1");
  for (const bool passive : {true, false}) {
    TNetFTP ftp;
    test::ConfigureAsUpdater(ftp, server.Port(), "::1");
    ftp.Passive = passive;
    TCommandLog log;
    ftp.Intercept = &log;
    ftp.OpenSession(true, -1);
    EXPECT_EQ(ftp.Binding()->PeerIP(), "::1");
    ftp.EnterDirectory("krevo");
    ftp.EnterDirectory("updates");
    base::TStringList lines;
    ftp.FetchListing(&lines, "up*.zip", true);
    ASSERT_EQ(lines.Count(), 1) << passive;
    EXPECT_EQ(lines[0].substr(39), "up080307.zip");
    base::TMemoryStream stream;
    ftp.RetrieveIntoStream("up080307.zip", stream, false);
    EXPECT_EQ(stream.AsString(), payload) << passive;
    ftp.CloseSession();
    const std::string dataCommand = passive ? "EPSV" : "EPRT";
    EXPECT_EQ(log.commands, (std::vector<std::string>{"USER", "PASS", "TYPE", "SYST", "CWD", "CWD",
                                                      dataCommand, "LIST", dataCommand, "RETR"}))
        << passive;
  }
}

TEST(NetStackAddresses, FamiliesOfAddressTextAndLiteralsNeedNoLookUp) {
  const std::pair<const char*, int> families[] = {
      {"127.0.0.1", AF_INET},       {"::1", AF_INET6},    {"fe80::1%lo", AF_INET6},
      {"::ffff:1.2.3.4", AF_INET6}, {"[::1]", AF_UNSPEC}, {"::1:", AF_UNSPEC},
      {"localhost", AF_UNSPEC},     {"", AF_UNSPEC},      {"1.2.3", AF_UNSPEC},
      {"12345::1", AF_UNSPEC},
  };
  for (auto [text, family] : families) EXPECT_EQ(TNetStack::AddressFamily(text), family) << text;
  TNetComponent keepStack;
  TNetStack& stack = TNetComponent::Stack();
  EXPECT_EQ(stack.LookUpHostAddresses("::1"), (std::vector<std::string>{"::1"}));
  EXPECT_EQ(stack.LookUpHostAddresses("LocalHost"), (std::vector<std::string>{"127.0.0.1"}));
  // Brackets belong to URLs: in a host name they are no address.
  EXPECT_THROW(stack.LookUpHostAddresses("[::1]"), ENetSocketError);
}

}  // namespace
}  // namespace krevo::ftp
