#include "ftp/NetRetry.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

#include "ftp/NetExceptions.h"
#include "ftp/NetRateGovernor.h"

namespace krevo::ftp {

bool IsTransientFailure(const std::exception& failure) {
  if (const auto* reply = dynamic_cast<const ENetProtocolReplyError*>(&failure))
    return reply->ReplyCode >= 400 && reply->ReplyCode < 500;
  if (dynamic_cast<const ENetTLSCertificateError*>(&failure)) return false;
  return dynamic_cast<const ENetSocketError*>(&failure) ||
         dynamic_cast<const ENetConnClosedGracefully*>(&failure) ||
         dynamic_cast<const ENetClosedSocket*>(&failure) ||
         dynamic_cast<const ENetNotConnected*>(&failure) ||
         dynamic_cast<const ENetConnectException*>(&failure) ||
         dynamic_cast<const ENetConnectTimeout*>(&failure) ||
         dynamic_cast<const ENetReadTimeout*>(&failure) ||
         dynamic_cast<const ENetTLSError*>(&failure);
}

int RetryDelayMilliseconds(int retry, std::mt19937& random) {
  constexpr int kLongest = 60000;
  const int shift = std::clamp(retry - 1, 0, 16);
  const int base = std::min(kLongest, 1000 << shift);
  std::uniform_int_distribution<int> jitter(base * 3 / 4, base * 5 / 4);
  return jitter(random);
}

bool StopSignalled(int stopFd) {
  if (stopFd < 0) return false;
  pollfd p{stopFd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

bool PauseBeforeRetry(int milliseconds, int abortFd) {
  return SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds),
                    abortFd);
}

}  // namespace krevo::ftp
