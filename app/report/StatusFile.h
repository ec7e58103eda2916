#pragma once
// `updates-status.json` in the root folder: read back for the figures it
// carries over, replaced after every run, and shown by
// `krevo-updater --status`.
#include <iosfwd>
#include <optional>
#include <string>

#include "app/report/RunStatus.h"

namespace krevo::app {

// The status file in the root folder `rootFd` (borrowed). Nothing when there
// is none, or when it is a link, not a regular file, larger than
// kStatusFileMaxBytes or not a status (ParseRunStatus): a damaged or planted
// file counts as absent. Never throws but std::bad_alloc.
std::optional<TRunStatus> ReadStatusFile(int rootFd);

// Replaces the status file in `rootFd` (borrowed) with `status`, atomically;
// when it cannot, removes the old one, so that no reader takes an earlier
// run's status for this one's (ReplaceOrRemoveFile). Throws EAtomicFileError.
void WriteStatusFile(int rootFd, const TRunStatus& status);

// `krevo-updater --status [--json]` for the installation whose config.ini is
// in `executableFolder`: the status for a person (RunStatusText), or with
// `json` the file (PrintableStatusJson: as it stands, as a run writes it), on
// `out`. Returns 0, or 1 with the reason on
// `err` when there is no status yet or it cannot be read. Reads only: no
// log, no lock, nothing written.
int PrintStatusFile(const std::string& executableFolder, bool json, std::ostream& out,
                    std::ostream& err);

}  // namespace krevo::app
