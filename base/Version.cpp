#include "base/Version.h"

#include <cctype>

#ifndef KREVO_VERSION
#define KREVO_VERSION ""
#endif

namespace krevo::base {

std::string FormatFileVersion(const std::string& dotted) {
  unsigned long parts[4] = {0, 0, 0, 0};
  int count = 0;
  std::size_t i = 0;
  while (i < dotted.size() && count < 4) {
    if (!std::isdigit(static_cast<unsigned char>(dotted[i]))) return "";
    unsigned long value = 0;
    while (i < dotted.size() && std::isdigit(static_cast<unsigned char>(dotted[i]))) {
      value = value * 10 + static_cast<unsigned long>(dotted[i] - '0');
      if (value > 65535) return "";  // each part is a 16-bit field
      ++i;
    }
    parts[count++] = value;
    if (i < dotted.size() && dotted[i++] != '.') return "";
  }
  if (count == 0 || i < dotted.size()) return "";
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
         std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

std::string OwnFileVersion() {
  return FormatFileVersion(KREVO_VERSION);
}

}  // namespace krevo::base
