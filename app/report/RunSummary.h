#pragma once
// The texts with which the update run tells the user what happened.
#include <string>

namespace krevo::app {

// "No files were updated.", "1 file was updated.", "<n> files were updated.".
std::string FileCountSentence(int replacedCount);

// The information dialog after packages were downloaded (packageCount >= 1):
// "One new update was downloaded. Please restart krevo from your usual icon."
// or "<n> new updates were downloaded. Please restart krevo from your usual
// icon.", then a blank and the file-count sentence.
std::string DownloadedSummary(int packageCount, int replacedCount);

// The dialog after a run in which `failedCount` (>= 1) packages failed:
// DownloadedSummary for the `installedCount` installed ones when there are
// any, then "One update failed to install." or "<n> updates failed to
// install."; with none installed, that sentence and the file-count sentence.
std::string FailedSummary(int installedCount, int failedCount, int replacedCount);

}  // namespace krevo::app
