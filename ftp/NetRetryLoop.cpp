#include "ftp/NetRetryLoop.h"

#include "base/ControlEscape.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetRetry.h"

namespace krevo::ftp {

TNetRetryEnd TNetRetryLoop::Run(const TAttempt& attempt, std::mt19937& random) const {
  for (int retries = 0;; ++retries) {
    TNetRetryEnd end;
    try {
      const std::optional<std::string> shortEnd = attempt();
      if (!shortEnd) return {true, {}, nullptr};
      end.failure = base::EscapeControlCharacters(*shortEnd);
    } catch (const std::exception& e) {
      // A stop may break a transfer off as a lost link does: it is not retried.
      if (!IsTransientFailure(e) || StopSignalled(StopFd)) throw;
      end.failure = base::FailureText(e);
      end.error = std::current_exception();
    }
    if (FullStop && (end.failure.empty() || end.failure.back() != '.')) end.failure += '.';
    if (retries >= Retries) return end;
    if (OnResynchronize) OnResynchronize();
    const bool refused = OnResumeRefused && OnResumeRefused();
    const std::int64_t at = !refused && OnCopyEnd ? OnCopyEnd() : 0;
    if (OnRetry)
      OnRetry("Retrying " + Name + " from byte " + std::to_string(at) + " (" +
              std::to_string(retries + 1) + " of " + std::to_string(Retries) + "): " + end.failure);
    if (!PauseBeforeRetry(RetryDelayMilliseconds(retries + 1, random), StopFd))
      throw ENetOperationAborted();
  }
}

}  // namespace krevo::ftp
