#include "archive/ZipFolderStamps.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "base/FileDescriptor.h"

namespace krevo::archive {
namespace {

// The process umask, read where Linux shows it without changing it; the
// old way (set it and put it back) only where that is missing.
mode_t ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) != 0) continue;
    try {
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
    } catch (const std::exception&) {
      break;
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

std::size_t Depth(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

}  // namespace

TZipFolderStamps::~TZipFolderStamps() {
  Apply();
}

std::string TZipFolderStamps::Key(const std::string& path) {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

void TZipFolderStamps::Created(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    created_[Key(path)] = Identity{st.st_dev, st.st_ino};
}

void TZipFolderStamps::Created(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) created_[Key(path)] = Identity{st.st_dev, st.st_ino};
}

void TZipFolderStamps::Stamp(const std::string& path, std::optional<unsigned> mode,
                             std::optional<struct timespec> modified) {
  auto it = created_.find(Key(path));
  if (it == created_.end() || (!mode && !modified)) return;
  pending_.push_back(Pending{it->first, it->second, mode, modified});
}

void TZipFolderStamps::Apply() noexcept {
  if (pending_.empty()) return;
  // Of two stamps for one folder the later entry's wins, as it would for a
  // file; then the deepest folders first.
  std::unordered_map<std::string, std::size_t> last;
  for (std::size_t i = 0; i < pending_.size(); ++i) last[pending_[i].path] = i;
  std::vector<Pending> work;
  for (std::size_t i = 0; i < pending_.size(); ++i)
    if (last[pending_[i].path] == i) work.push_back(std::move(pending_[i]));
  pending_.clear();
  std::stable_sort(work.begin(), work.end(), [](const Pending& a, const Pending& b) {
    return Depth(a.path) > Depth(b.path);
  });
  const mode_t mask = ProcessUmask();
  for (const Pending& p : work) {
    base::UniqueFd fd(
        ::open(p.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!fd) continue;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || st.st_dev != p.id.dev || st.st_ino != p.id.ino) continue;
    if (p.mode) ::fchmod(fd.get(), static_cast<mode_t>(*p.mode & 0777) & ~mask);
    if (p.modified) {
      struct timespec times[2] = {{0, UTIME_NOW}, *p.modified};
      ::futimens(fd.get(), times);
    }
  }
}

}  // namespace krevo::archive
