#include "app/sources/RetryBudget.h"

namespace krevo::app {

void TRetryBudget::Count(const TDownloadedPackage& fetched) {
  if (fetched.copy || !fetched.transient) {
    inARow_ = 0;
    return;
  }
  ++inARow_;
  lastFailure_ = fetched.failure;
}

void TRetryBudget::ThrowWhenSpent(const std::string& sourceName) const {
  if (inARow_ < kPackagesInARow) return;
  std::string last = lastFailure_;
  if (!last.empty() && last.back() == '.') last.pop_back();
  throw ESourceGivenUp("Gave up on " + sourceName + " after " + std::to_string(inARow_) +
                       " packages in a row failed to download (" + last + ").");
}

}  // namespace krevo::app
