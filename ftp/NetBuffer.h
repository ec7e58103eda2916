#pragma once
// The connection's byte buffers. TNetSimpleBuffer is a growable
// block with a bytes-removed callback; TNetManagedBuffer removes from the front
// by moving a read offset, and compacts only once 32768 bytes were consumed.
// Neither zero-fills what it grows, so a receive can go straight into the tail.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace krevo::ftp {

class TNetSimpleBuffer {
 public:
  TNetSimpleBuffer() = default;
  virtual ~TNetSimpleBuffer() = default;
  TNetSimpleBuffer(const TNetSimpleBuffer&) = delete;
  TNetSimpleBuffer& operator=(const TNetSimpleBuffer&) = delete;

  // Receives n after every removal from the front (Remove, Extract).
  std::function<void(std::int64_t n)> OnBytesRemoved;

  // The unread bytes.
  const std::uint8_t* Data() const { return mem_.get() + offset_; }
  std::uint8_t* Data() { return mem_.get() + offset_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(end_ - offset_); }
  std::string_view View() const {
    return {reinterpret_cast<const char*>(Data()), static_cast<std::size_t>(Size())};
  }

  // Appends bytes at the end.
  void Append(const void* bytes, std::int64_t n);
  // Room for `n` bytes at the end; valid until the next change. CommitTail(k)
  // then adds the first k of them (k <= n).
  std::uint8_t* ReserveTail(std::int64_t n);
  void CommitTail(std::int64_t k) { end_ += static_cast<std::size_t>(k); }
  // Sets the unread size (growing leaves the new bytes undefined).
  void Resize(std::int64_t n);
  // Removes n bytes from the front, then calls OnBytesRemoved(n). Throws
  // ENetNotEnoughDataInBuffer when n exceeds Size().
  virtual void Remove(std::int64_t n);
  // Copies n bytes from the front into `dest`, then Remove(n).
  void Extract(void* dest, std::int64_t n);
  // Empties the buffer without calling OnBytesRemoved.
  void Clear() { offset_ = end_ = 0; }
  // Index of `needle` in the unread bytes at or after `from`, or -1.
  std::int64_t Find(std::string_view needle, std::int64_t from) const;

 protected:
  void Compact();

  std::unique_ptr<std::uint8_t[]> mem_;
  std::size_t capacity_ = 0;
  std::size_t offset_ = 0;  // consumed leading bytes (always 0 in the simple buffer)
  std::size_t end_ = 0;
};

class TNetManagedBuffer final : public TNetSimpleBuffer {
 public:
  static constexpr std::size_t kPackThreshold = 32768;
  void Remove(std::int64_t n) override;
};

}  // namespace krevo::ftp
