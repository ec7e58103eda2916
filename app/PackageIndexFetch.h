#pragma once
// The index step's request: the package index and its signature, fetched
// after the listing in the listing's session and checked before anything is
// read from the index.
#include <optional>
#include <span>

#include "app/PackageIndex.h"
#include "base/Minisign.h"
#include "ftp/NetFTP.h"

namespace krevo::app {

// Fetches kIndexName from the session's current folder (`ftp` is borrowed and
// must be logged in), at most kMaxIndexSize bytes (the transfer stops at the
// byte past them), then its signature kIndexName + ".minisig", and checks
// that one of `keys` signed it under the name kIndexName before it is read
// (ParsePackageIndex). Nothing when the server has no index (550). Throws
// EIndexError with the reason when the index is refused: larger than
// kMaxIndexSize, not received, unsigned, badly signed or malformed; the
// session stays usable. Throws what the session throws otherwise (a lost
// connection, a time-out, a stop) and base::ESignatureError when the crypto
// library fails.
std::optional<TPackageIndex> FetchPackageIndex(ftp::TNetFTP& ftp,
                                               std::span<const base::TMinisignKey> keys);

}  // namespace krevo::app
