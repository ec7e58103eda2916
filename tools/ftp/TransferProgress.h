#pragma once
// A one-line progress display for downloads (bytes so far and the rate),
// redrawn at most ten times a second on a terminal.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace krevo::tools {

class TTransferProgress {
 public:
  // Draws on `out` (borrowed), which must be a terminal to be useful.
  explicit TTransferProgress(std::FILE* out) : out_(out) {}
  void Begin();
  // `total`: the bytes received so far.
  void Update(std::int64_t total);
  // Draws the final figures and ends the line.
  void End();

 private:
  void Draw(bool final);
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  Clock::time_point start_, lastDraw_;
  std::int64_t total_ = 0;
  bool active_ = false;
};

// "1.5 MiB" style text for a byte count.
std::string FormatBytes(double bytes);

}  // namespace krevo::tools
