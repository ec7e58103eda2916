// krevo-unzip: lists or extracts the items of a ZIP archive.
//   krevo-unzip -l [--tsv] ARCHIVE [MASK...]
//   krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older] [-t] [-q]
//               ARCHIVE [MASK...]
// Exit status: 0 done, 1 items failed or skipped, 2 archive not opened, 64 usage.
#include <iostream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "base/Errors.h"
#include "tools/UnzipListing.h"

namespace {

constexpr int kUsage = 64;

int Usage() {
  std::cerr << "usage: krevo-unzip -l [--tsv] ARCHIVE [MASK...]\n"
               "       krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older]"
               " [-t] [-q] ARCHIVE [MASK...]\n";
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace krevo;
  bool list = false, tsv = false;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-l")
      list = true;
    else if (a == "--tsv")
      tsv = true;
    else if (a.size() > 1 && a[0] == '-')
      return Usage();
    else
      rest.push_back(a);
  }
  if (rest.empty() || !list) return Usage();
  archive::TZipArchiver zip;
  zip.FileName = rest[0];
  std::vector<std::string> masks(rest.begin() + 1, rest.end());
  if (masks.empty()) masks.push_back("*.*");
  try {
    zip.OpenArchiveFile(0);
  } catch (const base::Exception& e) {
    std::cerr << "krevo-unzip: " << e.what() << '\n';
    return 2;
  }
  tools::WriteListing(zip, tools::SelectItems(zip, masks), tsv, std::cout);
  return 0;
}
