#pragma once
// A stream that passes everything through to another and hashes, with
// BLAKE2b-512, what is written to it in order from offset 0: a package is
// hashed while it is received, so that checking its signature need not read
// it again. The hash runs on a thread of its own, beside the receiving, on
// copies of the written bytes (at most kPendingLimit of them waiting).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/Blake2b512.h"
#include "base/Streams.h"

namespace krevo::base {

class THashingStream final : public TStream {
 public:
  static constexpr std::size_t kPendingLimit = 8 << 20;

  // `inner` is borrowed and must outlive this stream. Throws
  // ESignatureError when the hash cannot be set up, std::system_error
  // when its thread cannot start.
  explicit THashingStream(TStream& inner);
  // Ends the hashing thread; what it had not hashed yet is dropped.
  ~THashingStream() override;
  THashingStream(const THashingStream&) = delete;
  THashingStream& operator=(const THashingStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override {
    return inner_.Read(buffer, count);
  }
  // Writes to the inner stream, then queues a copy of what was written for
  // the hash, waiting while kPendingLimit bytes are queued.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return inner_.Seek(offset, origin);
  }
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return inner_.Size(); }

  // The digest of the inner stream's content: nothing when it was not all
  // written through this stream, in order from offset 0 (a write elsewhere,
  // a size changed behind the writes), and the content must then be hashed
  // where it lies. Waits for the hash to take in every queued byte. Once
  // only; throws ESignatureError when called again, or when the hash
  // failed.
  std::optional<TBlake2b512::Digest> Digest();

 private:
  void HashQueued();  // the hashing thread's body
  void Stop();        // ends the thread; the queue is drained first unless dropped

  TStream& inner_;
  TBlake2b512 hash_;
  std::int64_t hashed_ = 0;  // the bytes from offset 0 that were queued
  bool inOrder_ = true;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> queue_;  // guarded by mutex_
  std::size_t pending_ = 0;                      // bytes in queue_, guarded by mutex_
  bool closing_ = false;                         // no more writes; guarded by mutex_
  bool dropping_ = false;                        // skip what is queued; guarded by mutex_
  std::exception_ptr failure_;                   // from the hash, guarded by mutex_
  std::thread worker_;
};

}  // namespace krevo::base
