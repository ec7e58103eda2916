#pragma once
// A stream that passes everything through to another and hashes, with
// BLAKE2b-512, what is written to it in order from offset 0: a package is
// hashed while it is received, so that checking its signature need not read
// it again.
#include <cstdint>
#include <optional>

#include "base/Blake2b512.h"
#include "base/Streams.h"

namespace krevo::app {

class THashingStream final : public base::TStream {
 public:
  // `inner` is borrowed and must outlive this stream. Throws
  // base::ESignatureError when the hash cannot be set up.
  explicit THashingStream(base::TStream& inner) : inner_(inner) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    return inner_.Read(buffer, count);
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, base::TSeekOrigin origin) override {
    return inner_.Seek(offset, origin);
  }
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return inner_.Size(); }

  // The digest of the inner stream's content: nothing when it was not all
  // written through this stream, in order from offset 0 (a write elsewhere,
  // a size changed behind the writes), and the content must then be hashed
  // where it lies. Once only; throws base::ESignatureError when called again.
  std::optional<base::TBlake2b512::Digest> Digest();

 private:
  base::TStream& inner_;
  base::TBlake2b512 hash_;
  std::int64_t hashed_ = 0;  // the bytes from offset 0 that the hash holds
  bool inOrder_ = true;
};

}  // namespace krevo::app
