#include "app/sources/StagingFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/Errors.h"

namespace krevo::app {
namespace {

base::UniqueFd OpenFolder(const std::string& path) {
  return base::UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Gives a folder of ours, made in this run, the mode 0700 that the umask
// may have narrowed; anybody else's folder is not touched.
void MakePrivate(int fd) {
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) ::fchmod(fd, 0700);
}

[[noreturn]] void Refuse(const std::string& path, int error) {
  throw base::EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(error));
}

// Whether the folder open at `fd` is fit to be private: a folder owned by
// the effective user, no permission bits but 0700.
bool IsPrivateFolder(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 07777) == 0700;
}

}  // namespace

TStagingFolder::TStagingFolder(const std::string& temporaryFolder) {
  const std::string name = temporaryFolder + "krevo-updater-" + std::to_string(::geteuid());
  // A folder found there already is taken only as it stands: had it ever
  // been open to others, they could have left something inside.
  const bool made = ::mkdir(name.c_str(), 0700) == 0;
  folder_ = OpenFolder(name);
  if (folder_ && made) MakePrivate(folder_.get());
  if (folder_ && IsPrivateFolder(folder_.get())) {
    path_ = name + "/";
    return;
  }
  std::string pattern = name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) Refuse(pattern, errno);
  const std::string fresh(buffer.data());
  folder_ = OpenFolder(fresh);
  if (!folder_) Refuse(fresh, errno);
  MakePrivate(folder_.get());
  if (!IsPrivateFolder(folder_.get())) Refuse(fresh, EPERM);
  path_ = fresh + "/";
  fresh_ = true;
}

TStagingFolder::~TStagingFolder() {
  if (!fresh_ || !folder_) return;
  // Nobody else can enter it, so what is in it is what this run made.
  for (const std::string& name : made_) ::unlinkat(folder_.get(), name.c_str(), 0);
  ::rmdir(path_.substr(0, path_.size() - 1).c_str());
}

base::UniqueFd TStagingFolder::CreateFile(const std::string& name) const {
  // Removing what is in the way first, with its partial mark, so that a
  // download continues an old copy only through OpenPartial; a folder in the
  // way is not ours to empty, and the create then fails on it.
  ::unlinkat(folder_.get(), name.c_str(), 0);
  Complete(name);
  base::UniqueFd fd(::openat(folder_.get(), name.c_str(),
                             O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC | O_NOCTTY, 0600));
  if (!fd) Refuse(path_ + name, errno);
  if (fresh_) made_.insert(name);
  return fd;
}

void TStagingFolder::Remove(const std::string& name) const {
  if (::unlinkat(folder_.get(), name.c_str(), 0) == 0) made_.erase(name);
  Complete(name);
}

namespace {

// The mark of a partial download of `name`: a package name ends in ".zip",
// so no package has this name.
std::string MarkName(const std::string& name) {
  return name + ".partial";
}

}  // namespace

void TStagingFolder::MarkPartial(const std::string& name, const std::string& stamp) const {
  const std::string mark = MarkName(name);
  ::unlinkat(folder_.get(), mark.c_str(), 0);
  base::UniqueFd fd(::openat(folder_.get(), mark.c_str(),
                             O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC | O_NOCTTY,
                             0600));
  const std::string text = stamp + "\n";
  if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::fsync(fd.get()) != 0 || ::fsync(folder_.get()) != 0)
    Refuse(path_ + mark, errno);
  if (fresh_) made_.insert(mark);
}

base::UniqueFd TStagingFolder::OpenPartial(const std::string& name, const std::string& stamp,
                                           std::uint64_t size) const {
  base::UniqueFd mark(::openat(folder_.get(), MarkName(name).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  char text[256];
  const ssize_t n = mark ? ::read(mark.get(), text, sizeof text) : -1;
  if (n <= 0 || std::string(text, static_cast<std::size_t>(n)) != stamp + "\n") return {};
  base::UniqueFd fd(
      ::openat(folder_.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      st.st_size <= 0 || static_cast<std::uint64_t>(st.st_size) >= size)
    return {};
  return fd;
}

void TStagingFolder::CheckRoom(std::uint64_t bytes) const {
  struct statvfs fs;
  if (::fstatvfs(folder_.get(), &fs) != 0) return;
  // What an unprivileged writer may still use: root's own reserve is left
  // to the system.
  const std::uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
  const std::uint64_t available = static_cast<std::uint64_t>(fs.f_bavail) * unit;
  const std::uint64_t reserve = static_cast<std::uint64_t>(fs.f_blocks) * unit / 100;
  if (bytes <= available && available - bytes >= reserve) return;
  throw EStagingFull("the staging folder " + path_ + " has " + std::to_string(available) +
                     " bytes free, too few for " + std::to_string(bytes) +
                     " bytes and a reserve of " + std::to_string(reserve) + ".");
}

void TStagingFolder::Complete(const std::string& name) const {
  if (::unlinkat(folder_.get(), MarkName(name).c_str(), 0) == 0) made_.erase(MarkName(name));
}

}  // namespace krevo::app
