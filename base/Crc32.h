#pragma once
// The ZIP format's CRC-32 (reflected polynomial 0xEDB88320).
#include <cstddef>
#include <cstdint>

namespace krevo::base {

// Updates a running CRC over `size` bytes without inverting inside the update:
// callers start at 0xFFFFFFFF and invert the final value.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t size);

// The finished CRC-32 of one byte range.
inline std::uint32_t Crc32(const void* data, std::size_t size) {
  return ~UpdateCrc32(0xFFFFFFFFu, data, size);
}

}  // namespace krevo::base
