#pragma once
// Removes files on a thread of its own. An existing destination is replaced
// by swapping names with the file that holds the new data; the old data
// then sits under the temporary name and its removal costs the extraction
// nothing. What is queued is gone by the time Drain returns.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace krevo::archive {

class TZipRemover final {
 public:
  // The process's remover, started on first use; its end removes what is
  // still queued.
  static TZipRemover& Instance();
  ~TZipRemover();
  TZipRemover(const TZipRemover&) = delete;
  TZipRemover& operator=(const TZipRemover&) = delete;

  // Queues `path` for unlinking; a failure to remove it is ignored (what
  // is left is a stray temporary file). Never throws but for bad_alloc.
  void Remove(std::string path);
  // Returns once everything queued so far has been removed.
  void Drain();

 private:
  TZipRemover();
  void Loop();

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::string> queue_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace krevo::archive
