#include "app/report/MetricsFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/AtomicFile.h"
#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"

namespace krevo::app {
namespace {

std::string Metric(const char* name, const char* type, const char* help, std::uint64_t value) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
         name + " " + std::to_string(value) + "\n";
}

}  // namespace

std::string MetricsText(const TRunStatus& s) {
  const auto seconds = [](std::int64_t t) { return static_cast<std::uint64_t>(t < 0 ? 0 : t); };
  return Metric("krevo_updater_last_run_timestamp_seconds", "gauge",
                "When the last update run finished, in seconds since 1970.",
                seconds(s.runFinished)) +
         Metric("krevo_updater_last_success_timestamp_seconds", "gauge",
                "When an update run last ended with exit status 0, in seconds since 1970; 0: "
                "never.",
                s.lastSuccess ? seconds(*s.lastSuccess) : 0) +
         Metric("krevo_updater_consecutive_failures", "gauge",
                "Update runs in a row that did not end with exit status 0.",
                s.consecutiveFailures) +
         Metric("krevo_updater_last_exit_status", "gauge",
                "The exit status of the last update run.",
                static_cast<std::uint64_t>(s.exitStatus)) +
         Metric("krevo_updater_bytes_downloaded", "gauge", "Bytes the last update run downloaded.",
                s.bytesDownloaded) +
         Metric("krevo_updater_packages_installed_total", "counter",
                "Update packages installed over every run of this installation.",
                s.packagesInstalledTotal) +
         Metric("krevo_updater_held_packages", "gauge",
                "Packages the last update run held back because their phased release had not "
                "reached this machine yet.",
                s.heldCount) +
         "# HELP krevo_updater_rollbacks_total Packages rolled back by the update runs of this "
         "installation, by reason.\n# TYPE krevo_updater_rollbacks_total counter\n"
         "krevo_updater_rollbacks_total{reason=\"health_check\"} " +
         std::to_string(s.healthCheckRollbacksTotal) + "\n";
}

namespace {

struct TMetricsPlace {
  std::string folder;  // "." or ending in '/'
  std::string name;
};

TMetricsPlace PlaceOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The folder of `place`, opened without following a link in its own place:
// the run trusted the folders above it, not what stands in it.
base::UniqueFd OpenMetricsFolder(const TMetricsPlace& place) {
  // A trailing slash would have the link followed after all.
  std::string folder = place.folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return base::UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace

std::string MetricsFolderToTrust(const std::string& path) {
  if (path.empty()) return {};
  std::string folder = PlaceOf(path).folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  struct stat st;
  const bool othersFolder = ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                            (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0);
  const std::size_t slash = folder.rfind('/');
  const std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
  if (!othersFolder || folder == "/" || last == "." || last == "..") return folder;
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

void RemoveMetricsLeftovers(const std::string& path) {
  if (path.empty()) return;
  const TMetricsPlace place = PlaceOf(path);
  if (const base::UniqueFd fd = OpenMetricsFolder(place))
    base::RemoveReplaceLeftovers(fd.get(), place.name);
}

void WriteMetricsFile(const std::string& path, const TRunStatus& status) {
  const TMetricsPlace place = PlaceOf(path);
  const std::string& name = place.name;
  const std::string shown = base::EscapeControlCharacters(path);
  if (name.empty() || name == "." || name == "..")
    throw base::EAtomicFileError("The metrics file " + shown + " names no file.");
  const base::UniqueFd fd = OpenMetricsFolder(place);
  if (!fd)
    throw base::EAtomicFileError(
        "The file " + shown + " could not be written (open folder): " + std::strerror(errno) + ".");
  base::ReplaceOrRemoveFile(fd.get(), name, MetricsText(status), 0644, shown);
}

}  // namespace krevo::app
