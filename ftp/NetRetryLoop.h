#pragma once
// One transfer tried until it comes whole: after a failure that may pass, or
// an end short of the whole file, the session is brought back in step, the
// retry is said in one line, and after a wait the next try goes on where the
// copy ends. The updater's package downloads and krevo-ftp's transfers both
// run in it, so that they retry, and say so, alike.
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace krevo::ftp {

// How a transfer run by TNetRetryLoop ended.
struct TNetRetryEnd {
  bool whole = false;  // the last try brought the whole transfer
  // When not whole: why the last try did not, as the retry line says it.
  std::string failure;
  // When not whole: the failure the last try threw (one that may pass), or
  // null when it ended short.
  std::exception_ptr error;
};

class TNetRetryLoop final {
 public:
  // One try. Returns nothing when the transfer is whole; else it ended as a
  // whole one does but short of the whole file, and says why in words.
  using TAttempt = std::function<std::optional<std::string>()>;

  // What is transferred, as the retry line names it.
  std::string Name;
  // The retries allowed after the first try.
  int Retries = 0;
  // Whether a reason in the line (and in TNetRetryEnd::failure) ends with a
  // full stop: one is added where it has none.
  bool FullStop = false;
  // Borrowed; -1: none. While it is readable a failure is thrown on as it
  // is, and it cuts the wait before a retry short.
  int StopFd = -1;

  // Brings the session back in step after a try that failed, before the
  // retry (TNetFTP::Resynchronize). Unassigned: nothing.
  std::function<void()> OnResynchronize;
  // Where the copy ends now, in bytes: where the retry goes on. Unassigned: 0.
  std::function<std::int64_t()> OnCopyEnd;
  // Whether the server refused to go on from there (REST), so that the
  // retry starts from byte 0. Unassigned: false.
  std::function<bool()> OnResumeRefused;
  // Each retry's line, said before its wait:
  // "Retrying NAME from byte N (I of RETRIES): REASON", where REASON is the
  // failure's message or the short end's words on one line, control
  // characters escaped (base::FailureText). Unassigned: nothing is said.
  std::function<void(const std::string& note)> OnRetry;

  // Runs `attempt` until it returns nothing (the result is then whole). A try
  // that throws a failure that may pass (IsTransientFailure) while StopFd is
  // not readable, or that ends short, is followed by OnResynchronize,
  // OnRetry and a wait (RetryDelayMilliseconds, its jitter drawn from
  // `random`, borrowed) and tried again, up to Retries times; after the last
  // try the result says why it failed (the session is then left as that try
  // left it). Throws anything else `attempt` throws, as it is and before any
  // resynchronising; ENetOperationAborted when StopFd cuts a wait short.
  TNetRetryEnd Run(const TAttempt& attempt, std::mt19937& random) const;
};

}  // namespace krevo::ftp
