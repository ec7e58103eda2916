#include "app/trust/RootOnlyPaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <vector>

#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

[[noreturn]] void Refuse(const std::string& path, const struct stat& st, const char* why) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  throw EUnsafePath("Refusing to run as root: " + base::EscapeControlCharacters(path) +
                    " (owner uid " + std::to_string(st.st_uid) + ", mode " + mode + ") " + why +
                    ". It and every folder above it must belong to root and be writable by "
                    "root alone.");
}

// `above`: a folder on the way to the path asked for, not that path itself.
void CheckOne(const std::string& path, const struct stat& st, bool above) {
  if (st.st_uid != 0) Refuse(path, st, "is not owned by root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return;
  // In a sticky folder only its owner and root may rename or remove what root put there.
  if (above && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) return;
  Refuse(path, st, "can be written by users other than root");
}

// Puts the parts of `path` before those in `parts`.
void PushParts(const std::string& path, std::deque<std::string>& parts) {
  std::vector<std::string> split;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) split.emplace_back(path, start, end - start);
    start = end + 1;
  }
  parts.insert(parts.begin(), split.begin(), split.end());
}

// Whether a part still to come names something below the current folder.
bool MoreToCome(const std::deque<std::string>& parts) {
  for (const std::string& part : parts)
    if (part != ".") return true;
  return false;
}

std::string Parent(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

}  // namespace

bool RunningAsRoot() {
  return ::geteuid() == 0;
}

void CheckOnlyRootCanChange(const std::string& path) {
  std::deque<std::string> parts;
  PushParts(path, parts);
  if (path.empty() || path.front() != '/') {
    std::vector<char> cwd(4096);
    while (!::getcwd(cwd.data(), cwd.size())) {
      if (errno != ERANGE) return;  // no current folder: nothing can be read through it
      cwd.resize(cwd.size() * 2);
    }
    PushParts(cwd.data(), parts);
  }
  // Every folder the walk stands in has no link in its path, so its parent
  // was checked on the way down.
  std::string current = "/";
  struct stat st;
  if (::lstat("/", &st) == 0) CheckOne("/", st, MoreToCome(parts));
  int links = 0;
  while (!parts.empty()) {
    const std::string part = parts.front();
    parts.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      current = Parent(current);
      continue;
    }
    const std::string next = current == "/" ? "/" + part : current + "/" + part;
    if (::lstat(next.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode)) {
      std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
      const ssize_t n = ::readlink(next.c_str(), target.data(), target.size());
      if (++links > kMaxLinks || n <= 0 || static_cast<std::size_t>(n) >= target.size())
        Refuse(next, st, "is a link that cannot be followed");
      const std::string to(target.data(), static_cast<std::size_t>(n));
      PushParts(to, parts);
      if (to.front() == '/') current = "/";
      continue;
    }
    CheckOne(next, st, MoreToCome(parts));
    current = next;
  }
}

}  // namespace krevo::app
