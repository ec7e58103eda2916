#pragma once
// A virtual display of 1024x768: Xvfb on a display it picks itself
// (-displayfd), named by DISPLAY in this process, and so in the programs it
// starts, while this object lives. The tests that use one take turns (a lock
// held until the display is gone): two servers started at the same moment
// were seen to end up on one display. The server never resets (-noreset):
// one that resets when its last client leaves drops the connections made
// meanwhile, and the tests' own probes (xwininfo) come and go.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace krevo::test {

class TVirtualDisplay {
 public:
  TVirtualDisplay() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    lock_ = ::open("/tmp/krevo-test-display.lock", O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0) return;
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ < 0) {
      ::close(fds[0]), ::close(fds[1]);
      return;
    }
    if (pid_ == 0) {
      ::dup2(fds[1], 9);
      if (fds[0] != 9) ::close(fds[0]);
      if (fds[1] != 9) ::close(fds[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1), ::dup2(null, 2);
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "9", "-screen", "0", "1024x768x24",
              "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    // Xvfb writes the number once it accepts connections; a closed pipe
    // without one means it did not start. At most 30 s.
    std::string number;
    char c;
    pollfd ready = {fds[0], POLLIN, 0};
    while (::poll(&ready, 1, 30000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
  }
  ~TVirtualDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    if (!display_.empty()) ::unsetenv("DISPLAY");
    if (lock_ >= 0) ::close(lock_);
  }
  TVirtualDisplay(const TVirtualDisplay&) = delete;
  TVirtualDisplay& operator=(const TVirtualDisplay&) = delete;

  bool Usable() const { return !display_.empty(); }

 private:
  int lock_ = -1;
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace krevo::test
