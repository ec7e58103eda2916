#pragma once
// One package installed as one change of the installation. Every file the
// package installs is first written into a new hidden file beside its
// destination (staged); then the staged data is flushed, the journal records
// the plan durably, and only then do the staged files take their places, the
// files they replace kept beside them as hard links. A run killed, or a
// machine that loses power, at any moment leaves a journal from which the
// next start puts the installation back as it was (the plan was not yet
// durable) or finishes the package (it was): old or new, never a mix. The
// backups of the last package committed stay until the next one commits, so
// that it can be rolled back.
//
// Paths are relative to the root folder, '/' separated, made of plain parts
// (IsPlainPart); no folder on them is followed through a link.
#include <sys/stat.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/install/PackageJournal.h"
#include "base/FileDescriptor.h"

namespace krevo::app {

class TPackageTransaction final {
 public:
  // Begins the installation of `package` into the root folder open as
  // `rootFd` (borrowed; it must outlive the transaction). The journal of the
  // package committed before becomes the previous one: its backups go when
  // this package commits, and it is the last one again when this one does
  // not. Throws ETransactionError when an unfinished journal is there
  // (RecoverInterruptedUpdate comes first) or the journal cannot be written.
  TPackageTransaction(int rootFd, const std::string& package);
  // A transaction neither committed nor aborted is aborted.
  ~TPackageTransaction();
  TPackageTransaction(const TPackageTransaction&) = delete;
  TPackageTransaction& operator=(const TPackageTransaction&) = delete;

  // Called with the path of each folder made for the package, just made,
  // and its status.
  using TFolderMade = std::function<void(const std::string& folder, const struct stat& st)>;

  // Makes a new hidden file with the permission bits `mode` (0777 at most,
  // less the umask) beside `dest`, to take dest's place at the commit (in
  // place of a file staged for dest before, which goes). The missing
  // folders of dest's path are recorded, then made (0777 less the umask),
  // each reported to `made` (may be empty). Returns the file's descriptor,
  // owned by the caller, who writes the data. Throws ETransactionError when
  // dest's path is not plain, meets a link or a file where a folder should
  // be, when dest is a folder or a link, or when the file or a folder cannot
  // be made.
  base::UniqueFd Stage(const std::string& dest, unsigned mode, const TFolderMade& made = {});
  // Makes the missing folders of `folder` as Stage does. Throws
  // ETransactionError.
  void MakeFolder(const std::string& folder, const TFolderMade& made = {});

  // Puts every staged file in its place: the staged data is flushed, the
  // plan made durable, each staged file renamed over its destination (a
  // replaced file kept as a backup), the folders flushed, the journal marked
  // done, and the previous package's backups removed. The folders made for
  // the package keep the modes and times they have when Commit is called. A
  // package that stages no file and makes no folder changes nothing: it ends
  // as an abort does, and the package committed before stays the last. Throws
  // ETransactionError: before the plan is durable the transaction is then
  // aborted (nothing changed); after it, the journal stays, and the next
  // start finishes the package.
  void Commit();

  // Removes the staged files and the folders made for them: the
  // installation is as it was. Never throws.
  void Abort() noexcept;

  std::size_t StagedCount() const { return staged_.size(); }

 private:
  // The descriptor of a folder that staged files go in, made when missing,
  // recorded as touched; OpenMaking without the record.
  int Folder(const std::string& folder, const TFolderMade& made);
  int OpenMaking(const std::string& folder, const TFolderMade& made);
  // Puts the data of every staged file, and their names, on the disk.
  // Throws ETransactionError.
  void Barrier();
  // Records, once, the time of the folder open as `fd` before it changes.
  void Remember(const std::string& folder, int fd);

  int rootFd_;
  std::string token_;
  std::optional<TJournalWriter> journal_;
  std::map<std::string, base::UniqueFd> folders_;  // the folders opened, by path
  std::set<std::string> touched_;                  // those recorded as touched
  std::vector<std::string> made_;
  std::vector<TFolderTime> times_;
  std::vector<TJournalFile> plan_;                       // a replaced copy's staged name is empty
  std::unordered_map<std::string, std::size_t> staged_;  // the plan's index of each destination
  unsigned counter_ = 0;
  bool previous_ = false;  // a previous package's journal was set aside
  bool ended_ = false;
};

// The recovery (PackageRecovery.cpp).
//
// Finishes a journal that a killed run or a power cut left: rolled back when
// its plan was not yet durable, completed when it was, a rollback finished.
// Returns the update log's line for it ("Interrupted update of <package>
// rolled back", "... completed", "Rolled back <package>"), nothing when
// there was nothing to finish (a journal whose header a power cut tore goes
// without a line). Throws ETransactionError.
std::optional<std::string> RecoverInterruptedUpdate(int rootFd);

// Puts the installation back as it was before the last package committed:
// replaced files return (with their modes and dates, being the same files),
// added files and the folders made for the package go; journaled like an
// installation. Returns "Rolled back <package>". Throws ETransactionError
// "There is no update to roll back." when no committed package is recorded.
std::string RollBackLastPackage(int rootFd);

// For tests of a crash at any moment: called before every step that changes
// the file system (a journal record made durable, a folder or file made,
// linked, renamed, removed or flushed). Empty: nothing is called.
extern void (*TransactionStepHook)();

}  // namespace krevo::app
