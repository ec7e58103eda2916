// The whole update run against servers other than the update server: Unix
// listings, servers that do not expand "up*.zip", vsftpd, and a server that
// accepts only encrypted sessions.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/FileDescriptor.h"
#include "tests/app/support/UpdateSite.h"
#include "tests/ftp/LocalFtpAccount.h"

namespace krevo::test {
namespace {

const std::string kTwoInstalled =
    "Information: 2 new updates were downloaded. Please restart krevo from your usual icon. "
    "1 file was updated.\n";

// Two packages, the second replacing the first one's file; beside them what a
// plain listing of the folder also shows: another file and, where the
// listing tells them apart (`unix`), a folder and a link named like packages.
void OfferTwoPackages(const UpdateSite& site, bool unix) {
  site.AddPackage("080307", {{"bin/krevo.dll", "dll 1", LocalTime(2008, 3, 7)},
                             {"readme.txt", "readme 1", LocalTime(2008, 3, 7)}});
  site.AddPackage("090101", {{"bin/krevo.dll", "dll 2", LocalTime(2009, 1, 1)}});
  const std::filesystem::path updates = site.serverRoot / "krevo/updates";
  std::ofstream(updates / "notes.txt") << "not a package";
  if (!unix) return;
  std::filesystem::create_directory(updates / "up991231.zip");
  std::filesystem::create_symlink("up080307.zip", updates / "up991230.zip");
}

void ExpectTwoInstalled(const UpdateSite& site, const RunResult& r) {
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, kTwoInstalled);
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up080307\.zip ... complete\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(up090101\.zip ... complete\n)"))) << r.out;
  // The folder and the link may be listed, but nothing is fetched for them.
  EXPECT_FALSE(std::regex_search(r.out, std::regex(R"(up99123[01]\.zip[^\n]* \.\.\. )"))) << r.out;
  EXPECT_EQ(r.out.find("notes.txt"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(site.install / "bin/krevo.dll"), "dll 2");
  EXPECT_EQ(ReadFile(site.install / "readme.txt"), "readme 1");
}

struct ServerStyle {
  const char* listing;    // tests/ftp/ftp_server.py --listing
  const char* wildcards;  // --wildcards
};

void PrintTo(const ServerStyle& s, std::ostream* os) {
  *os << s.listing << "/" << s.wildcards;
}

class UpdateRunServerStyle : public ::testing::TestWithParam<ServerStyle> {};

TEST_P(UpdateRunServerStyle, InstallsBothPackages) {
  UpdateSite site;
  OfferTwoPackages(site, std::string(GetParam().listing) == "unix");
  site.RestartServer({"--listing", GetParam().listing, "--wildcards", GetParam().wildcards});
  const RunResult r = site.Run();
  ExpectTwoInstalled(site, r);
  // The plain listing of the folder is held to the packages.
  if (std::string(GetParam().wildcards) != "expand") {
    EXPECT_EQ(r.out.find("up99123"), std::string::npos) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, UpdateRunServerStyle,
    ::testing::Values(ServerStyle{"unix", "expand"},
                      // Stock pyftpdlib: "550 No such file or directory." to the pattern.
                      ServerStyle{"unix", "refuse"}, ServerStyle{"dos", "refuse"},
                      // An empty listing for the pattern.
                      ServerStyle{"unix", "empty"}, ServerStyle{"dos", "empty"}),
    [](const auto& info) { return std::string(info.param.listing) + "_" + info.param.wildcards; });

TEST(UpdateRunServers, AServerThatDemandsEncryptionIsToldAsSuch) {
  UpdateSite site;
  ftp::test::TTempFolder scratch;
  const std::string transcript = scratch.Path() + "/transcript";
  ftp::test::TFakeFtpServer server("pass-needs-tls", transcript);
  site.UseServerAt(server.Port());
  RunResult r = site.Run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "Krevo-updater: The server requires an encrypted (TLS) connection: set Security=tls in "
            "the [Updater] section of config.ini. The server replied: 530 Non-anonymous sessions "
            "must use encryption.\n");
}

bool Accepts(int port) {
  base::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TEST(UpdateRunServers, Vsftpd) {
  if (!std::filesystem::exists("/usr/sbin/vsftpd")) GTEST_SKIP() << "vsftpd is not installed";
  // It logs the user in through PAM and runs the session as that user.
  if (::geteuid() != 0) GTEST_SKIP() << "vsftpd with a local account needs root";
  UpdateSite site;
  OfferTwoPackages(site, true);
  // The session runs as krevoftp, who must read the served folder.
  std::filesystem::permissions(site.serverRoot.Folder(), std::filesystem::perms(0755));
  ftp::test::TLocalFtpAccount account;
  std::filesystem::create_directories("/var/run/vsftpd/empty");

  const int port = FreePort(), dataPort = FreePort();
  TempDir config;
  const std::string conf = config.Write(
      "vsftpd.conf",
      "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(port) +
          "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=NO\n"
          "local_root=" +
          site.serverRoot.Folder() +
          "\nchroot_local_user=NO\npam_service_name=vsftpd\nuserlist_enable=NO\n"
          "secure_chroot_dir=/var/run/vsftpd/empty\nseccomp_sandbox=NO\nssl_enable=NO\n"
          "pasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port=" +
          std::to_string(dataPort) +
          "\npasv_max_port=" + std::to_string(std::min(dataPort + 20, 65535)) + "\n");
  BackgroundProcess vsftpd({"/usr/sbin/vsftpd", conf}, "/dev/null");
  for (int i = 0; i < 500 && !Accepts(port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(Accepts(port)) << "vsftpd did not start";
  site.UseServerAt(port);
  ExpectTwoInstalled(site, site.Run());
}

}  // namespace
}  // namespace krevo::test
