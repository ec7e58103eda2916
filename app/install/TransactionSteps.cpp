#include "app/install/TransactionSteps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/install/PackageTransaction.h"
#include "base/ControlEscape.h"
#include "base/FolderBeneath.h"

namespace krevo::app {

void (*TransactionStepHook)() = nullptr;

namespace transaction {

void Step() {
  if (TransactionStepHook) TransactionStepHook();
}

[[noreturn]] void Fail(const std::string& what, int error) {
  throw ETransactionError(base::EscapeControlCharacters(what) + ": " + std::strerror(error));
}

std::string HiddenPrefix(const std::string& token) {
  return ".krevo-" + token + "-";
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

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

void SetMode(int dirFd, const std::string& name, unsigned mode, const std::string& path) {
  base::UniqueFd fd(
      ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) Fail("Cannot change the mode of " + path, errno);
  if (!S_ISREG(st.st_mode)) Fail("Cannot change the mode of " + path, EEXIST);
  if ((st.st_mode & 07777) == mode) return;
  Step();
  if (::fchmod(fd.get(), mode) != 0) Fail("Cannot change the mode of " + path, errno);
}

void MoveIntoPlace(const std::vector<TJournalFile>& plan,
                   const std::map<std::string, base::UniqueFd>& folders) {
  for (const TJournalFile& f : plan) {
    const int dir = folders.at(f.folder).get();
    if (!Exists(dir, f.staged)) continue;  // in place already
    if (!f.backup.empty() && !Exists(dir, f.backup) && Exists(dir, f.name)) {
      // The bits go before the backup's name is made, so that no moment
      // leaves a set-id program under it; the journal keeps the mode for a
      // rollback. The file still in place loses them a moment before it goes.
      if (f.mode && (*f.mode & (S_ISUID | S_ISGID)))
        SetMode(dir, f.name, *f.mode & ~static_cast<unsigned>(S_ISUID | S_ISGID),
                Join(f.folder, f.name));
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

void RestoreTimes(int rootFd, const std::vector<TFolderTime>& times) {
  for (const TFolderTime& t : times)
    if (base::UniqueFd fd = OpenBeneath(rootFd, t.folder)) {
      const struct timespec both[2] = {{0, UTIME_OMIT}, t.modified};
      Step();
      ::futimens(fd.get(), both);
    }
}

void DropPrevious(int rootFd) {
  const std::optional<TJournal> previous = ReadJournal(rootFd, kPreviousJournalName);
  if (!previous) return;
  std::map<std::string, base::UniqueFd> folders;
  for (const TJournalFile& f : previous->files)
    if (!f.backup.empty()) {
      auto it = folders.find(f.folder);
      if (it == folders.end()) it = folders.emplace(f.folder, OpenBeneath(rootFd, f.folder)).first;
      if (!it->second) continue;
      Step();
      ::unlinkat(it->second.get(), f.backup.c_str(), 0);
    }
  // Backups whose journal is gone would stay for good.
  for (const auto& [folder, fd] : folders)
    if (fd) {
      Step();
      ::fsync(fd.get());
    }
  Step();
  ::unlinkat(rootFd, kPreviousJournalName, 0);
  Step();
  ::fsync(rootFd);
}

void RestorePrevious(int rootFd) {
  Step();
  if (::renameat(rootFd, kPreviousJournalName, rootFd, kJournalName) == 0) ::fsync(rootFd);
}

}  // namespace transaction
}  // namespace krevo::app
