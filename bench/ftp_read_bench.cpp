// Reads N MiB (default 1024) over loopback through TNetTCPConnection::ReadToStream
// (until closed) into a null stream and prints the reader's CPU time. The
// sender is a child process, so its CPU time is not counted.
//   ftp-read-bench [MiB]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 1024;
  const long long total = mib * 1024LL * 1024LL;
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 1;
  pid_t child = fork();
  if (child == 0) {
    int s = accept(listener, nullptr, nullptr);
    std::vector<char> block(1 << 20, 'k');
    for (long long sent = 0; sent < total;) {
      ssize_t n = send(s, block.data(), static_cast<std::size_t>(std::min<long long>(total - sent, 1 << 20)), 0);
      if (n <= 0) _exit(1);
      sent += n;
    }
    close(s);
    _exit(0);
  }
  close(listener);
  krevo::ftp::TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(ntohs(a.sin_port));
  client.OpenLink();
  long long works = 0;
  client.OnWork = [&](krevo::ftp::TNetComponent*, krevo::ftp::TWorkMode, std::int64_t) { ++works; };
  krevo::base::TNullStream sink;
  const double cpu0 = ProcessCpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  client.ReadToStream(sink, -1, true);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = ProcessCpuSeconds() - cpu0;
  int status;
  waitpid(child, &status, 0);
  std::printf("read %lld bytes (%lld work events) in %.3f s wall, %.3f s reader CPU, %.0f MiB/s\n",
              static_cast<long long>(sink.Size()), works, wall, cpu, static_cast<double>(mib) / wall);
  return sink.Size() == total ? 0 : 2;
}
