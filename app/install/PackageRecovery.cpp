// The recovery of a package transaction: a journal that a killed run or a
// power cut left is finished at the next start, and the last package
// committed can be rolled back.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "app/install/PackageTransaction.h"
#include "app/install/TransactionSteps.h"
#include "base/ControlEscape.h"

namespace krevo::app {

using transaction::DropPrevious;
using transaction::Exists;
using transaction::Fail;
using transaction::HiddenPrefix;
using transaction::Join;
using transaction::MoveIntoPlace;
using transaction::OpenBeneath;
using transaction::RemoveMadeFolders;
using transaction::RestorePrevious;
using transaction::RestoreTimes;
using transaction::SetMode;
using transaction::Step;
using transaction::SyncFolder;

namespace {

// The folders of `journal`'s plan, opened; throws when one cannot be.
std::map<std::string, base::UniqueFd> OpenPlanFolders(int rootFd, const TJournal& journal) {
  std::map<std::string, base::UniqueFd> folders;
  for (const TJournalFile& f : journal.files) {
    if (folders.count(f.folder)) continue;
    base::UniqueFd fd = OpenBeneath(rootFd, f.folder);
    if (!fd) Fail("Cannot open the folder " + f.folder, errno);
    folders.emplace(f.folder, std::move(fd));
  }
  return folders;
}

// Removes the files named with `prefix` in the folder open as `fd`.
void RemoveHidden(int fd, const std::string& prefix) {
  base::UniqueDir dir(::fdopendir(::fcntl(fd, F_DUPFD_CLOEXEC, 0)));
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir.get()))
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(e->d_name);
  for (const std::string& name : names) {
    Step();
    ::unlinkat(fd, name.c_str(), 0);
  }
}

// Undoes a package whose plan never became durable: nothing of the
// installation was changed, so only what was made for it goes.
void UndoStaging(int rootFd, const TJournal& journal) {
  if (!journal.token.empty()) {
    const std::string prefix = HiddenPrefix(journal.token);
    for (const std::string& folder : journal.touched)
      if (base::UniqueFd fd = OpenBeneath(rootFd, folder)) {
        RemoveHidden(fd.get(), prefix);
        // Flushed before the journal goes, or a power cut could bring back
        // staged files that nothing names.
        Step();
        ::fsync(fd.get());
      }
  }
  RemoveMadeFolders(rootFd, journal.made);
  RestoreTimes(rootFd, journal.times);
  Step();
  if (::unlinkat(rootFd, kJournalName, 0) != 0 && errno != ENOENT)
    Fail("Cannot remove the update journal", errno);
  Step();
  ::fsync(rootFd);
  RestorePrevious(rootFd);
}

// Undoes a committed package, the last file first; done again after a power
// cut, it goes on where it stopped.
void UndoCommitted(int rootFd, const TJournal& journal) {
  std::set<std::string> folders;
  for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
    base::UniqueFd fd = OpenBeneath(rootFd, it->folder);
    if (!fd) continue;  // a folder made for the package and gone: so are its files
    folders.insert(it->folder);
    if (it->backup.empty()) {
      Step();
      if (::unlinkat(fd.get(), it->name.c_str(), 0) != 0 && errno != ENOENT)
        Fail("Cannot remove " + Join(it->folder, it->name), errno);
    } else if (Exists(fd.get(), it->backup)) {
      // The set-id bits the backup was kept without come back before its
      // name is the file's again, so that a rollback done again after a
      // power cut finds them still to give.
      if (it->mode && (*it->mode & (S_ISUID | S_ISGID)))
        SetMode(fd.get(), it->backup, *it->mode, Join(it->folder, it->name));
      Step();
      if (::renameat(fd.get(), it->backup.c_str(), fd.get(), it->name.c_str()) != 0)
        Fail("Cannot restore " + Join(it->folder, it->name), errno);
    }
  }
  for (const std::string& folder : folders)
    if (base::UniqueFd fd = OpenBeneath(rootFd, folder)) SyncFolder(fd.get(), folder);
  RemoveMadeFolders(rootFd, journal.made);
  RestoreTimes(rootFd, journal.times);
}

}  // namespace

std::optional<std::string> RecoverInterruptedUpdate(int rootFd) {
  const std::optional<TJournal> journal = ReadJournal(rootFd, kJournalName);
  if (!journal) {
    // Set aside for a package whose journal was never begun.
    RestorePrevious(rootFd);
    return std::nullopt;
  }
  const std::string package = base::EscapeControlCharacters(journal->package);
  switch (journal->state) {
    case TJournalState::jsDone:
      DropPrevious(rootFd);
      return std::nullopt;
    case TJournalState::jsRolledBack:
      return std::nullopt;
    case TJournalState::jsStaging:
      UndoStaging(rootFd, *journal);
      // A header never whole: the package had not begun.
      if (journal->token.empty()) return std::nullopt;
      return "Interrupted update of " + package + " rolled back";
    case TJournalState::jsCommitting:
      MoveIntoPlace(journal->files, OpenPlanFolders(rootFd, *journal));
      Step();
      TJournalWriter(rootFd, kJournalName, *journal).AddDurably({"done"});
      DropPrevious(rootFd);
      return "Interrupted update of " + package + " completed";
    case TJournalState::jsRollingBack:
      UndoCommitted(rootFd, *journal);
      Step();
      TJournalWriter(rootFd, kJournalName, *journal).AddDurably({"rolled-back"});
      return "Rolled back " + package;
  }
  return std::nullopt;
}

std::string RollBackLastPackage(int rootFd) {
  const std::optional<TJournal> journal = ReadJournal(rootFd, kJournalName);
  if (!journal || journal->state != TJournalState::jsDone)
    throw ETransactionError("There is no update to roll back.");
  TJournalWriter writer(rootFd, kJournalName, *journal);
  Step();
  writer.AddDurably({"rollback"});
  UndoCommitted(rootFd, *journal);
  Step();
  writer.AddDurably({"rolled-back"});
  return "Rolled back " + base::EscapeControlCharacters(journal->package);
}

}  // namespace krevo::app
