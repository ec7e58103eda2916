// krevo-unzip: lists or extracts the items of a ZIP archive.
//   krevo-unzip -l [--tsv] ARCHIVE [MASK...]
//   krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older] [-t] [-q]
//               ARCHIVE [MASK...]
// Exit status: 0 done, 1 items failed or skipped or the directory was
// rebuilt from local headers, 2 archive not opened or invalid, 64 usage.
#include <iostream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "tools/UnzipExtraction.h"
#include "tools/UnzipListing.h"

namespace {

constexpr int kUsage = 64;

constexpr const char kUsageText[] =
    "usage: krevo-unzip -l [--tsv] ARCHIVE [MASK...]\n"
    "       krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older]"
    " [-t] [-q] ARCHIVE [MASK...]\n";

int Usage() {
  std::cerr << kUsageText;
  return kUsage;
}

int Help() {
  std::cout << kUsageText
            << "\n"
               "  -l          list the items (--tsv: tab-separated lines)\n"
               "  -d DIR      extract below DIR (default: the current folder)\n"
               "  -P PASSWORD password of encrypted items\n"
               "  -o MODE     replacing existing files: always (default), never, prompt,\n"
               "              newer or older (the item's date against the file's)\n"
               "  -t          test the items instead of extracting them\n"
               "  -q          do not name the extracted items\n"
               "Names are shown with control characters escaped (\\r, \\n, \\x1b); an item\n"
               "whose name holds one is not extracted.\n"
               "\n"
               "Exit status: 0 done; 1 an item failed or was skipped, or the archive's\n"
               "central directory was damaged and its items were recovered from local\n"
               "headers (what was recovered is still listed, tested or extracted); 2 the\n"
               "archive could not be opened or is invalid (for example entries that\n"
               "overlap), and nothing was written; 64 wrong usage.\n";
  return 0;
}

// Messages name the archive and its items: shown with control characters
// escaped.
int Fail(const std::exception& e, int status) {
  std::cerr << "krevo-unzip: " << krevo::base::EscapeControlCharacters(e.what()) << '\n';
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace krevo;
  std::string password;
  bool list = false, tsv = false;
  tools::TUnzipRequest request;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "-h" || a == "--help") {
      return Help();
    } else if (a == "-l") {
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
  if (rest.empty() || (tsv && !list)) return Usage();
  archive::TZipArchiver zip;
  zip.FileName = rest[0];
  zip.Password = password;
  std::vector<std::string> masks(rest.begin() + 1, rest.end());
  if (masks.empty()) masks.push_back("*.*");
  try {
    zip.OpenArchiveFile(0);
  } catch (const base::Exception& e) {
    return Fail(e, 2);
  }
  // The rebuild keeps what it found, which may be only part of the archive
  // (a download cut short): the work goes on, and the status says so.
  const bool rebuilt = zip.DirectoryRebuilt();
  if (rebuilt)
    std::cerr << "warning: the central directory is damaged; entries were recovered from local "
                 "headers\n";
  std::vector<int> selected = tools::SelectItems(zip, masks);
  int status = 0;
  if (list) {
    tools::WriteListing(zip, selected, tsv, std::cout);
  } else {
    try {
      status = tools::ExtractItems(zip, selected, request) == 0 ? 0 : 1;
    } catch (const base::Exception& e) {
      status = Fail(e, 1);
    }
  }
  return rebuilt && status == 0 ? 1 : status;
}
