#include "tests/ftp/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

namespace krevo::ftp::test {
namespace {

int ListenOnLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("scripted peer cannot listen");
  port = ntohs(a.sin_port);
  return fd;
}

bool WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 10000) == 1;
}

}  // namespace

void TPeerConnection::Send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("peer send failed");
    done += static_cast<std::size_t>(n);
  }
}

std::string TPeerConnection::ReadLine() {
  std::string line;
  char c;
  while (WaitReadable(fd_.get()) && ::recv(fd_.get(), &c, 1, 0) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

std::string TPeerConnection::ReadAll() {
  std::string all;
  char buf[65536];
  ssize_t n;
  while (WaitReadable(fd_.get()) && (n = ::recv(fd_.get(), buf, sizeof buf, 0)) > 0)
    all.append(buf, static_cast<std::size_t>(n));
  return all;
}

void TPeerConnection::Reset() {
  linger l{1, 0};
  ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  fd_.Reset();
}

TScriptedPeer::TScriptedPeer(TScript script, int connections)
    : listener_(ListenOnLoopback(port_)) {
  thread_ = std::thread([this, script, connections] {
    try {
      for (int i = 0; i < connections; ++i) {
        if (!WaitReadable(listener_.get())) throw std::runtime_error("no client connected");
        TPeerConnection connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        script(connection, i);
      }
    } catch (const std::exception& e) {
      error_ = e.what();
    }
  });
}

std::string TScriptedPeer::Join() {
  if (thread_.joinable()) thread_.join();
  return error_;
}

TScriptedPeer::~TScriptedPeer() { Join(); }

int UnusedPort() {
  int port;
  base::UniqueFd fd(ListenOnLoopback(port));
  return port;
}

}  // namespace krevo::ftp::test
