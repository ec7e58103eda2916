// Matches arbitrary names against arbitrary masks.
#include <cstdint>
#include <string>

#include "archive/ZipMasks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::size_t cut = in.find('\n');
  if (cut == std::string::npos) return 0;
  krevo::archive::TInternalSearchRec s;
  s.mask = in.substr(0, std::min<std::size_t>(cut, 259));
  s.exclusionMask = s.mask.size() > 3 ? s.mask.substr(3) : "";
  krevo::archive::MatchItem(in.substr(cut + 1, 4096), s);
  return 0;
}
