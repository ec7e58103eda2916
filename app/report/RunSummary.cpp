#include "app/report/RunSummary.h"

namespace krevo::app {

std::string FileCountSentence(int replacedCount) {
  if (replacedCount == 0) return "No files were updated.";
  if (replacedCount == 1) return "1 file was updated.";
  return std::to_string(replacedCount) + " files were updated.";
}

std::string DownloadedSummary(int packageCount, int replacedCount) {
  const std::string head = packageCount == 1
                               ? std::string("One new update was downloaded.")
                               : std::to_string(packageCount) + " new updates were downloaded.";
  return head + " Please restart krevo from your usual icon. " + FileCountSentence(replacedCount);
}

std::string FailedSummary(int installedCount, int failedCount, int replacedCount) {
  const std::string failed = failedCount == 1
                                 ? std::string("One update failed to install.")
                                 : std::to_string(failedCount) + " updates failed to install.";
  if (installedCount == 0) return failed + " " + FileCountSentence(replacedCount);
  return DownloadedSummary(installedCount, replacedCount) + " " + failed;
}

}  // namespace krevo::app
