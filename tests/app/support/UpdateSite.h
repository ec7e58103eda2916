#pragma once
// An installation folder and an update server for one test: the built
// krevo-updater and a krevo.exe in a temporary folder, a config.ini that points
// at a real FTP server on 127.0.0.1 (or ::1), and packages made by Info-ZIP zip in the
// server's krevo/updates folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "base/FileDescriptor.h"
#include "tests/ftp/FtpServerFixture.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace krevo::test {

// A local time as time_t.
inline std::time_t LocalTime(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) {
  return base::DateTimeToTimeT(base::EncodeDate(y, mo, d) + base::EncodeTime(h, mi, s));
}

inline void SetModified(const std::string& path, std::time_t t) {
  struct utimbuf times = {t, t};
  if (::utime(path.c_str(), &times) != 0) throw std::runtime_error("utime " + path);
}

inline std::time_t Modified(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// `size` bytes that do not compress, the same for the same `seed`.
inline std::string Noise(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  return s;
}

struct PackageFile {
  std::string name;  // stored path, '/' separated
  std::string content;
  std::time_t modified;  // the date the package records
};

class UpdateSite {
 public:
  // `throttle` > 0: the server sends at most that many bytes a second. The
  // server listens on `host`, which config.ini names as it stands.
  explicit UpdateSite(int throttle = 0, const std::string& host = "127.0.0.1")
      : server_(std::make_unique<ftp::test::TRealFtpServer>(serverRoot.Folder(), "dos", "krevoftp",
                                                            "q7wz2kp", throttle, host)),
        host_(host) {
    port_ = server_->Port();
    std::filesystem::create_directories(serverRoot / "krevo/updates");
    std::filesystem::copy_file(KREVO_UPDATER_PATH, install / "krevo-updater");
    ::chmod((install / "krevo-updater").c_str(), 0755);
    install.Write("krevo.exe", "main");
    WriteConfig();
  }

  // config.ini with the server, and `extra` lines appended.
  void WriteConfig(const std::string& extra = "") {
    install.Write("config.ini", "[Updater]\r\nHost=" + host_ +
                                    "\r\nPort=" + std::to_string(Port()) + "\r\n" + extra);
  }
  int Port() const { return port_; }
  // Stops the test's own server and names `port` on 127.0.0.1 in config.ini:
  // for a server the test starts by itself.
  void UseServerAt(int port) {
    server_.reset();
    port_ = port;
    WriteConfig();
  }
  // Stops the server: later connections are refused.
  void StopServer() { server_.reset(); }
  // Starts the server again with `options` of tests/ftp/ftp_server.py added
  // (for example "--cut-short"), on a new port that config.ini then names.
  void RestartServer(const std::vector<std::string>& options) {
    server_.reset();
    std::vector<std::string> args = {"--root",     serverRoot.Folder(), "--user", "krevoftp",
                                     "--password", "q7wz2kp",           "--host", host_};
    args.insert(args.end(), options.begin(), options.end());
    server_ = std::make_unique<ftp::test::TFtpServerProcess>("tests/ftp/ftp_server.py", args);
    port_ = server_->Port();
    WriteConfig();
  }

  // Makes up<date>.zip (date YYMMDD) on the server from `files`, with the
  // package password. Returns its path on the server.
  std::string AddPackage(const std::string& date, const std::vector<PackageFile>& files,
                         const std::string& suffix = "",
                         const std::string& password = "plumvat") const {
    TempDir staging;
    for (const PackageFile& f : files) {
      std::filesystem::create_directories(std::filesystem::path(staging / f.name).parent_path());
      SetModified(staging.Write(f.name, f.content), f.modified);
    }
    const std::string package = serverRoot / ("krevo/updates/up" + date + suffix + ".zip");
    std::vector<std::string> args = {"/usr/bin/zip", "-q", "-X", "-D", "-P", password, package};
    for (const PackageFile& f : files) args.push_back(f.name);
    RunResult r = RunProcess(args, staging.Folder());
    if (r.exitCode != 0) throw std::runtime_error("zip failed: " + r.err);
    return package;
  }

  // Makes up<date>.zip on the server with Python's zipfile: unencrypted
  // entries dated 2008-03-07 12:00, each (name, content), the names stored
  // exactly as given (a traversal name, control characters). Returns its path.
  std::string AddRawPackage(const std::string& date,
                            const std::vector<std::pair<std::string, std::string>>& entries) const {
    const std::string package = serverRoot / ("krevo/updates/up" + date + ".zip");
    std::vector<std::string> args = {
        "/usr/bin/python3", "-c",
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for i in range(2, len(sys.argv), 2):\n"
        "        info = zipfile.ZipInfo(sys.argv[i], (2008, 3, 7, 12, 0, 0))\n"
        "        z.writestr(info, sys.argv[i + 1])\n",
        package};
    for (const auto& [name, content] : entries) {
      args.push_back(name);
      args.push_back(content);
    }
    RunResult r = RunProcess(args, serverRoot.Folder());
    if (r.exitCode != 0) throw std::runtime_error("zipfile failed: " + r.err);
    return package;
  }

  // Runs the updater in console mode, standard input from /dev/null. With
  // `killWhen`, `signal` goes to it the first time `killWhen` holds (polled
  // every 10 ms).
  RunResult Run(std::function<bool()> killWhen = nullptr, int signal = SIGKILL) const {
    return RunWith({}, std::move(killWhen), signal);
  }
  // Run with `args` on the command line.
  RunResult RunWith(const std::vector<std::string>& args, std::function<bool()> killWhen = nullptr,
                    int signal = SIGKILL) const {
    RunOptions options;
    options.extraEnv = {"DISPLAY=", "WAYLAND_DISPLAY=", "LC_ALL=C", "TMPDIR=" + tmp.Folder()};
    options.extraEnv.insert(options.extraEnv.end(), env.begin(), env.end());
    options.signalWhen = std::move(killWhen);
    options.signal = signal;
    std::vector<std::string> command = {install / "krevo-updater"};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command, runFolder.empty() ? install.Folder() : runFolder, options);
  }
  std::string Log() const { return ReadFile(install / "updates.log"); }
  // The updater's private folder for downloads in `tmp`, when nobody took its name.
  std::string Staging() const { return tmp / ("krevo-updater-" + std::to_string(::geteuid())); }

  TempDir install;
  TempDir serverRoot;
  TempDir tmp;                   // the updater's temporary folder
  std::string runFolder;         // the current folder of Run; empty: the installation folder
  std::vector<std::string> env;  // added to Run's environment, "NAME=value"

 private:
  std::unique_ptr<ftp::test::TFtpServerProcess> server_;
  std::string host_;
  int port_ = 0;
};

// The status file the last run left in `site`'s installation, parsed; a
// discarded value when it is missing or no JSON.
inline nlohmann::json StatusOf(const UpdateSite& site) {
  return nlohmann::json::parse(ReadFile(site.install / "updates-status.json"), nullptr, false);
}

// A TCP port on 127.0.0.1 that nobody listened on a moment ago.
inline int FreePort() {
  base::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("no free port");
  return ntohs(a.sin_port);
}

}  // namespace krevo::test
