#pragma once
// Text from outside (entry names, server replies, listing lines) shown on a
// terminal or written to the log: control characters are spelled out, so
// that a name cannot start a forged log line or steer the terminal.
#include <exception>
#include <string>
#include <string_view>

namespace krevo::base {

// `text` with every control character escaped: CR, LF and TAB as "\r", "\n"
// and "\t", any other byte below 0x20 and DEL as "\xHH" (lower-case hex), and
// the UTF-8 encodings of the C1 controls U+0080-U+009F (which some terminals
// obey) as their two bytes "\xc2\xHH". Everything else, the backslash
// included, is kept byte for byte. Never throws but std::bad_alloc.
std::string EscapeControlCharacters(std::string_view text);

// A message for a dialog, which may hold lines of text from outside (a
// server's reply): split at its line ends (LF, or CR LF), each line escaped
// as above, joined again with LF; CRs and LFs at the very end are dropped.
// Only those LFs are left unescaped. Never throws but std::bad_alloc.
std::string EscapeControlCharactersInLines(std::string_view text);

// The message of `failure` (what() of a server's reply, a socket error, a
// file error) on one line for a log line or a terminal: line ends at its end
// dropped, each CR LF inside it made ": ", and the rest escaped as
// EscapeControlCharacters does. Never throws but std::bad_alloc.
std::string FailureText(const std::exception& failure);

// Whether `text` holds a byte that EscapeControlCharacters would change.
bool HasControlCharacters(std::string_view text);

}  // namespace krevo::base
