#pragma once
#include <string>

namespace krevo::base {

// The program's own version as four decimal numbers joined by points ("1.0.0.0"),
// or empty for a build without a version.
std::string OwnFileVersion();

// Formats a dotted version text of up to four numbers as four ("2.1" gives
// "2.1.0.0"); empty or malformed text gives the empty string.
std::string FormatFileVersion(const std::string& dotted);

}  // namespace krevo::base
