#include "archive/ZipTempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/ZipRemover.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Paths.h"

namespace krevo::archive {

// A write-only stream over the temporary file's descriptor.
class TZipTempFile::FdStream final : public base::TStream {
 public:
  explicit FdStream(int fd) : fd_(fd) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const auto* p = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      ssize_t n = ::write(fd_.get(), p + done, static_cast<std::size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    size_ += done;
    return done;
  }
  std::int64_t Seek(std::int64_t offset, base::TSeekOrigin origin) override {
    if (offset == 0 && origin != base::TSeekOrigin::soBeginning) return size_;
    throw base::EStreamError("Invalid stream position");
  }
  void SetSize(std::int64_t) override { throw base::EWriteError(); }
  int Fd() const { return fd_.get(); }
  void Close() { fd_.Reset(); }

 private:
  base::UniqueFd fd_;
  std::int64_t size_ = 0;
};

namespace {

// A unique name beside the destination `name` for a file being written.
std::string TemporaryName(const std::string& name) {
  std::string stem = ".krevo-" + name;
  // Long names keep to the file system's limit of 255 bytes per name.
  if (stem.size() > 200) stem = ".krevo-extract";
  static unsigned counter = 0;
  static const std::string pid = std::to_string(::getpid());
  return stem + "." + pid + "-" + std::to_string(++counter);
}

}  // namespace

TZipTempFile::TZipTempFile(int folder, const std::string& name, const std::string& destination,
                           bool destinationExists, unsigned mode)
    : folder_(::fcntl(folder, F_DUPFD_CLOEXEC, 0)), name_(name), destination_(destination) {
  if (!folder_)
    throw base::EFCreateError("Cannot create file \"" + destination + "\". " +
                              std::strerror(errno));
  // Created with its final permissions: the kernel takes away what the
  // process umask takes away, and nothing changes them afterwards (a change
  // by mode would give back what the umask took, so that a package could
  // install world-writable files). Set-id and sticky bits are never asked.
  const mode_t initial = static_cast<mode_t>(mode & 0777);
  if (!destinationExists) {
    // A file without a name, so that nothing appears at the destination
    // before Commit. On ext4 this costs some microseconds a file more than
    // creating it under its name (the file sits on the orphan list until it
    // is linked): the price of never leaving a partial file behind.
    int fd = ::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, initial);
    if (fd >= 0) {
      stream_ = std::make_unique<FdStream>(fd);
      return;
    }
    // A file system without nameless files: a named temporary file instead.
  }
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary_ = TemporaryName(name_);
    fd = ::openat(folder_.get(), temporary_.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, initial);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temporary_.clear();
    throw base::EFCreateError("Cannot create file \"" + destination + "\". " +
                              std::strerror(errno));
  }
  stream_ = std::make_unique<FdStream>(fd);
}

TZipTempFile::TZipTempFile(base::UniqueFd staged, const std::string& destination)
    : destination_(destination), adopted_(true) {
  if (!staged) throw base::EFCreateError("Cannot create file \"" + destination + "\".");
  stream_ = std::make_unique<FdStream>(staged.Release());
}

TZipTempFile::~TZipTempFile() {
  stream_.reset();
  if (!committed_ && !temporary_.empty()) ::unlinkat(folder_.get(), temporary_.c_str(), 0);
}

base::TStream& TZipTempFile::Stream() {
  return *stream_;
}

void TZipTempFile::Finish(std::optional<struct timespec> modified, bool flush) noexcept {
  int fd = stream_->Fd();
  if (modified) {
    struct timespec times[2] = {{0, UTIME_NOW}, *modified};
    ::futimens(fd, times);
  }
  if (flush) ::fsync(fd);
}

namespace {

// Gives the nameless file open as `fd` the name `name` in the open folder
// `folder`; errno tells why not. The descriptor itself serves where the
// kernel lets its owner use it (which spares a lookup through /proc), the
// /proc entry elsewhere.
bool LinkNameless(int fd, int folder, const std::string& name) {
  static bool direct = true;
  if (direct) {
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != EPERM && errno != ENOENT && errno != EINVAL) return false;
    direct = false;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

bool TZipTempFile::Commit() {
  if (adopted_) {
    stream_->Close();
    committed_ = true;
    return true;
  }
  const int folder = folder_.get();
  if (temporary_.empty()) {
    if (LinkNameless(stream_->Fd(), folder, name_)) {
      stream_->Close();
      committed_ = true;
      return true;
    }
    // Something appeared at the destination meanwhile: name the file beside
    // it and replace it as an existing destination is replaced.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = TemporaryName(name_);
      if (LinkNameless(stream_->Fd(), folder, name)) {
        temporary_ = name;
        break;
      }
      if (errno != EEXIST) return false;
    }
    if (temporary_.empty()) return false;
  }
  stream_->Close();
  // An existing file is swapped with the new one in a single step and then
  // removed from beside it on the remover's thread. A rename over it would do
  // the same in one call, but ext4 then starts writing the new file's data
  // out before it returns (its guard for programs that never flush), which
  // makes replacing many small files several times slower. The swap is
  // atomic all the same: a killed process leaves the old file or the new
  // one; durability against a power cut is what FlushBuffers is for. A link
  // that appeared at the destination is not replaced.
  struct stat st;
  const bool there = ::fstatat(folder, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (there && S_ISLNK(st.st_mode)) return false;
  if (there && !S_ISDIR(st.st_mode) &&
      ::renameat2(folder, temporary_.c_str(), folder, name_.c_str(), RENAME_EXCHANGE) == 0) {
    committed_ = true;
    // The old file's name now, removed through the path shown.
    TZipRemover::Instance().Remove(base::ExtractFilePath(destination_) + temporary_);
    temporary_.clear();
    return true;
  }
  // The file system cannot swap, or nothing is there any more.
  if (::renameat(folder, temporary_.c_str(), folder, name_.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

}  // namespace krevo::archive
