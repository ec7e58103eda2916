#pragma once
// Starts an FTP server process for a test and stops it in the destructor: the
// real server (pyftpdlib, tests/ftp/ftp_server.py) with a home folder and an
// account, or the scripted fake server (tests/ftp/fake_ftp_server.py) with a
// scenario. Both listen on 127.0.0.1 with an ephemeral port, read from the
// first line of their standard output (or on ::1, when asked to).
#include <sys/types.h>

#include <string>
#include <vector>

namespace krevo::ftp::test {

class TFtpServerProcess {
 public:
  // Runs /usr/bin/python3 with `script` (relative to the source tree) and
  // `args`. Throws std::runtime_error when the server does not start within 20 s.
  TFtpServerProcess(const std::string& script, const std::vector<std::string>& args);
  ~TFtpServerProcess();
  TFtpServerProcess(const TFtpServerProcess&) = delete;
  TFtpServerProcess& operator=(const TFtpServerProcess&) = delete;

  int Port() const { return port_; }
  // Ends the server at once with `signal` (SIGKILL: no clean-up of its own, as
  // when the machine's server process dies) and reaps it. Safe to repeat.
  void Kill(int signal);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The real server serving `root` to user/password (the updater's account by
// default); `listing` "dos" (the update server's style) or "unix"; with
// `throttle` > 0, data connections send at most that many bytes a second;
// listening on `host` (127.0.0.1 or ::1).
struct TRealFtpServer : TFtpServerProcess {
  explicit TRealFtpServer(const std::string& root, const std::string& listing = "dos",
                          const std::string& user = "krevoftp",
                          const std::string& password = "q7wz2kp", int throttle = 0,
                          const std::string& host = "127.0.0.1")
      : TFtpServerProcess("tests/ftp/ftp_server.py",
                          {"--root", root, "--listing", listing, "--user", user, "--password",
                           password, "--throttle", std::to_string(throttle), "--host", host}) {}
};

// The scripted server running `scenario` on `host`; every command line it
// receives is appended to the file `transcript`.
struct TFakeFtpServer : TFtpServerProcess {
  TFakeFtpServer(const std::string& scenario, const std::string& transcript,
                 const std::string& host = "127.0.0.1")
      : TFtpServerProcess("tests/ftp/fake_ftp_server.py",
                          {scenario, "--transcript", transcript, "--host", host}) {}
};

// Whether a socket can be bound to ::1 here; tests over IPv6 skip without.
bool HaveIPv6Loopback();

// A fresh temporary folder, removed with everything in it by the destructor.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& Path() const { return path_; }
  // Writes `bytes` to the file `relative` below the folder, creating folders.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  std::string ReadFile(const std::string& relative) const;
  // The lines of the file `relative` (a server's transcript), each without
  // its CR LF; a last line without one is left out.
  std::vector<std::string> ReadLines(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace krevo::ftp::test
