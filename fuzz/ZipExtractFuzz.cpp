// Opens arbitrary bytes as an archive and decodes every item into memory.
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
  zip.Password = "secret";
  int asked = 0;
  zip.OnPassword = [&](archive::TZipBaseArchiver*, const std::string&, std::string& p, bool& skip) {
    p = "other";
    skip = ++asked > 2;
  };
  zip.OnProcessFileFailure = [](archive::TZipBaseArchiver*, const std::string&,
                                archive::TZipProcessOperation, int, int, const std::string&,
                                archive::TZipAction& action) { action = archive::fxaIgnore; };
  try {
    zip.OpenArchiveFile(0);
    zip.MarkMatching("*.*", base::faAnyEntry, "");
    zip.ProcessMarkedItems(archive::poTest);
  } catch (const base::Exception&) {
  }
  return 0;
}
