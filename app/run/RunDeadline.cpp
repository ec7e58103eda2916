#include "app/run/RunDeadline.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>

#include <cerrno>
#include <cstring>

#include "base/Errors.h"

namespace krevo::app {
namespace {

[[noreturn]] void Refuse(const char* what) {
  throw base::EFCreateError(std::string("Cannot make the run's ") + what + ": " +
                            std::strerror(errno));
}

void Watch(int set, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (::epoll_ctl(set, EPOLL_CTL_ADD, fd, &event) != 0) Refuse("deadline");
}

}  // namespace

void TRunDeadline::Arm(int seconds, int stopFd) {
  if (armed_) return;
  armed_ = true;
  stopFd_ = stopFd;
  seconds_ = seconds;
  if (seconds <= 0) return;
  // The timer is never read, so it stays readable once it fired; an epoll set
  // is readable while one of its descriptors is (level-triggered), so the
  // one descriptor carries both the stop and the deadline to every poll.
  timer_.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (!timer_) Refuse("clock");
  itimerspec when{};
  when.it_value.tv_sec = seconds;
  if (::timerfd_settime(timer_.get(), 0, &when, nullptr) != 0) Refuse("clock");
  base::UniqueFd set(::epoll_create1(EPOLL_CLOEXEC));
  if (!set) Refuse("deadline");
  Watch(set.get(), timer_.get());
  if (stopFd >= 0) Watch(set.get(), stopFd);
  watch_ = std::move(set);
}

bool TRunDeadline::Passed() const {
  if (!timer_) return false;
  pollfd p{timer_.get(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

}  // namespace krevo::app
