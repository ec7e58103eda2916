#include "app/install/PackageTransaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "app/install/TransactionSteps.h"
#include "base/ControlEscape.h"

namespace krevo::app {

using transaction::DropPrevious;
using transaction::Fail;
using transaction::HiddenPrefix;
using transaction::Join;
using transaction::MoveIntoPlace;
using transaction::RemoveMadeFolders;
using transaction::RestorePrevious;
using transaction::RestoreTimes;
using transaction::Step;
using transaction::SyncFolder;

namespace {

std::string NewToken() {
  std::random_device random;
  char text[17];
  std::snprintf(text, sizeof text, "%08x%08x", random(), random());
  return text;
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
  plan_.push_back({folder, name, staged, "", std::nullopt});
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
  // A folder made for the package is found only through its parent's entry,
  // which must be on the disk before the plan is: the recovery opens every
  // folder of the plan.
  std::set<std::string> parents;
  for (const std::string& folder : made_) {
    const std::size_t slash = folder.rfind('/');
    parents.insert(slash == std::string::npos ? "" : folder.substr(0, slash));
  }
  for (const std::string& parent : parents)
    if (!touched_.count(parent))
      SyncFolder(parent.empty() ? rootFd_ : folders_.at(parent).get(), parent);
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
      std::string mode;
      if (::fstatat(folders_.at(f.folder).get(), f.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode)) Fail("Cannot install " + Join(f.folder, f.name), EEXIST);
        f.backup = HiddenPrefix(token_) + "b" + std::to_string(++backups);
        f.mode = st.st_mode & 07777;
        char octal[8];
        std::snprintf(octal, sizeof octal, "%o", *f.mode);
        mode = octal;
      }
      journal_->Add({"file", f.folder, f.name, f.staged, f.backup, mode});
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
  // Flushed before the journal goes, or a power cut could bring back staged
  // files that nothing names.
  for (const std::string& folder : touched_) {
    Step();
    ::fsync(folders_.at(folder).get());
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

}  // namespace krevo::app
