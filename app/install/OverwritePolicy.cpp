#include "app/install/OverwritePolicy.h"

#include "base/DateTime.h"

namespace krevo::app {

bool PackagedCopyIsNewer(std::optional<std::uint32_t> archiveDate,
                         std::optional<std::uint32_t> fileDate) {
  // A missing date counts as 0, the earliest of all.
  const base::TDateTime archive = archiveDate ? base::DosDateTimeToDateTime(*archiveDate) : 0;
  const base::TDateTime file = fileDate ? base::DosDateTimeToDateTime(*fileDate) : 0;
  return archive > file;
}

}  // namespace krevo::app
