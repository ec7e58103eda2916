#include "tools/ftp/TransferProgress.h"

#include <string>

namespace krevo::tools {

std::string FormatBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) {
    bytes /= 1024;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return buf;
}

void TTransferProgress::Begin() {
  start_ = lastDraw_ = Clock::now();
  total_ = 0;
  active_ = true;
  Draw(false);
}

void TTransferProgress::Update(std::int64_t total) {
  total_ = total;
  const auto now = Clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  Draw(false);
}

void TTransferProgress::End() {
  if (!active_) return;
  Draw(true);
  active_ = false;
}

void TTransferProgress::Draw(bool final) {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(total_) / seconds : 0;
  std::fprintf(out_, "\r%12s  %12s/s%s", FormatBytes(static_cast<double>(total_)).c_str(),
               FormatBytes(rate).c_str(), final ? "\n" : "");
  std::fflush(out_);
}

}  // namespace krevo::tools
