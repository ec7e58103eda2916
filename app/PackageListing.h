#pragma once
// Reading the server's detailed listing lines. The columns are fixed: the size
// stands within characters 30-39 and the file name starts at character 40
// (counted from 1) on every line.
#include <cstdint>
#include <string>

#include "base/DateTime.h"

namespace krevo::app {

// The size column (characters 30-39) with blanks and control characters
// removed at both ends, as a decimal 64-bit integer. Throws EConvertError
// "'<text>' is not a valid integer value" with the trimmed text.
std::int64_t ListingSize(const std::string& line);

// The package name: characters 40-138 of the line, as they stand (empty for a
// shorter line).
std::string ListingPackageName(const std::string& line);

// Whether `name` can be used as a file name in the temporary folder: not
// empty, not "." or "..", and free of '/', '\' and control characters. A name
// from the server is a path on this machine only after this test.
bool IsPlainFileName(const std::string& name);

// Whether `name` is an update package's name and so may be downloaded: "up",
// six ASCII digits (the package date YYMMDD), any further characters that a
// plain file name may hold (IsPlainFileName, and no C1 control either), and
// ".zip"; "up" and ".zip" in any case. The server chooses the names, and a
// name becomes a local file: anything else is passed over.
bool IsPackageName(const std::string& name);

// The date filter: true when the package's name date (characters 3-8 of the
// name) sorts after `lastUpdate` formatted as "YYMMDD", compared byte by byte
// as unsigned bytes (a prefix sorts first).
bool IsNewerThan(const std::string& packageName, base::TDateTime lastUpdate);

}  // namespace krevo::app
