#pragma once
// One line of a Unix-style detailed listing, as `ls -l` writes it and as most
// FTP servers send it for LIST: permissions, link count, owner, an optional
// group, size, month, day, time or year, name. Owner and group may be names
// or numbers, the columns are separated by any number of blanks, and the name
// is everything after the one blank that follows the time or year, spaces
// included.
//
// No library on the systems we build for reads such lines, so this reader is
// our own; it is meant for lines from an untrusted server and reads nothing
// but the bytes of the line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krevo::ftp {

struct TNetListingEntry {
  char Type = '-';  // the permissions' first character: '-' a file, 'd' a folder, 'l' a link…
  std::uint64_t Size = 0;  // the size column
  std::string Name;        // for a link, with its " -> target" part
};

// The entry of a Unix-style line, or nothing when the line is not one: a
// permissions field of ten characters (type, then r/w/x/s/S/t/T/- in their
// places, optionally followed by '+', '@' or '.'), a decimal link count, the
// owner, an optional group, a decimal size of at most 20 digits that fits 64
// bits, an English month abbreviation (any case), a day from 1 to 31, a time
// HH:MM or a four-digit year, one blank and a name that is not empty. A
// trailing CR is not part of the name. Never throws but std::bad_alloc.
std::optional<TNetListingEntry> ParseUnixListingLine(std::string_view line);

}  // namespace krevo::ftp
