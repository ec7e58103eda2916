#pragma once
// The package index: a small signed text file beside the packages that names
// every package the vendor publishes with its size and BLAKE2b-512 hash, under
// a sequence number that grows with each published index, a channel and a
// date after which it must not be trusted. It is what tells a machine which
// packages exist, so that a server cannot freeze, roll back or mix them.
//
//   krevo-index 1
//   sequence 17
//   expires 2027-01-31T00:00:00Z
//   channel stable
//   package up261201.zip 1503562 <128 lowercase hex digits>
//   package up261208.zip 88123 <128 lowercase hex digits> phase=10
//
// Every line ends in LF. The header line comes first; sequence, expires and
// channel once each, in any order; any number of package lines, in any order.
// After its hash a package line may go on with `phase=P` (the share of
// machines, 0-100, that may take it now), `revoked`, each at most once and in
// either order, and last `check=PATH` followed by the rest of the line.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/Blake2b512.h"
#include "base/Errors.h"

namespace krevo::app {

// The largest index read: the transfer of a longer one is broken off.
inline constexpr std::size_t kMaxIndexSize = 1 << 20;
// The index's name on the server, and the name its signature's trusted
// comment must hold ("file:index").
inline constexpr const char* kIndexName = "index";
// The longest package name an index may hold: what a listing line's name
// column holds.
inline constexpr std::size_t kMaxIndexedNameLength = 99;

// The largest package size an index may give: ten digits, what a listing
// line's size column holds.
inline constexpr std::uint64_t kMaxIndexedSize = 9999999999;

// The index's failures, each message one sentence for the user, ending in a
// full stop, with anything from outside escaped.
class EIndexError final : public base::Exception {
 public:
  using base::Exception::Exception;
};

inline constexpr int kFullPhase = 100;

struct TIndexedPackage {
  std::uint64_t Size = 0;
  base::TBlake2b512::Digest Hash{};
  // The share of machines, 0 to kFullPhase, that may take it now: 0 halts it.
  int Phase = kFullPhase;
  // Withdrawn by the vendor: no machine takes it.
  bool Revoked = false;
  // The health check's program (empty: none) and the rest of its line, the
  // words after it as written (empty when there are none).
  std::string CheckPath;
  std::string CheckArguments;
};

struct TPackageIndex {
  std::uint64_t Sequence = 0;
  std::string Expires;        // as written: YYYY-MM-DDTHH:MM:SSZ
  std::time_t ExpiresAt = 0;  // the same instant
  std::string Channel;        // letters, digits, '.', '_' and '-'
  // By name, so in name order; each name a package name (IsPackageName) of
  // at most kMaxIndexedNameLength characters, none twice.
  std::map<std::string, TIndexedPackage> Packages;
};

// Reads `text` strictly: anything the format does not allow (an empty line, a
// CR, a NUL, an unknown first word, a field missing, doubled, out of range or
// spelt another way, a missing final LF, more than kMaxIndexSize bytes) makes
// it malformed, and nothing is passed over. Throws EIndexError "The package
// index is malformed: line N: ..." naming the first fault.
TPackageIndex ParsePackageIndex(std::string_view text);

// The hash written as 128 lowercase hex digits (one spelling for each hash),
// or nothing when `text` is anything else.
std::optional<base::TBlake2b512::Digest> ParseHashText(std::string_view text);
// `hash` as 128 lowercase hex digits.
std::string HashText(const base::TBlake2b512::Digest& hash);

}  // namespace krevo::app
