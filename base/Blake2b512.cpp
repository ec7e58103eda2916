#include "base/Blake2b512.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/Errors.h"

namespace krevo::base {
namespace {

// Large enough that the system calls cost nothing beside the hash, small
// enough to stay in the cache.
constexpr std::size_t kChunk = 1 << 20;

}  // namespace

TBlake2b512::TBlake2b512() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_blake2b512(), nullptr) != 1)
    throw ESignatureError("The BLAKE2b hash cannot be set up");
}

void TBlake2b512::Update(std::span<const std::uint8_t> bytes) {
  if (finished_) throw ESignatureError("The BLAKE2b hash is already finished");
  if (bytes.empty()) return;
  if (EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size()) != 1)
    throw ESignatureError("The BLAKE2b hash failed");
}

TBlake2b512::Digest TBlake2b512::Final() {
  if (finished_) throw ESignatureError("The BLAKE2b hash is already finished");
  finished_ = true;
  Digest digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &size) != 1 || size != digest.size())
    throw ESignatureError("The BLAKE2b hash failed");
  return digest;
}

TBlake2b512::Digest TBlake2b512::OfDescriptor(int fd) {
  TBlake2b512 hash;
  std::vector<std::uint8_t> buffer(kChunk);
  off_t offset = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EReadError();
    }
    if (got == 0) break;
    hash.Update({buffer.data(), static_cast<std::size_t>(got)});
    offset += got;
  }
  return hash.Final();
}

}  // namespace krevo::base
