#include "base/BoundedMemoryStream.h"

#include "base/Errors.h"

namespace krevo::base {

std::int64_t TBoundedMemoryStream::Write(const void* buffer, std::int64_t count) {
  // Checked before anything is stored: the refusal is what ends the
  // transfer, so the bytes past the limit are never kept.
  const std::int64_t position = data_.Position();
  if (count < 0 || position > limit_ || count > limit_ - position) {
    overflowed_ = true;
    throw EWriteError();
  }
  return data_.Write(buffer, count);
}

void TBoundedMemoryStream::SetSize(std::int64_t size) {
  if (size > limit_) {
    overflowed_ = true;
    throw EWriteError();
  }
  data_.SetSize(size);
}

}  // namespace krevo::base
