#pragma once
// The update sources that config.ini names in [Updater] Sources, tried in
// order: FTP servers, with or without TLS, and local folders.
#include <string>
#include <vector>

#include "base/Errors.h"

namespace krevo::app {

enum class TSourceKind { skFtp, skFtps, skFolder };

struct TSourceAddress {
  TSourceKind Kind = TSourceKind::skFtp;
  std::string Host;  // skFtp, skFtps: a name or an address (IPv6 without brackets)
  int Port = 21;     // skFtp, skFtps
  std::string Path;  // skFolder: absolute, no trailing '/' (but "/" itself)
};

// A Sources value that cannot be read; the message names the entry and why.
class ESourceError final : public base::Exception {
 public:
  using base::Exception::Exception;
};

// The entries of `text`, separated by commas, blanks (spaces, tabs) around
// each allowed: "ftp://HOST[:PORT]" or "ftps://HOST[:PORT]" (the scheme in
// any case; PORT from 1 to 65535, 21 when absent; HOST a name of letters,
// digits, '-' and '.', or an IPv6 address in brackets, a zone after '%'
// allowed; one trailing '/' allowed, no other path, no user or password) and
// "file:///PATH" (an absolute path, %XX escapes decoded, no control
// character; a trailing '/' dropped). Throws ESourceError for an empty value
// or entry and for anything else: an entry is never passed over.
std::vector<TSourceAddress> ParseSources(const std::string& text);

// How the log and the status file name the source: ftp://HOST:PORT,
// ftps://HOST:PORT (an IPv6 address in brackets), file:///PATH.
std::string SourceAddressName(const TSourceAddress& source);

// The source as the log and the status name it: `host` in brackets when it is an IPv6
// address.
std::string SourceName(bool tls, const std::string& host, int port);

}  // namespace krevo::app
