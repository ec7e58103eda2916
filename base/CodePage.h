#pragma once
// Code-page conversion. The ANSI code page of this build is UTF-8; the OEM code
// page is CP437, in which archive tools traditionally store file names.
#include <string>

namespace krevo::base {

// Converts CP437 bytes to UTF-8. Bytes below 0x80 are kept as they are.
std::string OemToAnsi(const std::string& oem);

// Converts UTF-8 to CP437; a character CP437 lacks, or a malformed sequence,
// becomes '?'.
std::string AnsiToOem(const std::string& ansi);

}  // namespace krevo::base
