// krevo-unzip: lists or extracts the items of a ZIP archive.
//   krevo-unzip -l [--tsv] ARCHIVE [MASK...]
//   krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older] [-t] [-q]
//               ARCHIVE [MASK...]
//   krevo-unzip --verify-key KEY --signature FILE ARCHIVE
// Exit status: 0 done, 1 items failed or skipped, 2 archive not opened, 64 usage.
// With --verify-key: 0 valid signature, 1 none or a bad one (see UnzipVerify.h).
#include <iostream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "base/Errors.h"
#include "tools/UnzipExtraction.h"
#include "tools/UnzipListing.h"
#include "tools/UnzipVerify.h"

namespace {

constexpr int kUsage = 64;

int Usage() {
  std::cerr << "usage: krevo-unzip -l [--tsv] ARCHIVE [MASK...]\n"
               "       krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older]"
               " [-t] [-q] ARCHIVE [MASK...]\n"
               "       krevo-unzip --verify-key KEY --signature FILE ARCHIVE\n";
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace krevo;
  std::string password;
  bool list = false, tsv = false;
  tools::TUnzipRequest request;
  std::vector<std::string> rest;
  std::string verifyKey, signature;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "-l") {
      list = true;
    } else if (a == "--tsv") {
      tsv = true;
    } else if (a == "-t") {
      request.test = true;
    } else if (a == "-q") {
      request.quiet = true;
    } else if (a == "-d" && hasValue) {
      request.folder = argv[++i];
    } else if (a == "-P" && hasValue) {
      password = argv[++i];
    } else if (a == "--verify-key" && hasValue) {
      verifyKey = argv[++i];
    } else if (a == "--signature" && hasValue) {
      signature = argv[++i];
    } else if (a == "-o" && hasValue) {
      std::string m = argv[++i];
      if (m == "always") request.overwrite = tools::TOverwrite::Always;
      else if (m == "never") request.overwrite = tools::TOverwrite::Never;
      else if (m == "prompt") request.overwrite = tools::TOverwrite::Prompt;
      else if (m == "newer") request.overwrite = tools::TOverwrite::Newer;
      else if (m == "older") request.overwrite = tools::TOverwrite::Older;
      else return Usage();
    } else if (a == "--") {
      rest.insert(rest.end(), argv + i + 1, argv + argc);
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage();
    } else {
      rest.push_back(a);
    }
  }
  if (!verifyKey.empty() || !signature.empty()) {
    if (verifyKey.empty() || signature.empty() || rest.size() != 1 || list || tsv) return Usage();
    return tools::VerifyPackage(verifyKey, signature, rest[0], std::cout, std::cerr);
  }
  if (rest.empty() || (tsv && !list)) return Usage();
  archive::TZipArchiver zip;
  zip.FileName = rest[0];
  zip.Password = password;
  std::vector<std::string> masks(rest.begin() + 1, rest.end());
  if (masks.empty()) masks.push_back("*.*");
  try {
    zip.OpenArchiveFile(0);
  } catch (const base::Exception& e) {
    std::cerr << "krevo-unzip: " << e.what() << '\n';
    return 2;
  }
  std::vector<int> selected = tools::SelectItems(zip, masks);
  if (list) {
    tools::WriteListing(zip, selected, tsv, std::cout);
    return 0;
  }
  try {
    return tools::ExtractItems(zip, selected, request) == 0 ? 0 : 1;
  } catch (const base::Exception& e) {
    std::cerr << "krevo-unzip: " << e.what() << '\n';
    return 1;
  }
}
