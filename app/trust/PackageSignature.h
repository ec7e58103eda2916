#pragma once
// The signature of an update package: the key that packages must be signed
// with, and the check of NAME.minisig, fetched from the update server beside
// NAME, before anything of the package is opened.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/config/UpdaterConfig.h"
#include "app/sources/PackageSource.h"
#include "base/Blake2b512.h"
#include "base/Minisign.h"
#include "base/Streams.h"

namespace krevo::app {

// The trusted keys from `config`: PublicKey when it is set (one key line, or
// several separated by commas, blanks around them allowed); else the file
// PublicKeyFile names (relative to `executableFolder`, which ends in '/',
// unless it starts with '/'), which holds one key or several one after the
// other (base::ParseMinisignKeys); else the compiled-in DefaultPublicKey,
// read as PublicKey is. A signature by any of them verifies: a vendor
// rotates its key by shipping the new one beside the old. Empty when none of
// them is set: packages are then installed unsigned. Throws
// base::ESignatureError, its message saying which setting is wrong and why,
// when a key given is malformed or its file cannot be read, or when none is
// given but RequireIndex asks for an index.
std::vector<base::TMinisignKey> LoadPackageKeys(const TUpdaterConfig& config,
                                                const std::string& executableFolder);

enum class TPackageSignatureStatus {
  psValid,
  psNotSigned,     // the server has no signature for the package
  psBadSignature,  // the signature is malformed, too long or does not verify
};

struct TPackageSignature {
  TPackageSignatureStatus status = TPackageSignatureStatus::psBadSignature;
  std::string reason;  // one sentence for the user, control characters escaped
};

// Fetches `name` + ".minisig" from `source` (borrowed, open) into memory
// (at most base::kMaxSignatureFileSize bytes: the transfer of a longer one is
// broken off) and checks that it is the signature by one of `keys` of the package `name`,
// whose bytes `packageFd` holds from offset 0 (borrowed; read once unless
// `digest`, its BLAKE2b-512 digest, is given and the signature is of the
// prehashed kind). A source that has no such file (a server's 550) means psNotSigned;
// any other refusal or abort of the transfer, psBadSignature. The session stays usable for the next
// transfer in every case that returns. Throws what the session throws otherwise (a lost connection,
// a time-out, a stop), base::EReadError when the package cannot be read, base::ESignatureError when
// the crypto library fails.
TPackageSignature FetchPackageSignature(TPackageSource& source,
                                        std::span<const base::TMinisignKey> keys,
                                        const std::string& name, int packageFd,
                                        const base::TBlake2b512::Digest* digest);

}  // namespace krevo::app
