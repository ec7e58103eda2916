#pragma once
// A file of this process in /tmp that a fuzz target rewrites for every input
// and that is removed at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Streams.h"

namespace krevo::fuzz {

inline const std::string& ScratchFile() {
  static const std::string path = "/tmp/krevo-fuzz." + std::to_string(::getpid()) + ".zip";
  static const bool registered = [] {
    std::atexit([] { ::unlink(ScratchFile().c_str()); });
    return true;
  }();
  (void)registered;
  return path;
}

// Writes the input into the scratch file; returns its path.
inline const std::string& WriteScratch(const std::uint8_t* data, std::size_t size) {
  base::TFileStream f(ScratchFile(), base::fmCreate);
  f.WriteBuffer(data, static_cast<std::int64_t>(size));
  return ScratchFile();
}

}  // namespace krevo::fuzz
