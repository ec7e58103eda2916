#include "app/trust/BadPackages.h"

#include <cstring>
#include <string_view>

#include "app/sources/PackageListing.h"
#include "app/trust/IndexState.h"
#include "app/trust/PackageIndex.h"
#include "base/AtomicFile.h"

namespace krevo::app {
namespace {

constexpr std::string_view kHeader = "krevo-bad-packages 1";
constexpr std::size_t kMaxSize = 1 << 20;

[[noreturn]] void Fail(const std::string& what, int error) {
  throw EIndexError(std::string("The list of bad packages ") + kBadPackagesName +
                    " in the root folder " + what +
                    (error ? std::string(": ") + std::strerror(error) : std::string()) + ".");
}

[[noreturn]] void Damaged(const std::string& why) {
  Fail("is damaged (" + why + "); remove it to let those packages in again", 0);
}

}  // namespace

bool TBadPackages::Holds(const std::string& name,
                         const base::TBlake2b512::Digest* indexHash) const {
  const auto it = bad_.find(name);
  if (it == bad_.end()) return false;
  if (!indexHash) return true;
  return it->second && *it->second == *indexHash;
}

void TBadPackages::Add(const std::string& name, const base::TBlake2b512::Digest* hash) {
  bad_[name] = hash ? std::optional(*hash) : std::nullopt;
}

TBadPackages TBadPackages::Load(int rootFd) {
  const std::optional<std::string> file =
      ReadTrustFile(rootFd, kBadPackagesName, kMaxSize, Fail, Damaged);
  if (!file) return {};
  TBadPackages marks;
  std::string_view rest = *file;
  bool header = false;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) Damaged("its last line is cut short");
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (!header) {
      if (line != kHeader) Damaged("its first line is wrong");
      header = true;
      continue;
    }
    if (!line.starts_with("bad ")) Damaged("a line is not one it writes");
    const std::string_view entry = line.substr(4);
    const std::size_t blank = entry.find(' ');
    if (blank == std::string_view::npos) Damaged("a package has no hash");
    const std::string name(entry.substr(0, blank));
    const std::string_view hashText = entry.substr(blank + 1);
    std::optional<base::TBlake2b512::Digest> hash;
    if (!IsPackageName(name) || marks.bad_.contains(name) ||
        (hashText != "-" && !(hash = ParseHashText(hashText))))
      Damaged("a line is not one it writes");
    marks.bad_.emplace(name, hash);
  }
  if (!header) Damaged("it is empty");
  return marks;
}

void TBadPackages::Save(int rootFd) const {
  std::string text(kHeader);
  text += "\n";
  for (const auto& [name, hash] : bad_)
    text += "bad " + name + " " + (hash ? HashText(*hash) : std::string("-")) + "\n";
  ReplaceTrustFile(rootFd, kBadPackagesName, text);
}

}  // namespace krevo::app
