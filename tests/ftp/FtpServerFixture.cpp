#include "tests/ftp/FtpServerFixture.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/FileDescriptor.h"

extern char** environ;

namespace krevo::ftp::test {
namespace {

std::string SourceDir() {
  const char* env = std::getenv("KREVO_SOURCE_DIR");
  return env ? env : KREVO_SOURCE_DIR_DEFAULT;
}

}  // namespace

TFtpServerProcess::TFtpServerProcess(const std::string& script,
                                     const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  base::UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  std::vector<std::string> argv = {"/usr/bin/python3", SourceDir() + "/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  writeEnd.Reset();
  std::string out;
  char c;
  pollfd p{readEnd.get(), POLLIN, 0};
  while (out.find('\n') == std::string::npos && ::poll(&p, 1, 20000) == 1 &&
         ::read(readEnd.get(), &c, 1) == 1)
    out += c;
  if (out.rfind("PORT ", 0) != 0) {
    Kill(SIGTERM);
    throw std::runtime_error("FTP server did not start: " + script + " said \"" + out + "\"");
  }
  port_ = std::stoi(out.substr(5));
}

TFtpServerProcess::~TFtpServerProcess() {
  Kill(SIGTERM);
}

void TFtpServerProcess::Kill(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  int status;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool HaveIPv6Loopback() {
  base::UniqueFd s(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (s.get() < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  return ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TTempFolder::TTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "krevo-ftp-test.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TTempFolder::~TTempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TTempFolder::WriteFile(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path p = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string TTempFolder::ReadFile(const std::string& relative) const {
  std::ifstream in(std::filesystem::path(path_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> TTempFolder::ReadLines(const std::string& relative) const {
  const std::string text = ReadFile(relative);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

}  // namespace krevo::ftp::test
