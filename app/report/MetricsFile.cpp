#include "app/report/MetricsFile.h"

#include <fcntl.h>

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
                s.packagesInstalledTotal);
}

void WriteMetricsFile(const std::string& path, const TRunStatus& status) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string shown = base::EscapeControlCharacters(path);
  if (name.empty() || name == "." || name == "..")
    throw base::EAtomicFileError("The metrics file " + shown + " names no file.");
  const base::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd)
    throw base::EAtomicFileError("The file " + shown +
                           " could not be written (open folder): " + std::strerror(errno) + ".");
  base::ReplaceFileAtomically(fd.get(), name, MetricsText(status), 0644, shown);
}

}  // namespace krevo::app
