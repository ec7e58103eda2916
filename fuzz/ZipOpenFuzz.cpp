// Opens arbitrary bytes as an archive, lists it and runs a few finds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "base/Errors.h"
#include "fuzz/FuzzScratchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace krevo;
  archive::TZipArchiver zip;
  zip.FileName = fuzz::WriteScratch(data, size);
  try {
    zip.OpenArchiveFile(0);
    zip.EntryCount();
    archive::TZipArchiveItem item;
    for (const char* mask : {"*.*", "*.txt", "a?c", "sub/*", "x."}) {
      int n = 0;
      for (bool f = zip.FindFirstEntry(mask, item, base::faAnyEntry); f && n < 1000;
           f = zip.FindNextEntry(item))
        ++n;
    }
  } catch (const base::Exception&) {
  }
  return 0;
}
