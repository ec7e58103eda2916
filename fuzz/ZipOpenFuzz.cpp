// Opens arbitrary bytes as an archive, lists it and runs a few finds.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "base/Errors.h"
#include "base/Streams.h"

namespace {

std::string ScratchFile() {
  static std::string path = [] {
    std::string p = "/tmp/krevo-fuzz-zip." + std::to_string(::getpid()) + ".zip";
    std::atexit([] { ::unlink(("/tmp/krevo-fuzz-zip." + std::to_string(::getpid()) + ".zip").c_str()); });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace krevo;
  {
    base::TFileStream f(ScratchFile(), base::fmCreate);
    f.WriteBuffer(data, static_cast<std::int64_t>(size));
  }
  archive::TZipArchiver zip;
  zip.FileName = ScratchFile();
  try {
    zip.OpenArchiveFile(0);
    zip.EntryCount();
    archive::TZipArchiveItem item;
    for (const char* mask : {"*.*", "*.txt", "a?c", "sub/*", "x."}) {
      int n = 0;
      for (bool f = zip.FindFirstEntry(mask, item, 10431); f && n < 1000;
           f = zip.FindNextEntry(item))
        ++n;
    }
  } catch (const base::Exception&) {
  }
  return 0;
}
