#include "app/report/StatusFile.h"

#include <ostream>

#include "app/config/UpdaterConfig.h"
#include "base/AtomicFile.h"
#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"
#include "base/FileSystem.h"

namespace krevo::app {

std::optional<TRunStatus> ReadStatusFile(int rootFd) {
  const base::TSmallFileContent file =
      base::ReadSmallFile(rootFd, kStatusFileName, kStatusFileMaxBytes);
  if (file.status != base::TSmallRead::srRead) return std::nullopt;
  return ParseRunStatus(file.content);
}

void WriteStatusFile(int rootFd, const TRunStatus& status) {
  base::ReplaceOrRemoveFile(rootFd, kStatusFileName, RunStatusJson(status), 0644, kStatusFileName);
}

int PrintStatusFile(const std::string& executableFolder, bool json, std::ostream& out,
                    std::ostream& err) {
  const TUpdaterConfig config = ReadUpdaterConfig(executableFolder);
  const std::string root = DeriveRootFolder(config.DocumentsRoot, config.ReportsRoot);
  const std::string shown = base::EscapeControlCharacters(root + kStatusFileName);
  const base::UniqueFd rootFd = base::OpenFolder(root);
  const base::TSmallFileContent file =
      rootFd ? base::ReadSmallFile(rootFd.get(), kStatusFileName, kStatusFileMaxBytes)
             : base::TSmallFileContent{};
  if (file.status != base::TSmallRead::srRead) {
    err << "There is no update status yet: " << shown << " does not exist or cannot be read.\n";
    return 1;
  }
  const std::optional<TRunStatus> status = ParseRunStatus(file.content);
  if (!status) {
    err << "The update status " << shown << " is damaged.\n";
    return 1;
  }
  if (json)
    out << PrintableStatusJson(file.content);
  else
    out << RunStatusText(*status);
  return 0;
}

}  // namespace krevo::app
