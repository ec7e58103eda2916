#include "tools/ftp/ControlLineLog.h"

#include "ftp/NetBuffer.h"

namespace krevo::tools {

void TControlLineLog::Emit(const char* prefix, std::string& pending, bool flushPartial) {
  std::size_t start = 0, end;
  while ((end = pending.find('\n', start)) != std::string::npos) {
    std::string line = pending.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (prefix[0] == '>' && line.rfind("PASS ", 0) == 0) line = "PASS ****";
    std::fprintf(out_, "%s%s\n", prefix, line.c_str());
    start = end + 1;
  }
  pending.erase(0, start);
  if (flushPartial && !pending.empty()) {
    std::fprintf(out_, "%s%s\n", prefix, pending.c_str());
    pending.clear();
  }
}

void TControlLineLog::Receive(ftp::TNetSimpleBuffer& buffer) {
  received_.append(buffer.View());
  Emit("< ", received_, false);
}

void TControlLineLog::Send(ftp::TNetSimpleBuffer& buffer) {
  sent_.append(buffer.View());
  Emit("> ", sent_, false);
}

void TControlLineLog::Disconnect() {
  Emit("< ", received_, true);
  Emit("> ", sent_, true);
}

}  // namespace krevo::tools
