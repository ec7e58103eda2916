// Reads N MiB (default 1024) over loopback through TNetTCPConnection::ReadToStream
// (until closed) into a null stream and prints the reader's CPU time. The
// sender is a child process, so its CPU time is not counted. With --plain the
// same bytes are read by a bare recv() loop into a buffer as large as the
// connection's bulk receive instead: the floor the connection is held to.
//   ftp-read-bench [--plain] [MiB]
// Prints one line: read BYTES bytes (EVENTS work events) in W s wall, C s
// reader CPU, R MiB/s. Exits 0 when every byte arrived, 1 when the
// loopback connection could not be made, 2 when bytes were missing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "base/Streams.h"
#include "ftp/NetTCPClient.h"

namespace {

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Sends `total` bytes to the first connection on `listener`, then closes it.
[[noreturn]] void Send(int listener, long long total) {
  int s = accept(listener, nullptr, nullptr);
  if (s < 0) _exit(1);
  std::vector<char> block(1 << 20, 'k');
  for (long long sent = 0; sent < total;) {
    ssize_t n = send(s, block.data(),
                     static_cast<std::size_t>(std::min<long long>(total - sent, 1 << 20)), 0);
    if (n <= 0) _exit(1);
    sent += n;
  }
  close(s);
  _exit(0);
}

// Reads from `s` until the peer closes with recv() alone, then closes `s`
// -> the bytes read, -1 on an error.
long long ReadPlain(int s, std::size_t chunk) {
  std::vector<char> buffer(chunk);
  long long read = 0;
  for (ssize_t n; (n = recv(s, buffer.data(), buffer.size(), 0)) != 0; read += n) {
    if (n < 0) {
      read = -1;
      break;
    }
  }
  close(s);
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  const bool plain = argc > arg && std::strcmp(argv[arg], "--plain") == 0;
  if (plain) ++arg;
  const long mib = argc > arg ? std::atol(argv[arg]) : 1024;
  const long long total = mib * 1024LL * 1024LL;
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 1;
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) Send(listener, total);
  close(listener);

  krevo::ftp::TNetTCPClient client;
  long long works = 0, received = 0;
  double cpu0 = 0;
  auto wall0 = std::chrono::steady_clock::now();
  if (plain) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0 || connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      kill(child, SIGKILL);  // it waits in accept()
      waitpid(child, nullptr, 0);
      return 1;
    }
    cpu0 = ProcessCpuSeconds();
    wall0 = std::chrono::steady_clock::now();
    received = ReadPlain(s, static_cast<std::size_t>(client.BulkReceiveSize));
  } else {
    client.SetHost("127.0.0.1");
    client.SetPort(ntohs(a.sin_port));
    client.OpenLink();
    client.OnWork = [&](krevo::ftp::TNetComponent*, krevo::ftp::TWorkMode, std::int64_t) {
      ++works;
    };
    krevo::base::TNullStream sink;
    cpu0 = ProcessCpuSeconds();
    wall0 = std::chrono::steady_clock::now();
    client.ReadToStream(sink, -1, true);
    received = static_cast<long long>(sink.Size());
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = ProcessCpuSeconds() - cpu0;
  int status;
  waitpid(child, &status, 0);
  if (received < 0) return 1;
  std::printf("read %lld bytes (%lld work events) in %.3f s wall, %.3f s reader CPU, %.0f MiB/s\n",
              received, works, wall, cpu, static_cast<double>(mib) / wall);
  return received == total ? 0 : 2;
}
