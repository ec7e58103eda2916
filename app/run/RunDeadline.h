#pragma once
// The bound on a whole run: a descriptor that becomes readable, and stays so,
// once the host asks the run to stop or the run's time is up. Every wait of
// the run watches it, so a deadline ends the run as a stop does; only the
// message and the exit status differ.
#include "base/FileDescriptor.h"

namespace krevo::app {

class TRunDeadline final {
 public:
  TRunDeadline() = default;
  TRunDeadline(const TRunDeadline&) = delete;
  TRunDeadline& operator=(const TRunDeadline&) = delete;

  // Starts the clock: Descriptor() becomes readable once `stopFd` (borrowed,
  // -1: none) is readable, or `seconds` (0: never) have passed from now. A
  // second call changes nothing. Throws base::EFCreateError when the
  // descriptors cannot be made.
  void Arm(int seconds, int stopFd);
  // The descriptor to watch (owned); `stopFd` itself until Arm made one.
  int Descriptor() const { return watch_ ? watch_.get() : stopFd_; }
  // Whether the run's time is up.
  bool Passed() const;
  // The time the run was given, in seconds (0: none).
  int Seconds() const { return seconds_; }

 private:
  bool armed_ = false;
  int stopFd_ = -1;
  int seconds_ = 0;
  base::UniqueFd timer_;  // a monotonic timerfd that fires once
  base::UniqueFd watch_;  // an epoll set of the stop descriptor and the timer
};

}  // namespace krevo::app
