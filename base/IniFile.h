#pragma once
// The profile (INI) reader.
#include <string>

namespace krevo::base {

// Reads `key` of `section` from the INI file at `path`: the value of the first
// such key in the first such section (names compared without regard to case),
// with the blanks around it removed and one pair of enclosing quotes taken off,
// cut to 2047 characters. Returns `defaultValue` when the file cannot be read
// or holds no such key; an existing empty value is returned as empty. Lines
// end in LF or CR LF; a UTF-8 byte-order mark is skipped; lines starting with
// ';' are comments. Never throws for bad input.
//
// Written here rather than taken from an INI library: the usual ones cap the
// line length, treat ';' inside values as comments and join continuation
// lines, none of which the profile service does.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue);

// The same lookup in an INI text already read.
std::string ProfileStringFromText(const std::string& text, const std::string& section,
                                  const std::string& key, const std::string& defaultValue);

}  // namespace krevo::base
