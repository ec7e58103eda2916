#include "base/HashingStream.h"

namespace krevo::base {

THashingStream::THashingStream(TStream& inner) : inner_(inner), worker_([this] { HashQueued(); }) {}

THashingStream::~THashingStream() {
  {
    std::lock_guard lock(mutex_);
    dropping_ = true;
  }
  Stop();
}

void THashingStream::Stop() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void THashingStream::HashQueued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    // Dropped, failed, or closing with everything hashed: a writer that
    // waits for room is woken to see it.
    if (dropping_ || failure_ || queue_.empty()) {
      lock.unlock();
      changed_.notify_all();
      return;
    }
    std::vector<std::uint8_t> chunk = std::move(queue_.front());
    queue_.pop_front();
    pending_ -= chunk.size();
    lock.unlock();
    changed_.notify_all();  // room for the writer
    std::exception_ptr failed;
    try {
      hash_.Update(chunk);
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
    if (failed) failure_ = failed;
  }
}

std::int64_t THashingStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t at = inner_.Position();
  const std::int64_t written = inner_.Write(buffer, count);
  // Only bytes that continue what is hashed can be added; anything else
  // means the digest no longer describes the content.
  if (at != hashed_) inOrder_ = false;
  if (inOrder_ && written > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> chunk(bytes, bytes + written);
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return pending_ < kPendingLimit || failure_ || closing_; });
      if (!failure_ && !closing_) {
        pending_ += chunk.size();
        queue_.push_back(std::move(chunk));
      }
    }
    changed_.notify_all();
    hashed_ += written;
  }
  return written;
}

void THashingStream::SetSize(std::int64_t size) {
  inner_.SetSize(size);
  if (size != hashed_) inOrder_ = false;
}

std::optional<TBlake2b512::Digest> THashingStream::Digest() {
  Stop();
  if (failure_) std::rethrow_exception(failure_);
  const TBlake2b512::Digest digest = hash_.Final();
  if (!inOrder_ || hashed_ != inner_.Size()) return std::nullopt;
  return digest;
}

}  // namespace krevo::base
