#pragma once
// An ftp:// URL as krevo-ftp takes it:
//   ftp://[user[:password]@]host[:port]/folder/.../last
// where host is a name, a dotted IPv4 address or an IPv6 address in brackets
// ("[::1]").
#include <optional>
#include <string>
#include <vector>

namespace krevo::tools {

struct TFtpUrl {
  std::string user = "anonymous";      // no user in the URL: anonymous
  std::string password = "anonymous@";  // ... with this password
  std::string host;                     // an IPv6 address without its brackets
  int port = 21;
  std::vector<std::string> folders;  // each entered with one CWD, in order
  std::string last;                  // the last segment: a name or a pattern; may be empty
};

// Parses `text`; percent-escapes are decoded in the user, the password and each
// path segment (so "%2F" stays inside its segment); empty folder segments are
// skipped. Returns nullopt with `error` set for anything else: another scheme,
// a missing host, unmatched brackets or anything but an IPv6 address inside
// them, a bad port or escape, or a decoded CR, LF or NUL.
std::optional<TFtpUrl> ParseFtpUrl(const std::string& text, std::string& error);

}  // namespace krevo::tools
