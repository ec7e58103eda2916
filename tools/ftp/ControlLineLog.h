#pragma once
// A connection intercept that writes every command line sent ("> ") and every
// reply line received ("< ") on the control connection to a stream; the
// password after PASS is masked.
#include <cstdio>
#include <string>

#include "ftp/NetIOHandler.h"

namespace krevo::tools {

class TControlLineLog final : public ftp::TNetConnectionIntercept {
 public:
  explicit TControlLineLog(std::FILE* out) : out_(out) {}
  void Receive(ftp::TNetSimpleBuffer& buffer) override;
  void Send(ftp::TNetSimpleBuffer& buffer) override;
  void Disconnect() override;

 private:
  void Emit(const char* prefix, std::string& pending, bool flushPartial);
  std::FILE* out_;
  std::string received_, sent_;
};

}  // namespace krevo::tools
