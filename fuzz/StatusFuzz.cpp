// The status file's reader on arbitrary text, as a disk fault or a planted
// file could leave it: never crashes, and whatever it accepts it writes back
// in a form that reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/report/RunStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<krevo::app::TRunStatus> status = krevo::app::ParseRunStatus(text);
  if (!status) return 0;
  const std::string written = krevo::app::RunStatusJson(*status);
  const std::optional<krevo::app::TRunStatus> back = krevo::app::ParseRunStatus(written);
  if (!back || krevo::app::RunStatusJson(*back) != written) std::abort();
  (void)krevo::app::RunStatusText(*status);
  return 0;
}
