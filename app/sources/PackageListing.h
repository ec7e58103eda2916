#pragma once
// Reading the server's detailed listing lines. Two layouts are accepted: the
// MS-DOS style of the update server, whose columns are fixed (the size within
// characters 30-39, the file name from character 40, counted from 1), and the
// Unix `ls -l` style that most other FTP servers send.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// A package as one listing line offers it.
struct TListedPackage {
  std::string Name;                   // a package name (IsPackageName)
  std::optional<std::uint64_t> Size;  // none: an MS-DOS line whose size column is no integer
};

// The package a listing line offers, or nothing when it offers none. A line
// that reads as a Unix-style line (ftp::ParseUnixListingLine: it starts with a
// permissions field, which an MS-DOS line never does) is read as one: a
// regular file whose name is a package name is taken with its size; a folder,
// a link or any other name is not. Any other line is read by its fixed
// columns: taken when ListingPackageName is a package name, with ListingSize
// where that parses. A line of neither kind offers nothing. Never throws but
// std::bad_alloc.
std::optional<TListedPackage> ReadListingLine(const std::string& line);

// The download bar's maximum for `lines`: the size of the first line that
// offers a package (lines before it that offer none are passed over), 0 when
// none does. A size beyond the signed range counts as the largest signed
// value. Throws EConvertError (as ListingSize) when that first line is an
// MS-DOS line whose size column is no integer.
std::int64_t DownloadBarMaximum(const std::vector<std::string>& lines);

}  // namespace krevo::app
