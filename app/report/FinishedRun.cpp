#include "app/report/FinishedRun.h"

#include <ostream>

#include "app/report/JournalFields.h"
#include "app/report/MetricsFile.h"
#include "app/report/StatusFile.h"
#include "base/AtomicFile.h"
#include "base/ControlEscape.h"
#include "base/FileDescriptor.h"
#include "base/FileSystem.h"
#include "base/Version.h"

namespace krevo::app {

void RecordFinishedRun(const TRunFacts& facts, int exitStatus, const std::string& action,
                       const std::string& title, std::ostream& err) {
  const std::string& rootFolder = facts.RootFolder;
  const bool trusted = !facts.Refused;
  base::UniqueFd root;
  if (trusted) root = base::OpenFolder(rootFolder);
  const std::optional<TRunStatus> previous =
      root ? ReadStatusFile(root.get()) : std::optional<TRunStatus>();
  const std::int64_t finished = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
  TRunStatus status = MakeRunStatus(facts.Record, exitStatus, finished, previous);
  status.updaterVersion = base::OwnFileVersion();
  status.action = action;
  status.source = facts.Source;
  status.indexSequence = facts.IndexSequence;

  std::vector<std::string> fileErrors;
  if (trusted) {
    try {
      if (!root)
        throw base::EAtomicFileError("The file " + base::EscapeControlCharacters(rootFolder) +
                                     kStatusFileName +
                                     " could not be written: the root folder cannot be opened.");
      WriteStatusFile(root.get(), status);
    } catch (const base::EAtomicFileError& e) {
      fileErrors.push_back(e.what());
    }
    if (!facts.MetricsFile.empty()) try {
        WriteMetricsFile(facts.MetricsFile, status);
      } catch (const base::EAtomicFileError& e) {
        fileErrors.push_back(e.what());
      }
  }
  for (const std::string& error : fileErrors) err << title << ": " << error << '\n';
  if (StandardErrorIsJournal()) SendToJournal(JournalFields(status, fileErrors));
}

}  // namespace krevo::app
