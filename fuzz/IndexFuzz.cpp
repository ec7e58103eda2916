// The package index reader on arbitrary text: it accepts the text or throws
// EIndexError, nothing else, and what it accepts holds only what the format
// allows; a refusal's message reaches the log and the terminal, so it holds
// no control character.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/sources/PackageListing.h"
#include "app/trust/PackageIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace krevo::app;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const TPackageIndex index = ParsePackageIndex(text);
    if (index.Channel.empty() || index.Expires.size() != 20) std::abort();
    for (const auto& [name, package] : index.Packages)
      if (!IsPackageName(name) || name.size() > kMaxIndexedNameLength ||
          package.Size > kMaxIndexedSize)
        std::abort();
  } catch (const EIndexError& e) {
    for (const char c : std::string(e.what()))
      if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) std::abort();
  }
  return 0;
}
