#pragma once
// Small text helpers of the FTP client.
#include <string>
#include <string_view>

namespace krevo::ftp {

// `s` without leading and trailing spaces and control characters (bytes up to
// 32).
inline std::string TrimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace krevo::ftp
