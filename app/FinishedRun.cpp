#include "app/FinishedRun.h"

#include <fcntl.h>

#include <ostream>

#include "app/AtomicFile.h"
#include "app/JournalFields.h"
#include "app/MetricsFile.h"
#include "app/StatusFile.h"
#include "app/TForm1.h"
#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"
#include "base/Version.h"

namespace krevo::app {

void RecordFinishedRun(const TForm1& form, int exitStatus, const std::string& action,
                       const std::string& title, std::ostream& err) {
  const std::string& rootFolder = form.FRootFolder;
  const bool trusted = !form.Refused();
  base::UniqueFd root;
  if (trusted)
    root.Reset(
        ::open(rootFolder.empty() ? "." : rootFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::optional<TRunStatus> previous =
      root ? ReadStatusFile(root.get()) : std::optional<TRunStatus>();
  const std::int64_t finished = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
  TRunStatus status = MakeRunStatus(form.RunRecord, exitStatus, finished, previous);
  status.updaterVersion = base::OwnFileVersion();
  status.action = action;
  status.source = form.SourceUsed();
  status.indexSequence = form.AcceptedIndexSequence();

  if (StandardErrorIsJournal()) SendToJournal(JournalFields(status));
  if (!trusted) return;
  try {
    if (!root)
      throw EAtomicFileError("The file " + base::EscapeControlCharacters(rootFolder) +
                             kStatusFileName +
                             " could not be written: the root folder cannot be opened.");
    WriteStatusFile(root.get(), status);
  } catch (const EAtomicFileError& e) {
    err << title << ": " << e.what() << '\n';
  }
  if (form.FConfig.MetricsFile.empty()) return;
  try {
    WriteMetricsFile(form.FConfig.MetricsFile, status);
  } catch (const EAtomicFileError& e) {
    err << title << ": " << e.what() << '\n';
  }
}

}  // namespace krevo::app
