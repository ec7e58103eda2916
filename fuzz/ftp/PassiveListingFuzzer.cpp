// The PASV reply parser, the listing splitter and the Unix-style listing line
// reader over arbitrary text.
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
