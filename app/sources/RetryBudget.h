#pragma once
// The retries a run spends on its source. Each package has its own retries
// (TPackageDownload::Retries), but a source that fails every package that
// way would hold a long listing for days: after a few packages in a row
// whose retries all ran out, the source is given up and the run ends.
#include <string>

#include "app/sources/PackageDownload.h"
#include "base/Errors.h"

namespace krevo::app {

// The source was given up: the message names it, the count and the last
// package's failure.
class ESourceGivenUp final : public base::Exception {
 public:
  using base::Exception::Exception;
};

class TRetryBudget final {
 public:
  // The packages in a row whose transient failures give a source up.
  static constexpr int kPackagesInARow = 3;

  // Counts one package's download: a failure that may pass
  // (TDownloadedPackage::transient) adds to the row; anything else (a
  // download that came whole, a permanent failure) ends it.
  void Count(const TDownloadedPackage& fetched);
  // Throws ESourceGivenUp, naming `sourceName`, once kPackagesInARow
  // packages in a row failed that way.
  void ThrowWhenSpent(const std::string& sourceName) const;

 private:
  int inARow_ = 0;
  std::string lastFailure_;
};

}  // namespace krevo::app
