// The exit status that the console mode gives scripts for each way a run ends.
#include <gtest/gtest.h>

#include "app/ui/ExitStatus.h"

namespace krevo::app {
namespace {

TEST(ExitStatus, TellsScriptsWhatHappened) {
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::Completed, false, 0), 0);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::Completed, true, 0), 1);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::Failed, true, 0), 1);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::ExclusiveAccessFailed, true, 0), 2);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::ConnectFailed, false, 0), 3);
  // The listing step's failure to reach the server is shown, and still 3.
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::ConnectFailed, true, 0), 3);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::NotStarted, false, 15), 143);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::PackageFailed, false, 0), 4);
  EXPECT_EQ(ConsoleExitStatus(TRunOutcome::PackageFailed, true, 0), 1);
}

}  // namespace
}  // namespace krevo::app
