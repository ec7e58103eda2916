#include "app/ui/CloseSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace krevo::app {
namespace {

volatile sig_atomic_t gCaught = 0;
volatile sig_atomic_t gFirst = 0;
int gPipe[2] = {-1, -1};
// Written once, never read: readable from the first signal on.
int gStop[2] = {-1, -1};

void OnSignal(int sig) {
  int saved = errno;
  gCaught = sig;
  char c = 1;
  if (gPipe[1] >= 0) {
    [[maybe_unused]] ssize_t n = ::write(gPipe[1], &c, 1);
  }
  if (gFirst == 0) {
    gFirst = sig;
    if (gStop[1] >= 0) {
      [[maybe_unused]] ssize_t n = ::write(gStop[1], &c, 1);
    }
  }
  errno = saved;
}

}  // namespace

void InstallCloseSignals() {
  if (gPipe[0] >= 0) return;
  if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  if (::pipe2(gStop, O_CLOEXEC | O_NONBLOCK) != 0) gStop[0] = gStop[1] = -1;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

int TakeCloseSignal() {
  int sig = gCaught;
  gCaught = 0;
  return sig;
}

int CloseSignalFd() {
  return gPipe[0];
}

void DrainCloseSignalFd() {
  char buf[64];
  while (gPipe[0] >= 0 && ::read(gPipe[0], buf, sizeof buf) > 0) {
  }
}

int StopSignalFd() {
  return gStop[0];
}

int StopSignal() {
  return gFirst;
}

}  // namespace krevo::app
