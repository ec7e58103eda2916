#pragma once

namespace krevo::app {

// How the update run ended, for the console's exit status.
enum class TRunOutcome {
  NotStarted,
  InProgress,
  Completed,
  ExclusiveAccessFailed,
  ConnectFailed,
  Failed,
  // The run reached its end, but a package or one of its entries failed.
  PackageFailed
};

}  // namespace krevo::app
