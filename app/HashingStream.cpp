#include "app/HashingStream.h"

#include <span>

namespace krevo::app {

std::int64_t THashingStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t at = inner_.Position();
  const std::int64_t written = inner_.Write(buffer, count);
  // Only bytes that continue what is hashed can be added; anything else
  // means the digest no longer describes the content.
  if (at != hashed_) inOrder_ = false;
  if (inOrder_ && written > 0) {
    hash_.Update(
        std::span(static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(written)));
    hashed_ += written;
  }
  return written;
}

void THashingStream::SetSize(std::int64_t size) {
  inner_.SetSize(size);
  if (size != hashed_) inOrder_ = false;
}

std::optional<base::TBlake2b512::Digest> THashingStream::Digest() {
  const base::TBlake2b512::Digest digest = hash_.Final();
  if (!inOrder_ || hashed_ != inner_.Size()) return std::nullopt;
  return digest;
}

}  // namespace krevo::app
