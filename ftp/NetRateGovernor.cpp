#include "ftp/NetRateGovernor.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

#include "ftp/NetExceptions.h"
#include "ftp/NetTypes.h"

namespace krevo::ftp {
namespace {

constexpr std::int64_t kMaxByteRate = std::int64_t{1} << 40;

}  // namespace

bool SleepUntil(std::chrono::steady_clock::time_point until, int abortFd) {
  using Clock = std::chrono::steady_clock;
  while (true) {
    const auto left = until - Clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return true;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec span{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd watched{abortFd, POLLIN, 0};
    const int ready = ::ppoll(&watched, abortFd >= 0 ? 1 : 0, &span, nullptr);
    if (ready > 0) return false;
    if (ready < 0 && errno != EINTR) return true;  // no wait to be had
  }
}

std::int64_t TNetRateLimits::Burst() const {
  return std::clamp<std::int64_t>(MaxRate / 20, 1, 64 * 1024);
}

bool ParseByteRate(const std::string& text, std::int64_t& value) {
  std::size_t digits = 0;
  std::int64_t number = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    number = number * 10 + (text[digits] - '0');
    if (number > kMaxByteRate) return false;
    ++digits;
  }
  if (digits == 0 || text.size() - digits > 1) return false;
  if (digits < text.size()) {
    const char suffix = text[digits];
    if (suffix == 'k' || suffix == 'K')
      number *= 1024;
    else if (suffix == 'm' || suffix == 'M')
      number *= 1024 * 1024;
    else
      return false;
    if (number > kMaxByteRate) return false;
  }
  value = number;
  return true;
}

void TNetRateGovernor::Start(const TNetRateLimits& limits) {
  limits_ = limits;
  limits_.MinRateTime = std::min(limits_.MinRateTime, TNetRateLimits::kMaxMinRateTime);
  limits_.MinRate = std::min(limits_.MinRate, kMaxByteRate);
  started_ = true;
  start_ = filled_ = Clock::now();
  currentSecond_ = checkedSecond_ = 0;
  perSecond_.assign(limits_.HasFloor() ? static_cast<std::size_t>(limits_.MinRateTime) + 1 : 0, 0);
  tokens_ = static_cast<double>(limits_.Burst());
}

std::int64_t TNetRateGovernor::SecondNow(Clock::time_point now) const {
  return std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
}

void TNetRateGovernor::AdvanceTo(std::int64_t second) {
  if (second <= currentSecond_) return;
  const auto n = static_cast<std::int64_t>(perSecond_.size());
  // Only the seconds still in the ring need clearing: a gap longer than the
  // ring clears it all.
  for (std::int64_t s = std::max(currentSecond_ + 1, second - n + 1); s <= second; ++s)
    perSecond_[static_cast<std::size_t>(s % n)] = 0;
  currentSecond_ = second;
}

std::int64_t TNetRateGovernor::Pace(std::int64_t wanted, int abortFd) {
  if (!limits_.HasCap()) return wanted;
  const double rate = static_cast<double>(limits_.MaxRate);
  const double burst = static_cast<double>(limits_.Burst());
  const double target = std::min(static_cast<double>(std::max<std::int64_t>(wanted, 1)), burst);
  auto refill = [&](Clock::time_point now) {
    tokens_ =
        std::min(burst, tokens_ + rate * std::chrono::duration<double>(now - filled_).count());
    filled_ = now;
  };
  refill(Clock::now());
  if (tokens_ < target) {
    const auto wait = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>((target - tokens_) / rate));
    if (!SleepUntil(filled_ + wait, abortFd)) throw ENetOperationAborted();
    refill(Clock::now());
  }
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(tokens_)));
}

void TNetRateGovernor::Count(std::int64_t n) {
  if (limits_.HasCap()) tokens_ -= static_cast<double>(n);
  if (!limits_.HasFloor()) return;
  AdvanceTo(SecondNow(Clock::now()));
  perSecond_[static_cast<std::size_t>(currentSecond_ %
                                      static_cast<std::int64_t>(perSecond_.size()))] += n;
}

void TNetRateGovernor::CheckFloor() {
  if (!limits_.HasFloor()) return;
  const std::int64_t second = SecondNow(Clock::now());
  if (second <= checkedSecond_ || second < limits_.MinRateTime) return;
  AdvanceTo(second);
  checkedSecond_ = second;
  // The window is the seconds before the current one, which is still filling.
  std::int64_t received = 0;
  const auto n = static_cast<std::int64_t>(perSecond_.size());
  for (std::int64_t s = second - limits_.MinRateTime; s < second; ++s)
    received += perSecond_[static_cast<std::size_t>(s % n)];
  if (received < limits_.MinRate * limits_.MinRateTime)
    throw ENetTransferTooSlow(limits_.MinRate, limits_.MinRateTime);
}

int TNetRateGovernor::MillisecondsToCheck() const {
  if (!limits_.HasFloor()) return kInfiniteWait;
  const Clock::time_point now = Clock::now();
  const auto sinceStart = now - start_;
  const auto next = std::chrono::seconds(SecondNow(now) + 1);
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - sinceStart).count();
  return static_cast<int>(std::clamp<std::int64_t>(ms, 1, 1000));
}

}  // namespace krevo::ftp
