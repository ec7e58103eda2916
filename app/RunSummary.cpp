#include "app/RunSummary.h"

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

}  // namespace krevo::app
