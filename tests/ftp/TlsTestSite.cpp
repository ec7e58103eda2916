#include "tests/ftp/TlsTestSite.h"

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krevo::ftp::test {
namespace {

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}


}  // namespace

TTestCertificates::TTestCertificates() {
  const std::string d = folder_.Path();
  const std::string q = " >/dev/null 2>&1";
  Shell("cd '" + d +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "
        "/CN=KrevoTestCA" +
        q);
  auto leaf = [&](const std::string& name, const std::string& san, const std::string& days) {
    Shell("cd '" + d + "' && printf 'subjectAltName=" + san + "\\n' > " + name + ".ext && " +
          "openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name +
          ".csr -subj /CN=" + name + q + " && openssl x509 -req -in " + name +
          ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -out " + name + ".pem -days " + days +
          " -extfile " + name + ".ext" + q);
  };
  leaf("good", "DNS:localhost,IP:127.0.0.1", "2");
  leaf("loopback6", "DNS:localhost,IP:::1", "2");
  leaf("wronghost", "DNS:wrong.example", "2");
  leaf("expired", "DNS:localhost,IP:127.0.0.1", "-1");
  Shell("cd '" + d +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout untrusted.key -out untrusted.pem "
        "-days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1" +
        q);
}

TVsftpdServer::TVsftpdServer(const std::string& root, const TTestCertificates& certs,
                             const std::string& tlsVersion) {
  if (::geteuid() != 0) {
    whyNot_ = "vsftpd needs a local account: run as root";
    return;
  }
  if (::access("/usr/sbin/vsftpd", X_OK) != 0) {
    whyNot_ = "vsftpd is not installed";
    return;
  }
  account_ = std::make_unique<TLocalFtpAccount>();
  std::filesystem::create_directories(folder_.Path() + "/empty");
  port_ = FreePort();
  const std::string conf = folder_.Path() + "/vsftpd.conf";
  std::ofstream(conf) << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port_
                      << "\nbackground=NO\nlocal_enable=YES\nlocal_root=" << root
                      << "\npam_service_name=vsftpd\nssl_enable=YES\nrsa_cert_file="
                      << certs.Cert("good") << "\nrsa_private_key_file=" << certs.Key("good")
                      << "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                         "require_ssl_reuse=YES\nsecure_chroot_dir="
                      << folder_.Path() << "/empty\nseccomp_sandbox=NO\n";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  if (tlsVersion == "1.2") {
    const std::string ssl = folder_.Path() + "/openssl.cnf";
    std::ofstream(ssl) << "openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\n"
                          "system_default = capped\n[capped]\nMaxProtocol = TLSv1.2\n";
    env.push_back("OPENSSL_CONF=" + ssl);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execle("/usr/sbin/vsftpd", "vsftpd", conf.c_str(), static_cast<char*>(nullptr), envp.data());
    ::_exit(127);
  }
  for (int i = 0; i < 200 && !Accepts(port_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  if (!Accepts(port_)) whyNot_ = "vsftpd did not start";
}

TVsftpdServer::~TVsftpdServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

}  // namespace krevo::ftp::test
