#include "base/FolderBeneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace krevo::base {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// Cleared when the kernel lacks openat2 (or a filter refuses it): the walk
// serves from then on.
bool gOpenat2 = true;

// -1 with errno ENOSYS where the kernel or its filter has no openat2.
int OpenAt2(int base, const std::string& relative) {
#ifdef SYS_openat2
  struct open_how how {};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how));
#else
  (void)base, (void)relative;
  errno = ENOSYS;
  return -1;
#endif
}

UniqueFd Walk(int base, const std::string& relative, bool create, const TFolderCreated& created) {
  UniqueFd at(::fcntl(base, F_DUPFD_CLOEXEC, 0));
  if (!at) return at;
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      errno = EXDEV;
      return UniqueFd();
    }
    UniqueFd next(::openat(at.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
    bool made = false;
    if (!next && errno == ENOENT && create) {
      made = ::mkdirat(at.get(), part.c_str(), 0777) == 0;
      if (!made && errno != EEXIST) return UniqueFd();
      next.Reset(::openat(at.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
    }
    // O_NOFOLLOW fails with ELOOP at a link; O_DIRECTORY with ENOTDIR at
    // anything else that is not a folder.
    if (!next) return next;
    struct stat st;
    // Reported as `relative` writes it up to here, "./" and all.
    if (made && created && ::fstat(next.get(), &st) == 0) created(relative.substr(0, end), st);
    at = std::move(next);
  }
  return at;
}

}  // namespace

void UseOpenat2(bool use) {
  gOpenat2 = use;
}

UniqueFd OpenFolderBeneath(int base, const std::string& relative, bool create,
                           const TFolderCreated& created) {
  if (relative.empty() || relative == ".") return UniqueFd(::fcntl(base, F_DUPFD_CLOEXEC, 0));
  if (gOpenat2) {
    UniqueFd fd(OpenAt2(base, relative));
    if (fd) return fd;
    if (errno == ENOSYS || errno == EPERM) {
      gOpenat2 = false;
    } else if ((errno != ENOENT || !create) && errno != EAGAIN) {
      return fd;
    }
    // A folder to create (the walk makes the missing ones), or a rename
    // under way that openat2 would not race with.
  }
  return Walk(base, relative, create, created);
}

}  // namespace krevo::base
