#include "archive/ZipRemover.h"

#include <unistd.h>

namespace krevo::archive {

TZipRemover& TZipRemover::Instance() {
  static TZipRemover remover;
  return remover;
}

TZipRemover::TZipRemover() : thread_([this] { Loop(); }) {}

TZipRemover::~TZipRemover() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void TZipRemover::Remove(std::string path) {
  {
    std::lock_guard<std::mutex> lock(m_);
    queue_.push_back(std::move(path));
  }
  cv_.notify_all();
}

void TZipRemover::Drain() {
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void TZipRemover::Loop() {
  std::unique_lock<std::mutex> lock(m_);
  while (true) {
    cv_.wait(lock, [this] { return !queue_.empty() || stop_; });
    if (queue_.empty()) return;  // stopping, and nothing left
    std::deque<std::string> batch;
    batch.swap(queue_);
    busy_ = true;
    lock.unlock();
    for (const std::string& path : batch) ::unlink(path.c_str());
    lock.lock();
    busy_ = false;
    cv_.notify_all();
  }
}

}  // namespace krevo::archive
