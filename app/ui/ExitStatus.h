#pragma once
#include "app/run/RunOutcome.h"

namespace krevo::app {

// Exit status of the console mode, so that scripts can tell what happened:
// 1 when an error ended the run or the default error display showed one,
// 2 when the exclusive-access test failed, 3 when the update server could not
// be reached, 4 when the run reached its end but a package or an entry failed,
// 128 + signal when a signal closed the program before the run or stopped it
// (the run then failed), else 0.
int ConsoleExitStatus(TRunOutcome outcome, bool errorShown, int closingSignal);

}  // namespace krevo::app
