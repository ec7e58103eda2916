#pragma once
// The index step's request: the package index and its signature, fetched
// after the listing in the listing's session and checked before anything is
// read from the index.
#include <optional>
#include <span>

#include "app/sources/PackageSource.h"
#include "app/trust/PackageIndex.h"
#include "base/Minisign.h"

namespace krevo::app {

// Fetches kIndexName from `source` (borrowed, open), at most kMaxIndexSize bytes (the transfer
// stops at the byte past them), then its signature kIndexName + ".minisig", and checks that one of
// `keys` signed it under the name kIndexName before it is read (ParsePackageIndex). Nothing when
// the source has no index (a server's 550). Throws EIndexError with the reason when the index is
// refused: larger than kMaxIndexSize, not received, unsigned, badly signed or malformed; the
// session stays usable. Throws what the session throws otherwise (a lost
// connection, a time-out, a stop) and base::ESignatureError when the crypto
// library fails.
std::optional<TPackageIndex> FetchPackageIndex(TPackageSource& source,
                                               std::span<const base::TMinisignKey> keys);

}  // namespace krevo::app
