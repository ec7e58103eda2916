#include "app/report/StatusFile.h"

#include <fcntl.h>

#include <ostream>

#include "base/AtomicFile.h"
#include "app/config/UpdaterConfig.h"
#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

std::optional<TRunStatus> ReadStatusFile(int rootFd) {
  const std::optional<std::string> text =
      base::ReadSmallFile(rootFd, kStatusFileName, kStatusFileMaxBytes);
  if (!text) return std::nullopt;
  return ParseRunStatus(*text);
}

void WriteStatusFile(int rootFd, const TRunStatus& status) {
  base::ReplaceFileAtomically(rootFd, kStatusFileName, RunStatusJson(status), 0644, kStatusFileName);
}

int PrintStatusFile(const std::string& executableFolder, bool json, std::ostream& out,
                    std::ostream& err) {
  const TUpdaterConfig config = ReadUpdaterConfig(executableFolder);
  const std::string root = DeriveRootFolder(config.DocumentsRoot, config.ReportsRoot);
  const std::string shown = base::EscapeControlCharacters(root + kStatusFileName);
  const base::UniqueFd rootFd(
      ::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::optional<std::string> text =
      rootFd ? base::ReadSmallFile(rootFd.get(), kStatusFileName, kStatusFileMaxBytes) : std::nullopt;
  if (!text) {
    err << "There is no update status yet: " << shown << " does not exist or cannot be read.\n";
    return 1;
  }
  const std::optional<TRunStatus> status = ParseRunStatus(*text);
  if (!status) {
    err << "The update status " << shown << " is damaged.\n";
    return 1;
  }
  if (json)
    out << PrintableStatusJson(*text);
  else
    out << RunStatusText(*status);
  return 0;
}

}  // namespace krevo::app
