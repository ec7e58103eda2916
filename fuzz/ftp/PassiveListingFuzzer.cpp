// The PASV and EPSV reply parsers, the listing splitter and the Unix-style
// listing line reader over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/NetFTP.h"
#include "ftp/NetListingLine.h"

using namespace krevo::ftp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string host;
  int port = -1;
  if (ParsePassiveReply(text, host, port) && (port < 0 || port > 65535 || !TNetStack::IsDottedAddress(host)))
    __builtin_trap();
  // An EPSV port is 1..65535, written in the text between a "(" and the
  // delimiter that closes it: the digits are in the input.
  int extendedPort = -1;
  if (ParseExtendedPassiveReply(text, extendedPort)) {
    if (extendedPort < 1 || extendedPort > 65535) __builtin_trap();
    const std::string digits = std::to_string(extendedPort);
    const std::size_t open = text.find('(');
    if (open == std::string::npos || text.find(digits, open) == std::string::npos) __builtin_trap();
  }
  krevo::base::TStringList lines;
  SplitListingLines(text, lines);
  std::size_t total = 0;
  for (const auto& line : lines.Lines()) {
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
    total += line.size();
    // A name is a non-empty tail of its line.
    if (const auto entry = ParseUnixListingLine(line)) {
      if (entry->Name.empty() || entry->Name.size() >= line.size() ||
          line.compare(line.size() - entry->Name.size(), std::string::npos, entry->Name) != 0)
        __builtin_trap();
    }
  }
  if (total > size) __builtin_trap();
  return 0;
}
