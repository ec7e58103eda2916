#pragma once
// The steps that a package transaction and the recovery of an interrupted
// one share: the file system changes each makes, every one preceded by the
// crash-test hook (TransactionStepHook). For app/install only.
#include <map>
#include <string>
#include <vector>

#include "app/install/PackageJournal.h"
#include "base/FileDescriptor.h"

namespace krevo::app::transaction {

// Calls TransactionStepHook when it is set: before every change.
void Step();
// Throws ETransactionError "<what, escaped>: <strerror(error)>".
[[noreturn]] void Fail(const std::string& what, int error);

// The prefix of the hidden names a package's staged files and backups have.
std::string HiddenPrefix(const std::string& token);
// `folder` + "/" + `name`, or `name` in the root folder ("").
std::string Join(const std::string& folder, const std::string& name);
// Opens `folder` below `rootFd` (borrowed) without following a link; an
// empty fd (errno set) when a part is missing, a link or no folder.
base::UniqueFd OpenBeneath(int rootFd, const std::string& folder);
// Whether `name` is there in the folder open as `dirFd`, a link not followed.
bool Exists(int dirFd, const std::string& name);
// Flushes the folder open as `fd`; throws ETransactionError naming `folder`.
void SyncFolder(int fd, const std::string& folder);

// Each staged file of `plan` still there takes its destination's place, the
// file it replaces kept as its backup first, without its set-user-id and
// set-group-id bits when the plan knows its mode (a backup that others can
// reach by its path must not run with its owner's rights); then every folder
// of `folders` (the plan's, open, borrowed) is flushed. Done again after a
// power cut, it goes on where it stopped. Throws ETransactionError.
void MoveIntoPlace(const std::vector<TJournalFile>& plan,
                   const std::map<std::string, base::UniqueFd>& folders);
// Gives the file `name` in the folder open as `dirFd` the permission bits
// `mode` when it has other ones (a link is not followed); `path` names it in
// the error. Throws ETransactionError when it is no plain file or cannot be
// changed.
void SetMode(int dirFd, const std::string& name, unsigned mode, const std::string& path);
// Removes the folders made for a package, the last made first, where they
// are empty; a folder someone else put something in stays. Never throws.
void RemoveMadeFolders(int rootFd, const std::vector<std::string>& made);
// Gives the folders that are still there the times they had before the
// package: an undone package leaves no trace in their dates either.
void RestoreTimes(int rootFd, const std::vector<TFolderTime>& times);
// The previous package's backups and journal go, the backups' removal
// flushed first: the current package is the one to roll back now.
void DropPrevious(int rootFd);
// The previous package's journal is the current one again.
void RestorePrevious(int rootFd);

}  // namespace krevo::app::transaction
