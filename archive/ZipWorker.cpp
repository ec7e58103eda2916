#include "archive/ZipWorker.h"

namespace krevo::archive {

TZipWorker& TZipWorker::Instance() {
  static TZipWorker worker;
  return worker;
}

TZipWorker::TZipWorker() : thread_([this] { Loop(); }) {}

TZipWorker::~TZipWorker() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void TZipWorker::Start(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(m_);
    job_ = std::move(job);
    pending_ = true;
  }
  cv_.notify_all();
}

void TZipWorker::Wait() {
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait(lock, [this] { return !pending_; });
}

void TZipWorker::Loop() {
  std::unique_lock<std::mutex> lock(m_);
  while (true) {
    cv_.wait(lock, [this] { return pending_ || stop_; });
    if (stop_) return;
    std::function<void()> job = std::move(job_);
    lock.unlock();
    job();
    lock.lock();
    pending_ = false;
    cv_.notify_all();
  }
}

}  // namespace krevo::archive
