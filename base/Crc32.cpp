#include "base/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace krevo::base {

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t size) {
  // zlib inverts on the way in and out; undo both so that the running value is
  // the raw register the callers keep.
  uLong value = ~crc & 0xFFFFFFFFu;
  const auto* p = static_cast<const Bytef*>(data);
  while (size > 0) {
    uInt n = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    value = ::crc32(value, p, n);
    p += n;
    size -= n;
  }
  return ~static_cast<std::uint32_t>(value);
}

}  // namespace krevo::base
