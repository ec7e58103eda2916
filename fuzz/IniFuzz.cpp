// The INI reader on arbitrary text: never crashes, never returns more than
// 2047 characters for a key that is present.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* section : {"Documents", "Reports", "Updater"}) {
    std::string value = krevo::base::ProfileStringFromText(text, section, "RootFolder", "\x01");
    if (value != "\x01" && value.size() > 2047) std::abort();
  }
  return 0;
}
