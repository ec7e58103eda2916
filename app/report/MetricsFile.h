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
// a temporary file in the same folder, readable by everyone; when it cannot,
// removes the old file (ReplaceOrRemoveFile). The folder is opened without
// following a link in its own place. Throws EAtomicFileError.
void WriteMetricsFile(const std::string& path, const TRunStatus& status);

// The path whose chain a run as root must trust (CheckOnlyRootCanChange)
// for the metrics file at `path` (empty: none configured, and so nothing).
// Mostly the folder that holds the file. A holding folder that another user
// may write (a collector's) is no danger in itself: the file is made in it
// exclusively and renamed within it, and the folder is opened without
// following a link, so that user cannot turn the write elsewhere; but they
// must not be able to replace the folder, so for such a folder it is the
// folder above it, which then has to be root's alone (a sticky one too).
// Reads the file system (lstat). Never throws but std::bad_alloc.
std::string MetricsFolderToTrust(const std::string& path);

// Removes the temporary files that a run killed while it replaced the
// metrics file at `path` left in its folder (RemoveReplaceLeftovers); nothing
// when `path` is empty or its folder cannot be opened. Never throws but
// std::bad_alloc.
void RemoveMetricsLeftovers(const std::string& path);

}  // namespace krevo::app
