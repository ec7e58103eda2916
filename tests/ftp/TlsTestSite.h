#pragma once
// TLS material and TLS servers for tests: a CA and server certificates made
// with the openssl command in a temporary folder, pyftpdlib serving explicit
// FTPS with one of them, and vsftpd with its secure defaults (run as root
// only: it needs a local account).
#include <memory>
#include <string>

#include "tests/ftp/FtpServerFixture.h"
#include "tests/ftp/LocalFtpAccount.h"

namespace krevo::ftp::test {

class TTestCertificates {
 public:
  // Makes ca.pem and, signed by it, good.pem (localhost and 127.0.0.1),
  // loopback6.pem (localhost and ::1),
  // wronghost.pem (only wrong.example), expired.pem (localhost, expired
  // yesterday), and untrusted.pem (self-signed, localhost); each with its
  // .key. Throws std::runtime_error when openssl fails.
  TTestCertificates();
  std::string CA() const { return folder_.Path() + "/ca.pem"; }
  // The certificate file of `name` ("good", "wronghost", ...) and its key.
  std::string Cert(const std::string& name) const { return folder_.Path() + "/" + name + ".pem"; }
  std::string Key(const std::string& name) const { return folder_.Path() + "/" + name + ".key"; }

 private:
  TTempFolder folder_;
};

// pyftpdlib with TLS required on control and data connections; `version`
// "any", "1.2" or "1.3"; listening on `host` (127.0.0.1 or ::1).
struct TTlsFtpServer : TFtpServerProcess {
  TTlsFtpServer(const std::string& root, const TTestCertificates& certs,
                const std::string& cert = "good", const std::string& version = "any",
                const std::string& host = "127.0.0.1")
      : TFtpServerProcess("tests/ftp/ftp_server.py",
                          {"--root", root, "--tls", certs.Cert(cert), certs.Key(cert),
                           "--tls-version", version, "--host", host}) {}
};

// vsftpd in the foreground on 127.0.0.1 with force_local_logins_ssl,
// force_local_data_ssl and require_ssl_reuse, serving `root` to the local
// user krevoftp / q7wz2kp (created for the test when missing, and removed
// again). Usable() is false, with the reason, where it cannot run.
class TVsftpdServer {
 public:
  // `tlsVersion` "1.2" caps the server at TLS 1.2 (through its crypto
  // library's configuration: vsftpd has no setting of its own for it); empty
  // leaves its default, TLS 1.3.
  TVsftpdServer(const std::string& root, const TTestCertificates& certs,
                const std::string& tlsVersion = "");
  ~TVsftpdServer();
  TVsftpdServer(const TVsftpdServer&) = delete;
  TVsftpdServer& operator=(const TVsftpdServer&) = delete;
  bool Usable() const { return pid_ > 0 && whyNot_.empty(); }
  const std::string& WhyNot() const { return whyNot_; }
  int Port() const { return port_; }

 private:
  TTempFolder folder_;
  int pid_ = -1;
  int port_ = 0;
  std::unique_ptr<TLocalFtpAccount> account_;  // before the server starts, gone after it
  std::string whyNot_;
};

}  // namespace krevo::ftp::test
