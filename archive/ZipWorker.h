#pragma once
// A helper thread for the decoder: it decrypts a chunk of an entry ahead,
// or checksums and writes the last block of output, while the caller
// inflates. It runs no events and touches only what its job names, and every
// job is waited for before the decoder returns.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace krevo::archive {

class TZipWorker final {
 public:
  // The process's worker, started on first use and joined at exit.
  static TZipWorker& Instance();
  ~TZipWorker();
  TZipWorker(const TZipWorker&) = delete;
  TZipWorker& operator=(const TZipWorker&) = delete;

  // One decoder at a time may use the worker; false when another holds it
  // (the caller then does the work itself).
  bool TryAcquire() { return user_.try_lock(); }
  void Release() { user_.unlock(); }
  // Runs `job` on the worker. REQUIRES: acquired and no job pending; what
  // the job touches stays untouched by the caller until Wait.
  void Start(std::function<void()> job);
  // Returns once the pending job (if any) is done.
  void Wait();

 private:
  TZipWorker();
  void Loop();

  std::mutex user_;
  std::mutex m_;
  std::condition_variable cv_;
  std::function<void()> job_;
  bool pending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace krevo::archive
