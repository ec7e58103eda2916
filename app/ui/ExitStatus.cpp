#include "app/ui/ExitStatus.h"

namespace krevo::app {

int ConsoleExitStatus(TRunOutcome outcome, bool errorShown, int closingSignal) {
  switch (outcome) {
    case TRunOutcome::Failed:
      return closingSignal ? 128 + closingSignal : 1;
    case TRunOutcome::ExclusiveAccessFailed:
      return 2;
    case TRunOutcome::ConnectFailed:
      return 3;
    case TRunOutcome::PackageFailed:
      return errorShown ? 1 : 4;
    case TRunOutcome::NotStarted:
      if (closingSignal) return 128 + closingSignal;
      break;
    case TRunOutcome::InProgress:
    case TRunOutcome::Completed:
      break;
  }
  return errorShown ? 1 : 0;
}

}  // namespace krevo::app
