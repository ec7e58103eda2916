#include "tools/ftp/FtpUrl.h"

#include <cctype>

namespace krevo::tools {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& in, std::string& out, std::string& error) {
  out.clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    int hi = i + 2 < in.size() ? HexValue(in[i + 1]) : -1;
    int lo = hi >= 0 ? HexValue(in[i + 2]) : -1;
    if (lo < 0) {
      error = "bad percent-escape in \"" + in + "\"";
      return false;
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (out.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    error = "the URL holds a line end or NUL";
    return false;
  }
  return true;
}

}  // namespace

std::optional<TFtpUrl> ParseFtpUrl(const std::string& text, std::string& error) {
  const std::string scheme = "ftp://";
  if (text.size() < scheme.size() ||
      [&] {
        for (std::size_t i = 0; i < scheme.size(); ++i)
          if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return true;
        return false;
      }()) {
    error = "not an ftp:// URL: " + text;
    return std::nullopt;
  }
  TFtpUrl url;
  const std::size_t pathStart = text.find('/', scheme.size());
  std::string authority = text.substr(scheme.size(), pathStart == std::string::npos
                                                         ? std::string::npos
                                                         : pathStart - scheme.size());
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string userInfo = authority.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    if (!Decode(userInfo.substr(0, colon), url.user, error)) return std::nullopt;
    url.password.clear();
    if (colon != std::string::npos && !Decode(userInfo.substr(colon + 1), url.password, error))
      return std::nullopt;
    authority = authority.substr(at + 1);
  }
  // An IPv6 address stands in brackets, so that its colons are not taken for
  // the port's: "[::1]:2121". The brackets must enclose the whole host.
  std::string host = authority, port;
  bool hasPort = false;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos || close < 2 ||
        (close + 1 < authority.size() && authority[close + 1] != ':')) {
      error = "bad IPv6 address in " + text;
      return std::nullopt;
    }
    host = authority.substr(1, close - 1);
    if (host.find(':') == std::string::npos ||
        host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      error = "bad IPv6 address in " + text;
      return std::nullopt;
    }
    hasPort = close + 1 < authority.size();
    if (hasPort) port = authority.substr(close + 2);
  } else {
    const std::size_t colon = authority.rfind(':');
    hasPort = colon != std::string::npos;
    if (hasPort) {
      port = authority.substr(colon + 1);
      host.resize(colon);
    }
  }
  if (hasPort) {
    url.port = 0;
    for (char c : port) url.port = (c >= '0' && c <= '9' && url.port < 100000) ? url.port * 10 + (c - '0') : -1;
    if (port.empty() || url.port < 1 || url.port > 65535) {
      error = "bad port in " + text;
      return std::nullopt;
    }
  }
  const bool bracketed = !authority.empty() && authority[0] == '[';
  if (!bracketed && (host.empty() || host.find_first_of("[]/?#:") != std::string::npos)) {
    error = "no host (or one this client cannot reach) in " + text;
    return std::nullopt;
  }
  url.host = host;
  if (pathStart == std::string::npos) return url;
  std::vector<std::string> segments;
  std::size_t start = pathStart + 1;
  while (true) {
    const std::size_t slash = text.find('/', start);
    std::string segment;
    if (!Decode(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start), segment,
                error))
      return std::nullopt;
    if (slash == std::string::npos) {
      url.last = segment;
      break;
    }
    if (!segment.empty()) url.folders.push_back(segment);
    start = slash + 1;
  }
  return url;
}

}  // namespace krevo::tools
