#include "ftp/NetBuffer.h"

#include <algorithm>
#include <cstring>

#include "ftp/NetExceptions.h"

namespace krevo::ftp {

void TNetSimpleBuffer::Compact() {
  if (offset_ == 0) return;
  std::memmove(mem_.get(), mem_.get() + offset_, end_ - offset_);
  end_ -= offset_;
  offset_ = 0;
}

std::uint8_t* TNetSimpleBuffer::ReserveTail(std::int64_t n) {
  std::size_t need = end_ + static_cast<std::size_t>(n);
  if (need > capacity_) {
    // Consumed bytes are dropped before growing, so the block never holds more
    // than the unread bytes plus what is asked for.
    Compact();
    need = end_ + static_cast<std::size_t>(n);
    if (need > capacity_) {
      std::size_t cap = std::max<std::size_t>(need, capacity_ + capacity_ / 2);
      std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[cap]);
      if (end_ > 0) std::memcpy(grown.get(), mem_.get(), end_);
      mem_ = std::move(grown);
      capacity_ = cap;
    }
  }
  return mem_.get() + end_;
}

void TNetSimpleBuffer::Append(const void* bytes, std::int64_t n) {
  if (n <= 0) return;
  std::memcpy(ReserveTail(n), bytes, static_cast<std::size_t>(n));
  CommitTail(n);
}

void TNetSimpleBuffer::Resize(std::int64_t n) {
  if (n <= Size()) {
    end_ = offset_ + static_cast<std::size_t>(n);
  } else {
    std::int64_t extra = n - Size();
    ReserveTail(extra);
    CommitTail(extra);
  }
}

void TNetSimpleBuffer::Remove(std::int64_t n) {
  if (n < 0 || n > Size()) throw ENetNotEnoughDataInBuffer();
  std::memmove(mem_.get(), mem_.get() + n, static_cast<std::size_t>(Size() - n));
  end_ -= static_cast<std::size_t>(n);
  if (OnBytesRemoved) OnBytesRemoved(n);
}

void TNetSimpleBuffer::Extract(void* dest, std::int64_t n) {
  if (n < 0 || n > Size()) throw ENetNotEnoughDataInBuffer();
  if (n > 0) std::memcpy(dest, Data(), static_cast<std::size_t>(n));
  Remove(n);
}

std::int64_t TNetSimpleBuffer::Find(std::string_view needle, std::int64_t from) const {
  std::string_view data = View();
  if (from < 0) from = 0;
  if (static_cast<std::size_t>(from) >= data.size() || needle.empty()) return -1;
  std::size_t pos;
  if (needle.size() == 1) {
    const void* p = std::memchr(data.data() + from, needle[0], data.size() - static_cast<std::size_t>(from));
    pos = p ? static_cast<std::size_t>(static_cast<const char*>(p) - data.data()) : std::string_view::npos;
  } else {
    pos = data.find(needle, static_cast<std::size_t>(from));
  }
  return pos == std::string_view::npos ? -1 : static_cast<std::int64_t>(pos);
}

void TNetManagedBuffer::Remove(std::int64_t n) {
  if (n < 0 || n > Size()) throw ENetNotEnoughDataInBuffer();
  if (n == Size()) {
    offset_ = end_ = 0;
  } else {
    offset_ += static_cast<std::size_t>(n);
    if (offset_ >= kPackThreshold) Compact();
  }
  if (OnBytesRemoved) OnBytesRemoved(n);
}

}  // namespace krevo::ftp
