#pragma once
// A memory stream that refuses to grow past a fixed size: a small file that
// a server sends (a package's signature) is received into it, and a server
// that sends more cannot make the updater buffer more.
#include <cstdint>
#include <string>

#include "base/Streams.h"

namespace krevo::base {

class TBoundedMemoryStream final : public TStream {
 public:
  // Holds at most `limit` bytes.
  explicit TBoundedMemoryStream(std::int64_t limit) : limit_(limit) {}

  std::int64_t Read(void* buffer, std::int64_t count) override { return data_.Read(buffer, count); }
  // Writes all of `buffer`, or throws EWriteError (nothing of it
  // written) when the stream would then hold more than the limit; Overflowed
  // then says so.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return data_.Seek(offset, origin);
  }
  // Throws EWriteError past the limit.
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return data_.Size(); }

  bool Overflowed() const { return overflowed_; }
  std::string AsString() const { return data_.AsString(); }

 private:
  TMemoryStream data_;
  std::int64_t limit_;
  bool overflowed_ = false;
};

}  // namespace krevo::base
