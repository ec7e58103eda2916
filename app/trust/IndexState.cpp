#include "app/trust/IndexState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/sources/PackageListing.h"
#include "app/trust/PackageIndex.h"
#include "base/AtomicFile.h"
#include "base/FileDescriptor.h"

namespace krevo::app {
namespace {

constexpr std::string_view kHeader1 = "krevo-index-state 1";  // read only
constexpr std::string_view kHeader2 = "krevo-index-state 2";
// Thousands of package names fit in far less.
constexpr std::size_t kMaxStateSize = 16 << 20;

[[noreturn]] void Fail(const std::string& what, int error) {
  throw EIndexError(std::string("The index state ") + kIndexStateName + " in the root folder " +
                    what + (error ? std::string(": ") + std::strerror(error) : std::string()) +
                    ".");
}

[[noreturn]] void Damaged(const std::string& why) {
  Fail("is damaged (" + why + "); remove it to let the next index in as the first", 0);
}

}  // namespace

std::optional<TIndexState> LoadIndexState(int rootFd) {
  const std::optional<std::string> file =
      ReadTrustFile(rootFd, kIndexStateName, kMaxStateSize, Fail, Damaged);
  if (!file) return std::nullopt;
  const std::string& text = *file;

  TIndexState state;
  std::string_view rest = text;
  int version = 0;  // of the header line, once read
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) Damaged("its last line is cut short");
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (version == 0) {
      if (line == kHeader1)
        version = 1;
      else if (line == kHeader2)
        version = 2;
      else
        Damaged("its first line is wrong");
    } else if (line.starts_with("sequence ") && !state.Sequence) {
      const std::string_view digits = line.substr(9);
      std::uint64_t sequence = 0;
      const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), sequence);
      if (ec != std::errc() || p != digits.data() + digits.size() || digits.empty() ||
          digits[0] == '+' || digits[0] == '-')
        Damaged("its sequence is no number");
      state.Sequence = sequence;
    } else if (line.starts_with("installed ")) {
      const std::string_view entry = line.substr(10);
      const std::size_t blank = version == 1 ? std::string_view::npos : entry.find(' ');
      const std::string name(entry.substr(0, blank));
      if (!IsPackageName(name) || state.Installed.contains(name))
        Damaged("a line is not one it writes");
      std::optional<base::TBlake2b512::Digest> hash;
      if (version == 2) {
        if (blank == std::string_view::npos) Damaged("a package has no hash");
        const std::string_view hashText = entry.substr(blank + 1);
        if (hashText != "-" && !(hash = ParseHashText(hashText)))
          Damaged("a package's hash is no hash");
      }
      state.Installed.emplace(name, hash);
    } else {
      Damaged("a line is not one it writes");
    }
  }
  if (version == 0) Damaged("it is empty");
  // The first version was written only once an index was accepted.
  if (version == 1 && !state.Sequence) Damaged("it holds no sequence");
  return state;
}

void SaveIndexState(int rootFd, const TIndexState& state) {
  std::string text(kHeader2);
  text += "\n";
  if (state.Sequence) text += "sequence " + std::to_string(*state.Sequence) + "\n";
  for (const auto& [name, hash] : state.Installed)
    text += "installed " + name + " " + (hash ? HashText(*hash) : std::string("-")) + "\n";
  ReplaceTrustFile(rootFd, kIndexStateName, text);
}

std::optional<std::string> ReadTrustFile(int rootFd, const char* name, std::size_t maxBytes,
                                         void (*fail)(const std::string& what, int error),
                                         void (*damaged)(const std::string& why)) {
  base::TSmallFileContent file = base::ReadSmallFile(rootFd, name, maxBytes);
  switch (file.status) {
    case base::TSmallRead::srRead:
      return std::move(file.content);
    case base::TSmallRead::srAbsent:
      return std::nullopt;
    case base::TSmallRead::srOpenFailed:
      fail("cannot be opened", file.error);
      break;
    case base::TSmallRead::srNotRegular:
      damaged("it is not a regular file");
      break;
    case base::TSmallRead::srTooLarge:
      damaged("it is larger than " + std::to_string(maxBytes >> 20) + " MiB");
      break;
    case base::TSmallRead::srReadFailed:
      fail("cannot be read", file.error);
      break;
  }
  std::abort();  // `fail` and `damaged` throw
}

void ReplaceTrustFile(int rootFd, const char* name, const std::string& text) {
  // A copy that a killed save left is removed first, so none stays for good.
  base::RemoveReplaceLeftovers(rootFd, name);
  try {
    base::ReplaceFileAtomically(rootFd, name, text, 0644,
                                std::string(name) + " in the root folder");
  } catch (const base::EAtomicFileError& e) {
    throw EIndexError(e.what());
  }
}

}  // namespace krevo::app
