#include "app/install/PackageTransaction.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "base/FolderBeneath.h"
#include "base/ControlEscape.h"

namespace krevo::app {

void (*TransactionStepHook)() = nullptr;

namespace {

void Step() {
  if (TransactionStepHook) TransactionStepHook();
}

[[noreturn]] void Fail(const std::string& what, int error) {
  throw ETransactionError(base::EscapeControlCharacters(what) + ": " + std::strerror(error));
}

std::string NewToken() {
  std::random_device random;
  char text[17];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  return text;
}

// The prefix of the hidden names a package's staged files and backups have.
std::string HiddenPrefix(const std::string& token) {
  return ".krevo-" + token + "-";
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// Opens `folder` below `rootFd` without following a link; an empty fd (errno
// set) when a part is missing, a link or no folder.
base::UniqueFd OpenBeneath(int rootFd, const std::string& folder) {
  return base::OpenFolderBeneath(rootFd, folder, false, {});
}

bool Exists(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void SyncFolder(int fd, const std::string& folder) {
  Step();
  if (::fsync(fd) != 0) Fail("Cannot flush the folder " + folder, errno);
}

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

// Each staged file still there takes its destination's place, the file it
// replaces kept as its backup first. Done again after a power cut, it goes
// on where it stopped.
void MoveIntoPlace(const std::vector<TJournalFile>& plan,
                   const std::map<std::string, base::UniqueFd>& folders) {
  for (const TJournalFile& f : plan) {
    const int dir = folders.at(f.folder).get();
    if (!Exists(dir, f.staged)) continue;  // in place already
    if (!f.backup.empty() && !Exists(dir, f.backup) && Exists(dir, f.name)) {
      Step();
      if (::linkat(dir, f.name.c_str(), dir, f.backup.c_str(), 0) != 0)
        Fail("Cannot keep a backup of " + Join(f.folder, f.name), errno);
    }
    Step();
    if (::renameat(dir, f.staged.c_str(), dir, f.name.c_str()) != 0)
      Fail("Cannot install " + Join(f.folder, f.name), errno);
  }
  for (const auto& [folder, fd] : folders) SyncFolder(fd.get(), folder);
}

// Removes the folders made for a package, the last made first, where they
// are empty; a folder someone else put something in stays.
void RemoveMadeFolders(int rootFd, const std::vector<std::string>& made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    const std::size_t slash = it->rfind('/');
    const std::string parent = slash == std::string::npos ? "" : it->substr(0, slash);
    const std::string name = slash == std::string::npos ? *it : it->substr(slash + 1);
    if (base::UniqueFd fd = OpenBeneath(rootFd, parent)) {
      Step();
      ::unlinkat(fd.get(), name.c_str(), AT_REMOVEDIR);
      Step();
      ::fsync(fd.get());
    }
  }
}

// Gives the folders that are still there the times they had before the
// package: an undone package leaves no trace in their dates either.
void RestoreTimes(int rootFd, const std::vector<TFolderTime>& times) {
  for (const TFolderTime& t : times)
    if (base::UniqueFd fd = OpenBeneath(rootFd, t.folder)) {
      const struct timespec both[2] = {{0, UTIME_OMIT}, t.modified};
      Step();
      ::futimens(fd.get(), both);
    }
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

// The previous package's backups and journal go: the current package is
// the one to roll back now.
void DropPrevious(int rootFd) {
  const std::optional<TJournal> previous = ReadJournal(rootFd, kPreviousJournalName);
  if (!previous) return;
  for (const TJournalFile& f : previous->files)
    if (!f.backup.empty())
      if (base::UniqueFd fd = OpenBeneath(rootFd, f.folder)) {
        Step();
        ::unlinkat(fd.get(), f.backup.c_str(), 0);
      }
  Step();
  ::unlinkat(rootFd, kPreviousJournalName, 0);
  Step();
  ::fsync(rootFd);
}

// The previous package's journal is the current one again.
void RestorePrevious(int rootFd) {
  Step();
  if (::renameat(rootFd, kPreviousJournalName, rootFd, kJournalName) == 0) ::fsync(rootFd);
}

// Undoes a package whose plan never became durable: nothing of the
// installation was changed, so only what was made for it goes.
void UndoStaging(int rootFd, const TJournal& journal) {
  if (!journal.token.empty()) {
    const std::string prefix = HiddenPrefix(journal.token);
    for (const std::string& folder : journal.touched)
      if (base::UniqueFd fd = OpenBeneath(rootFd, folder)) RemoveHidden(fd.get(), prefix);
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

TPackageTransaction::TPackageTransaction(int rootFd, const std::string& package)
    : rootFd_(rootFd), token_(NewToken()) {
  if (const std::optional<TJournal> current = ReadJournal(rootFd, kJournalName)) {
    if (current->state == TJournalState::jsDone) {
      DropPrevious(rootFd);
      Step();
      if (::renameat(rootFd, kJournalName, rootFd, kPreviousJournalName) != 0)
        Fail("Cannot set the last update's journal aside", errno);
      previous_ = true;
    } else if (current->state == TJournalState::jsRolledBack) {
      Step();
      ::unlinkat(rootFd, kJournalName, 0);
    } else {
      throw ETransactionError("An interrupted update of " +
                              base::EscapeControlCharacters(current->package) +
                              " must be finished first.");
    }
  }
  try {
    Step();
    journal_.emplace(rootFd, kJournalName, token_, package);
  } catch (...) {
    if (previous_) RestorePrevious(rootFd);
    throw;
  }
}

TPackageTransaction::~TPackageTransaction() {
  Abort();
}

int TPackageTransaction::Folder(const std::string& folder, const TFolderMade& made) {
  if (touched_.count(folder)) return folders_.at(folder).get();
  const int dir = OpenMaking(folder, made);
  Remember(folder, dir);
  // A folder that staged files are made in is known before the first one is.
  Step();
  journal_->AddDurably({"folder", folder});
  touched_.insert(folder);
  return dir;
}

void TPackageTransaction::Remember(const std::string& folder, int fd) {
  for (const TFolderTime& t : times_)
    if (t.folder == folder) return;
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  times_.push_back({folder, st.st_mtim});
  // Durable with the record of the change that follows.
  journal_->Add(
      {"time", folder, std::to_string(st.st_mtim.tv_sec), std::to_string(st.st_mtim.tv_nsec)});
}

int TPackageTransaction::OpenMaking(const std::string& folder, const TFolderMade& made) {
  if (auto it = folders_.find(folder); it != folders_.end()) return it->second.get();
  const auto parts = PlainParts(folder);
  if (!parts) Fail("Cannot install below " + folder, EINVAL);
  if (parts->empty()) {
    base::UniqueFd root(::fcntl(rootFd_, F_DUPFD_CLOEXEC, 0));
    if (!root) Fail("Cannot open the root folder", errno);
    return folders_.emplace(folder, std::move(root)).first->second.get();
  }
  int current = rootFd_;
  std::string prefix;
  for (const std::string& part : *parts) {
    prefix = Join(prefix, part);
    if (auto it = folders_.find(prefix); it != folders_.end()) {
      current = it->second.get();
      continue;
    }
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    base::UniqueFd opened(::openat(current, part.c_str(), kFlags));
    if (!opened && errno == ENOENT) {
      // Recorded before it is made, so that a power cut cannot leave it unknown.
      Remember(prefix.size() > part.size() ? prefix.substr(0, prefix.size() - part.size() - 1) : "",
               current);
      Step();
      journal_->AddDurably({"made", prefix});
      made_.push_back(prefix);
      Step();
      if (::mkdirat(current, part.c_str(), 0777) != 0 && errno != EEXIST)
        Fail("Cannot create the folder " + prefix, errno);
      opened.Reset(::openat(current, part.c_str(), kFlags));
      struct stat st;
      if (opened && made && ::fstat(opened.get(), &st) == 0) made(prefix, st);
    }
    // A link where a folder should be is never followed.
    if (!opened) Fail("Cannot install below " + prefix, errno == ELOOP ? ENOTDIR : errno);
    current = folders_.emplace(prefix, std::move(opened)).first->second.get();
  }
  return current;
}

void TPackageTransaction::MakeFolder(const std::string& folder, const TFolderMade& made) {
  if (ended_) Fail("Cannot install below " + folder, EINVAL);
  OpenMaking(folder, made);
}

base::UniqueFd TPackageTransaction::Stage(const std::string& dest, unsigned mode,
                                          const TFolderMade& made) {
  const std::size_t slash = dest.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : dest.substr(0, slash);
  const std::string name = slash == std::string::npos ? dest : dest.substr(slash + 1);
  if (ended_ || !IsPlainPart(name)) Fail("Cannot install " + dest, EINVAL);
  const int dir = Folder(folder, made);
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)))
    Fail("Cannot install " + dest, S_ISDIR(st.st_mode) ? EISDIR : ELOOP);
  const std::string staged = HiddenPrefix(token_) + std::to_string(++counter_);
  Step();
  base::UniqueFd fd(::openat(dir, staged.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                             static_cast<mode_t>(mode & 0777)));
  if (!fd) Fail("Cannot create a file beside " + dest, errno);
  // A destination staged again (an entry tried once more, a name the
  // package holds twice) takes the last copy, as writing it twice would.
  const auto [at, fresh] = staged_.try_emplace(dest, plan_.size());
  if (!fresh) {
    TJournalFile& earlier = plan_[at->second];
    Step();
    ::unlinkat(dir, earlier.staged.c_str(), 0);
    earlier.staged.clear();  // no longer part of the plan
    at->second = plan_.size();
  }
  plan_.push_back({folder, name, staged, ""});
  return fd;
}

void TPackageTransaction::Barrier() {
  // The writing of every staged file is started first, then each is waited
  // for: the first wait commits the file system's journal for all of them,
  // so the others cost little more than their own data. One flush of the
  // whole file system (syncfs) measured the same on ext4, but it waits for
  // every other writer's data too, and it never reaches a file system in
  // user space (FUSE), which would then hold staged files without their data.
  const auto open = [this](const TJournalFile& f) {
    base::UniqueFd fd(
        ::openat(folders_.at(f.folder).get(), f.staged.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) Fail("Cannot flush " + Join(f.folder, f.name), errno);
    return fd;
  };
  for (const TJournalFile& f : plan_) ::sync_file_range(open(f).get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  for (const TJournalFile& f : plan_) {
    Step();
    if (::fdatasync(open(f).get()) != 0) Fail("Cannot flush " + Join(f.folder, f.name), errno);
  }
  for (const std::string& folder : touched_) SyncFolder(folders_.at(folder).get(), folder);
}

void TPackageTransaction::Commit() {
  if (ended_) Fail("Cannot commit an update that has ended", EINVAL);
  try {
    // Every staged file's data is on the disk before any destination changes.
    std::erase_if(plan_, [](const TJournalFile& f) { return f.staged.empty(); });
    if (plan_.empty() && made_.empty()) {
      // A package that changes nothing (every file kept, as when a package
      // is taken again after a run killed before its close) must not take the
      // place of the one that did: that one stays the one to roll back.
      Abort();
      return;
    }
    Barrier();
    unsigned backups = 0;
    for (TJournalFile& f : plan_) {
      struct stat st;
      if (::fstatat(folders_.at(f.folder).get(), f.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode)) Fail("Cannot install " + Join(f.folder, f.name), EEXIST);
        f.backup = HiddenPrefix(token_) + "b" + std::to_string(++backups);
      }
      journal_->Add({"file", f.folder, f.name, f.staged, f.backup});
    }
    Step();
    journal_->AddDurably({"commit", std::to_string(plan_.size())});
  } catch (...) {
    Abort();
    throw;
  }
  // From here on the package goes in, now or at the next start.
  ended_ = true;
  std::map<std::string, base::UniqueFd> planFolders;
  for (const TJournalFile& f : plan_)
    if (!planFolders.count(f.folder))
      planFolders.emplace(f.folder,
                          base::UniqueFd(::fcntl(folders_.at(f.folder).get(), F_DUPFD_CLOEXEC, 0)));
  // The folders made for the package keep what the extraction gave them
  // (a folder stored read-only is filled all the same).
  std::vector<std::pair<int, struct stat>> kept;
  for (const std::string& folder : made_)
    if (auto it = planFolders.find(folder); it != planFolders.end()) {
      struct stat st;
      if (::fstat(it->second.get(), &st) != 0) continue;
      kept.emplace_back(it->second.get(), st);
      ::fchmod(it->second.get(), (st.st_mode & 07777) | S_IRWXU);
    }
  MoveIntoPlace(plan_, planFolders);
  for (const auto& [fd, st] : kept) {
    ::fchmod(fd, st.st_mode & 07777);
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::futimens(fd, times);
  }
  Step();
  journal_->AddDurably({"done"});
  if (previous_) DropPrevious(rootFd_);
}

void TPackageTransaction::Abort() noexcept {
  if (ended_) return;
  ended_ = true;
  for (const TJournalFile& f : plan_) {
    if (f.staged.empty()) continue;
    Step();
    ::unlinkat(folders_.at(f.folder).get(), f.staged.c_str(), 0);
  }
  folders_.clear();
  RemoveMadeFolders(rootFd_, made_);
  RestoreTimes(rootFd_, times_);
  journal_.reset();
  Step();
  ::unlinkat(rootFd_, kJournalName, 0);
  Step();
  ::fsync(rootFd_);
  if (previous_) RestorePrevious(rootFd_);
}

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
      return "Interrupted update of " + package + " rolled back";
    case TJournalState::jsCommitting:
      MoveIntoPlace(journal->files, OpenPlanFolders(rootFd, *journal));
      Step();
      TJournalWriter(rootFd, kJournalName).AddDurably({"done"});
      DropPrevious(rootFd);
      return "Interrupted update of " + package + " completed";
    case TJournalState::jsRollingBack:
      UndoCommitted(rootFd, *journal);
      Step();
      TJournalWriter(rootFd, kJournalName).AddDurably({"rolled-back"});
      return "Rolled back " + package;
  }
  return std::nullopt;
}

std::string RollBackLastPackage(int rootFd) {
  const std::optional<TJournal> journal = ReadJournal(rootFd, kJournalName);
  if (!journal || journal->state != TJournalState::jsDone)
    throw ETransactionError("There is no update to roll back.");
  TJournalWriter writer(rootFd, kJournalName);
  Step();
  writer.AddDurably({"rollback"});
  UndoCommitted(rootFd, *journal);
  Step();
  writer.AddDurably({"rolled-back"});
  return "Rolled back " + base::EscapeControlCharacters(journal->package);
}

}  // namespace krevo::app
