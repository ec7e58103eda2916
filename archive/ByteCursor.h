#pragma once
// A bounds-checked little-endian reader over a borrowed byte span. Every read
// checks the bytes that remain first; a read past the end sets the failed flag
// and yields 0, so a record parser checks Ok() once after its reads.
#include <cstddef>
#include <cstdint>
#include <string>

namespace krevo::archive {

class ByteCursor final {
 public:
  // `data` is borrowed and must outlive the cursor.
  ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Ok() const { return ok_; }
  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return size_ - pos_; }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
  std::uint64_t U64() { return Take(8); }
  // Skips `n` bytes, or fails when fewer remain.
  void Skip(std::size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return;
    }
    pos_ += n;
  }
  // Pointer to the next `n` bytes, advancing past them; null when fewer remain.
  const std::uint8_t* Bytes(std::size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return nullptr;
    }
    const std::uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  std::string String(std::size_t n) {
    const std::uint8_t* p = Bytes(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
  }

 private:
  std::uint64_t Take(std::size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{data_[pos_ + i]} << (8 * i);
    pos_ += n;
    return v;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Little-endian load from a buffer the caller has already checked.
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace krevo::archive
