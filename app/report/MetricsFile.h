#pragma once
// The last run's figures in the Prometheus text format, for a metrics
// collector that reads a folder of such files (node_exporter's textfile
// collector).
#include <string>

#include "app/report/RunStatus.h"

namespace krevo::app {

// The metrics of `status`, each with its HELP and TYPE lines:
// krevo_updater_last_run_timestamp_seconds, _last_success_timestamp_seconds
// (0 when no run has succeeded), _consecutive_failures, _last_exit_status,
// _bytes_downloaded (the last run's) and _packages_installed_total (a
// counter over every run of the installation).
std::string MetricsText(const TRunStatus& status);

// Replaces the file at `path` with MetricsText(status), atomically, through
// a temporary file in the same folder (ReplaceFileAtomically), readable by
// everyone. Throws EAtomicFileError.
void WriteMetricsFile(const std::string& path, const TRunStatus& status);

}  // namespace krevo::app
