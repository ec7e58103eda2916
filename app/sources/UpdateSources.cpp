#include "app/sources/UpdateSources.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

bool IsHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Whether `entry` starts with `prefix` (lower case), in any case; if so,
// `entry` loses it.
bool TakePrefix(std::string_view& entry, std::string_view prefix) {
  if (entry.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = entry[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  entry.remove_prefix(prefix.size());
  return true;
}

// Throws with the reason `why` about the entry `n` (from 1) `entry`.
[[noreturn]] void Malformed(std::size_t n, std::string_view entry, const std::string& why) {
  throw ESourceError("Sources in config.ini: entry " + std::to_string(n) + " (" +
                     base::EscapeControlCharacters(entry) + "): " + why + ".");
}

TSourceAddress ParseServer(std::size_t n, std::string_view whole, std::string_view rest,
                           TSourceKind kind) {
  TSourceAddress source;
  source.Kind = kind;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host, port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos)
      Malformed(n, whole, "the '[' of the address is not closed");
    host = rest.substr(1, close - 1);
    const std::string bare(host.substr(0, host.find('%')));
    in6_addr address;
    if (::inet_pton(AF_INET6, bare.c_str(), &address) != 1)
      Malformed(n, whole, "the address in brackets is no IPv6 address");
    for (const char c : host)
      if (!IsHostNameCharacter(c) && c != ':' && c != '%')
        Malformed(n, whole, "the address is no IPv6 address");
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') Malformed(n, whole, "only a port may follow the address");
      port = rest.substr(1);
      if (port.empty()) Malformed(n, whole, "the port is missing after ':'");
    }
  } else {
    const std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port.empty()) Malformed(n, whole, "the port is missing after ':'");
    }
    if (host.empty()) Malformed(n, whole, "the host is missing");
    for (const char c : host)
      if (!IsHostNameCharacter(c))
        Malformed(n, whole,
                  "the host may hold only letters, digits, '-' and '.' (an IPv6 address goes in "
                  "brackets; no user, password or path)");
  }
  if (host.empty()) Malformed(n, whole, "the host is missing");
  source.Host = std::string(host);
  if (!port.empty()) {
    int value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
      Malformed(n, whole, "the port is not a number from 1 to 65535");
    source.Port = value;
  }
  return source;
}

TSourceAddress ParseFolder(std::size_t n, std::string_view whole, std::string_view rest) {
  // "file://" is followed by an empty host and the absolute path.
  if (rest.empty() || rest.front() != '/')
    Malformed(n, whole, "a folder is written file:///PATH, with an absolute path");
  TSourceAddress source;
  source.Kind = TSourceKind::skFolder;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '%') {
      const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
      const int low = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
      if (high < 0 || low < 0) Malformed(n, whole, "a '%' is not followed by two hex digits");
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) Malformed(n, whole, "the path holds a control character");
    source.Path += c;
  }
  while (source.Path.size() > 1 && source.Path.back() == '/') source.Path.pop_back();
  return source;
}

}  // namespace

std::vector<TSourceAddress> ParseSources(const std::string& text) {
  std::vector<TSourceAddress> sources;
  std::string_view rest = text;
  for (std::size_t n = 1;; ++n) {
    const std::size_t comma = rest.find(',');
    const std::string_view whole = Trimmed(rest.substr(0, comma));
    if (whole.empty()) Malformed(n, whole, "the entry is empty");
    std::string_view entry = whole;
    if (TakePrefix(entry, "ftp://")) {
      sources.push_back(ParseServer(n, whole, entry, TSourceKind::skFtp));
    } else if (TakePrefix(entry, "ftps://")) {
      sources.push_back(ParseServer(n, whole, entry, TSourceKind::skFtps));
    } else if (TakePrefix(entry, "file://")) {
      sources.push_back(ParseFolder(n, whole, entry));
    } else {
      Malformed(n, whole, "a source starts with ftp://, ftps:// or file:///");
    }
    if (comma == std::string_view::npos) return sources;
    rest.remove_prefix(comma + 1);
  }
}

std::string SourceAddressName(const TSourceAddress& source) {
  if (source.Kind == TSourceKind::skFolder) return "file://" + source.Path;
  return SourceName(source.Kind == TSourceKind::skFtps, source.Host, source.Port);
}

std::string SourceName(bool tls, const std::string& host, int port) {
  in6_addr address;
  // A zone (fe80::1%eth0) stays with the address inside the brackets.
  const std::string bare = host.substr(0, host.find('%'));
  const bool ipv6 = ::inet_pton(AF_INET6, bare.c_str(), &address) == 1;
  return std::string(tls ? "ftps://" : "ftp://") + (ipv6 ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

}  // namespace krevo::app
