#pragma once
// BLAKE2b with a 64-byte digest, fed in pieces: a package can be hashed while
// it arrives, or in one pass over its descriptor, never read twice.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/OpenSslOwners.h"

namespace krevo::base {

class TBlake2b512 final {
 public:
  using Digest = std::array<std::uint8_t, 64>;

  // Throws ESignatureError when the crypto library cannot set up the hash.
  TBlake2b512();
  TBlake2b512(const TBlake2b512&) = delete;
  TBlake2b512& operator=(const TBlake2b512&) = delete;

  // Adds `bytes` to the hash. Throws ESignatureError after Final.
  void Update(std::span<const std::uint8_t> bytes);
  // The digest of everything added. Once only: throws ESignatureError when
  // called again.
  Digest Final();

  // The digest of what `fd` holds from offset 0 to its end, read with pread
  // (the descriptor's position is neither used nor moved). Borrows `fd`.
  // Throws EReadError on a read error, ESignatureError as above.
  static Digest OfDescriptor(int fd);

 private:
  UniqueEvpMdCtx ctx_;
  bool finished_ = false;
};

}  // namespace krevo::base
