#pragma once
// TNetRateLimits and TNetRateGovernor: the floor and the cap on the speed of
// one connection's receives. The floor ends a transfer that drips (a byte
// now and then is not silence, so ReadTimeout alone never ends it); the cap
// paces the receives for a metered or shared link.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace krevo::ftp {

struct TNetRateLimits {
  // The longest window of the floor, in seconds: its per-second counts are
  // kept for the whole window.
  static constexpr int kMaxMinRateTime = 3600;

  // The floor, in bytes a second, over MinRateTime seconds (at most
  // kMaxMinRateTime; more counts as that). Counted from the connection's
  // first receive: at each whole second k >= MinRateTime after it, the bytes
  // received in the seconds [k - MinRateTime, k) must be at least MinRate *
  // MinRateTime, else the receive fails with ENetTransferTooSlow. Each wait
  // for data is cut at the next whole second so that the check is made on
  // time even while the peer is silent. 0 in either: no floor.
  std::int64_t MinRate = 0;
  int MinRateTime = 0;
  // The cap, in bytes a second; 0: none. Receives are paced by a bucket
  // that fills at MaxRate and holds at most Burst() bytes (it starts full):
  // over any span of t seconds at most MaxRate * t + Burst() bytes are
  // received.
  std::int64_t MaxRate = 0;

  bool HasFloor() const { return MinRate > 0 && MinRateTime > 0; }
  bool HasCap() const { return MaxRate > 0; }
  bool Active() const { return HasFloor() || HasCap(); }
  // A twentieth of a second at MaxRate, from 1 byte to 64 KiB: a pause between
  // receives is at most a second (at a cap under 20 bytes a second) and at
  // most a twentieth of one otherwise.
  std::int64_t Burst() const;
};

// Parses a byte rate: digits with an optional suffix K or M (either case),
// counting 1024 and 1024 * 1024 as curl's do. Returns false, leaving `value`
// alone, for anything else (signs, blanks, fractions, other suffixes) and for a
// value past 2^40 bytes a second.
bool ParseByteRate(const std::string& text, std::int64_t& value);

// Sleeps until `until` on the steady clock. Returns false at once when
// `abortFd` (borrowed, -1: none) is or becomes readable first, true
// otherwise (also when the system cannot wait: the caller goes on at once).
bool SleepUntil(std::chrono::steady_clock::time_point until, int abortFd);

// The state of the limits over one connection's life. Not thread-safe; the
// connection owns one and starts it at its first receive.
class TNetRateGovernor final {
 public:
  using Clock = std::chrono::steady_clock;

  // Forgets any earlier transfer; the next Start begins the count again.
  void Stop() { started_ = false; }
  bool Started() const { return started_; }
  // Begins counting with `limits` now.
  void Start(const TNetRateLimits& limits);

  // The most bytes the next receive may take: `wanted` without a cap; with
  // one, after waiting until the bucket holds min(wanted, Burst()) bytes, that
  // many. The wait ends early, with ENetOperationAborted, once `abortFd`
  // (borrowed, -1: none) is readable; it is never longer than a second.
  std::int64_t Pace(std::int64_t wanted, int abortFd);
  // Counts `n` bytes received now.
  void Count(std::int64_t n);
  // Throws ENetTransferTooSlow when the floor's check at the last whole
  // second fails (each second is checked once).
  void CheckFloor();
  // Milliseconds (at least 1) to the next whole second, where the floor is
  // checked; kInfiniteWait without a floor.
  int MillisecondsToCheck() const;

 private:
  // The whole seconds since Start.
  std::int64_t SecondNow(Clock::time_point now) const;
  // Moves the per-second counts on to `second`, clearing the seconds passed.
  void AdvanceTo(std::int64_t second);

  TNetRateLimits limits_;
  bool started_ = false;
  Clock::time_point start_;
  // The floor: bytes received in each second, the last MinRateTime + 1
  // seconds, by second modulo their count.
  std::vector<std::int64_t> perSecond_;
  std::int64_t currentSecond_ = 0;
  std::int64_t checkedSecond_ = 0;
  // The cap: the bucket's bytes, as of `filled_`.
  double tokens_ = 0;
  Clock::time_point filled_;
};

}  // namespace krevo::ftp
