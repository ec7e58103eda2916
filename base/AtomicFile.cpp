#include "base/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "base/FileDescriptor.h"

namespace krevo::base {
namespace {

std::string Failure(const std::string& shownName, const char* step, int err) {
  return "The file " + shownName + " could not be written (" + step + "): " + std::strerror(err) +
         ".";
}

constexpr std::size_t kSuffixDigits = 12;

// A name nobody else is likely to hold; the exclusive create settles it.
// RemoveReplaceLeftovers knows its pattern.
std::string TemporaryName(const std::string& name) {
  static std::mt19937_64 random(std::random_device{}());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string suffix;
  for (std::uint64_t bits = random(); suffix.size() < kSuffixDigits; bits >>= 4)
    suffix += kHex[bits & 15];
  return ".krevo-" + name + "." + suffix;
}

bool IsTemporaryNameOf(const std::string& candidate, const std::string& name) {
  const std::string stem = ".krevo-" + name + ".";
  if (candidate.size() != stem.size() + kSuffixDigits || !candidate.starts_with(stem)) return false;
  for (std::size_t i = stem.size(); i < candidate.size(); ++i) {
    const char c = candidate[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

void ReplaceFileAtomically(int folderFd, const std::string& name, std::string_view content,
                           mode_t mode, const std::string& shownName) {
  std::string temporary;
  UniqueFd fd;
  for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
    temporary = TemporaryName(name);
    fd.Reset(::openat(folderFd, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) throw EAtomicFileError(Failure(shownName, "create", errno));
  // From here on, a failure leaves no temporary file behind.
  const auto fail = [&](const char* step) {
    const int err = errno;
    ::unlinkat(folderFd, temporary.c_str(), 0);
    throw EAtomicFileError(Failure(shownName, step, err));
  };
  // The umask must not take away what readers such as a metrics collector need.
  if (::fchmod(fd.get(), mode) != 0) fail("chmod");
  for (std::size_t done = 0; done < content.size();) {
    const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      fail("write");
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0) fail("fsync");
  if (::close(fd.Release()) != 0) fail("close");
  if (::renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) fail("rename");
  // The new name is on the disk once the folder is; a folder that cannot be
  // flushed (some file systems refuse) still holds the whole file.
  ::fsync(folderFd);
}

void ReplaceOrRemoveFile(int folderFd, const std::string& name, std::string_view content,
                         mode_t mode, const std::string& shownName) {
  try {
    ReplaceFileAtomically(folderFd, name, content, mode, shownName);
  } catch (const EAtomicFileError& e) {
    std::string message = e.what();
    if (::unlinkat(folderFd, name.c_str(), 0) == 0) {
      ::fsync(folderFd);
      message += " The old one was removed.";
    } else if (errno != ENOENT) {
      message +=
          std::string(" The old one could not be removed either: ") + std::strerror(errno) + ".";
    }
    throw EAtomicFileError(message);
  }
}

int RemoveReplaceLeftovers(int folderFd, const std::string& name) {
  // A descriptor of its own: closedir closes it.
  const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* folder = ::fdopendir(fd);
  if (!folder) {
    ::close(fd);
    return 0;
  }
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(folder))
    if (IsTemporaryNameOf(entry->d_name, name)) found.emplace_back(entry->d_name);
  ::closedir(folder);
  int removed = 0;
  for (const std::string& leftover : found) {
    struct stat st;
    if (::fstatat(folderFd, leftover.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    if (::unlinkat(folderFd, leftover.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

TSmallFileContent ReadSmallFile(int folderFd, const std::string& name, std::size_t maxBytes) {
  UniqueFd fd(
      ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return {errno == ENOENT ? TSmallRead::srAbsent : TSmallRead::srOpenFailed, {}, errno};
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return {TSmallRead::srReadFailed, {}, errno};
  if (!S_ISREG(st.st_mode)) return {TSmallRead::srNotRegular, {}, 0};
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes)
    return {TSmallRead::srTooLarge, {}, 0};
  TSmallFileContent file{TSmallRead::srRead, {}, 0};
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {TSmallRead::srReadFailed, {}, errno};
    if (n == 0) return file;
    // The file may grow while it is read.
    if (file.content.size() + static_cast<std::size_t>(n) > maxBytes)
      return {TSmallRead::srTooLarge, {}, 0};
    file.content.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace krevo::base
