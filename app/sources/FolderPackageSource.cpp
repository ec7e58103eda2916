#include "app/sources/FolderPackageSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "app/sources/PackageListing.h"
#include "base/ControlEscape.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetFTP.h"

namespace krevo::app {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The listing line of a regular file, in the Unix style that
// ReadListingLine reads; the date is the file's, in UTC.
std::string ListingLine(const std::string& name, const struct stat& st) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  const std::time_t t = st.st_mtime;
  if (!::gmtime_r(&t, &tm) || tm.tm_year + 1900 < 1000 || tm.tm_year + 1900 > 9999) {
    tm = {};
    tm.tm_year = 70;
    tm.tm_mday = 1;
  }
  char day[8];
  std::snprintf(day, sizeof day, "%2d", tm.tm_mday);
  return "-rw-r--r-- 1 0 0 " + std::to_string(static_cast<std::uint64_t>(st.st_size)) + " " +
         kMonths[tm.tm_mon] + " " + day + " " + std::to_string(tm.tm_year + 1900) + " " + name;
}

}  // namespace

TFolderPackageSource::TFolderPackageSource(std::string path) : path_(std::move(path)) {}

std::string TFolderPackageSource::Name() const {
  return "file://" + path_;
}

void TFolderPackageSource::Connect() {
  // The configured path is root's to choose, links in it included (a mount
  // point reached through /media, say); nothing below it is followed.
  base::UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    // A stick that is not plugged in leaves no folder there.
    throw EPackageSourceError("The update folder " + base::EscapeControlCharacters(path_) +
                                  " cannot be opened: " + std::strerror(error),
                              error == ENOENT || error == ENOTDIR);
  }
  folder_ = std::move(fd);
}

bool TFolderPackageSource::IsUnreachable(const std::exception& failure) const {
  const auto* error = dynamic_cast<const EPackageSourceError*>(&failure);
  return error && error->Unreachable();
}

std::string TFolderPackageSource::ConnectFailure(const std::exception& failure) const {
  // Connect's own message names the folder and the reason.
  return std::string(failure.what()) + ".";
}

void TFolderPackageSource::FetchListing(base::TStringList& lines) {
  const std::string where = base::EscapeControlCharacters(path_);
  // A descriptor of its own for the stream, which closes it.
  base::UniqueFd again(::openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::unique_ptr<DIR, DirCloser> dir(again ? ::fdopendir(again.get()) : nullptr);
  if (!dir)
    throw EPackageSourceError("The update folder " + where +
                              " cannot be listed: " + std::strerror(errno));
  again.Release();
  std::vector<std::pair<std::string, std::string>> found;  // name, line
  std::int64_t entries = 0, bytes = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0)
        throw EPackageSourceError("The update folder " + where +
                                  " cannot be listed: " + std::strerror(errno));
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // A folder, or a file system, that never ends must not take the memory
    // or the run: the bounds of a server's listing hold here too.
    bytes += static_cast<std::int64_t>(name.size()) + 1;
    if (++entries > ftp::TNetFTP::kMaxListingLines || bytes > ftp::TNetFTP::kMaxListingBytes)
      throw EPackageSourceError("The update folder " + where + " holds more than " +
                                std::to_string(ftp::TNetFTP::kMaxListingLines) + " entries or " +
                                std::to_string(ftp::TNetFTP::kMaxListingBytes >> 20) +
                                " MiB of names");
    if (!IsPackageName(name)) continue;
    struct stat st;
    if (::fstatat(folder_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;  // links, folders, FIFOs, devices
    found.emplace_back(name, ListingLine(name, st));
  }
  // The date filter takes the packages in the order listed: oldest first.
  std::sort(found.begin(), found.end());
  lines.Clear();
  for (const auto& [name, line] : found) lines.Add(line);
}

template <typename T>
base::UniqueFd TFolderPackageSource::OpenRegular(const std::string& name, struct stat& st) const {
  if (!folder_) throw T("The update folder " + base::EscapeControlCharacters(path_) + " is closed");
  const std::string shown = base::EscapeControlCharacters(name);
  // Looked at before it is opened, so that a FIFO or a device is never
  // opened at all; then checked again on the descriptor, which is what is read.
  if (::fstatat(folder_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return base::UniqueFd();
    throw T(shown + " cannot be read: " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw T(shown + " is not a regular file");
  base::UniqueFd fd(
      ::openat(folder_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (errno == ELOOP) throw T(shown + " is not a regular file");
    if (errno == ENOENT) return base::UniqueFd();
    throw T(shown + " cannot be read: " + std::strerror(errno));
  }
  if (::fstat(fd.get(), &st) != 0) throw T(shown + " cannot be read: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw T(shown + " is not a regular file");
  return fd;
}

bool TFolderPackageSource::StopRequested() const {
  if (stopFd_ < 0) return false;
  pollfd p{stopFd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void TFolderPackageSource::Retrieve(const std::string& name, base::TStream& stream, bool,
                                    std::int64_t maxBytes) {
  struct stat st;
  base::UniqueFd fd = OpenRegular<EPackageSourceError>(name, st);
  if (!fd) throw EPackageSourceError("the update folder has no " + name);
  if (OnWorkBegin) OnWorkBegin(st.st_size);
  std::vector<char> buffer(kChunk);
  std::int64_t total = 0;
  for (;;) {
    if (StopRequested()) throw ftp::ENetOperationAborted();
    // One byte past the bound is enough to tell a file that grew.
    std::size_t want = buffer.size();
    if (maxBytes >= 0 && static_cast<std::int64_t>(want) > maxBytes + 1 - total)
      want = static_cast<std::size_t>(maxBytes + 1 - total);
    const ssize_t n = ::read(fd.get(), buffer.data(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EPackageSourceError(name + " cannot be read: " + std::strerror(errno));
    }
    if (n == 0) break;
    total += n;
    if (maxBytes >= 0 && total > maxBytes)
      throw EPackageSourceError(name + " holds more than the " + std::to_string(maxBytes) +
                                " bytes listed");
    stream.WriteBuffer(buffer.data(), n);
    if (OnWork) OnWork(total);
  }
  if (maxBytes >= 0 && total != maxBytes)
    throw EPackageSourceError(name + " changed while it was read: " + std::to_string(total) +
                              " of " + std::to_string(maxBytes) + " bytes");
  if (OnWorkEnd) OnWorkEnd();
}

TSmallFile TFolderPackageSource::FetchSmallFile(const std::string& name, std::size_t limit) {
  struct stat st;
  base::UniqueFd fd = OpenRegular<ESmallFileRefused>(name, st);
  if (!fd) return {false, "No such file in the update folder."};
  std::string content;
  std::vector<char> buffer(kChunk);
  for (;;) {
    const std::size_t want = std::min(buffer.size(), limit + 1 - content.size());
    const ssize_t n = ::read(fd.get(), buffer.data(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ESmallFileRefused(base::EscapeControlCharacters(name) +
                              " cannot be read: " + std::strerror(errno));
    }
    if (n == 0) break;
    content.append(buffer.data(), static_cast<std::size_t>(n));
    if (content.size() > limit)
      throw ESmallFileRefused(base::EscapeControlCharacters(name) + " is larger than " +
                              std::to_string(limit) + " bytes");
  }
  return {true, std::move(content)};
}

}  // namespace krevo::app
