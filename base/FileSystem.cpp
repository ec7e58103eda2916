#include "base/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/DateTime.h"
#include "base/FileDescriptor.h"

namespace krevo::base {
namespace {

bool StatPath(const std::string& path, struct stat& st) {
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsHiddenName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Whether any other process has the file (device, inode) open, mapped or as
// its executable. Used where the file system refuses leases; it sees only the
// processes whose /proc entries this user may read.
bool OpenedElsewhere(dev_t dev, ino_t ino) {
  UniqueDir proc(::opendir("/proc"));
  if (!proc) return false;
  const std::string self = std::to_string(::getpid());
  char mapsDev[32];
  std::snprintf(mapsDev, sizeof mapsDev, "%02x:%02x", major(dev), minor(dev));
  const std::string inode = std::to_string(ino);
  while (dirent* e = ::readdir(proc.get())) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9' || self == e->d_name) continue;
    const std::string base = std::string("/proc/") + e->d_name;
    if (UniqueDir fds{::opendir((base + "/fd").c_str())}) {
      while (dirent* f = ::readdir(fds.get())) {
        struct stat st;
        if (f->d_name[0] == '.') continue;
        if (::stat((base + "/fd/" + f->d_name).c_str(), &st) == 0 && st.st_dev == dev &&
            st.st_ino == ino)
          return true;
      }
    }
    std::ifstream maps(base + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
      // address perms offset dev inode path
      std::istringstream fields(line);
      std::string addr, perms, offset, device, node;
      fields >> addr >> perms >> offset >> device >> node;
      if (node == inode && device == mapsDev) return true;
    }
  }
  return false;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

std::optional<std::uint32_t> FileAge(const std::string& path) {
  struct stat st;
  std::uint32_t dos;
  if (!StatPath(path, st) || S_ISDIR(st.st_mode) || !TimeTToDosDateTime(st.st_mtime, dos))
    return std::nullopt;
  return dos;
}

std::optional<std::uint32_t> FindFileDate(const std::string& path, int attributeFilter) {
  struct stat st;
  std::uint32_t dos;
  if (!StatPath(path, st)) return std::nullopt;
  if (S_ISDIR(st.st_mode) && !(attributeFilter & faDirectory)) return std::nullopt;
  if (IsHiddenName(path) && !(attributeFilter & faHidden)) return std::nullopt;
  if (!TimeTToDosDateTime(st.st_mtime, dos)) return std::nullopt;
  return dos;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool ExclusiveOpenTest(const std::string& path) {
  // Writing fails while the file is being executed (ETXTBSY), when it is
  // missing and when it may not be written.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // A write lease is granted only while no other descriptor or mapping of the
  // file exists anywhere on the system.
  if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) == 0) {
    ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return true;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
  // Leases refused here (not the owner, or a file system without leases).
  return !OpenedElsewhere(st.st_dev, st.st_ino);
}

UniqueFd OpenFolder(const std::string& path) {
  return UniqueFd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace krevo::base
