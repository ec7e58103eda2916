// krevo-unzip: lists, tests or extracts the items of a ZIP archive.
//   krevo-unzip -l [--tsv] ARCHIVE [MASK...]
//   krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older] [-t] [-q]
//               ARCHIVE [MASK...]
//   krevo-unzip --verify-key KEY --signature FILE ARCHIVE
// Exit status: 0 done, 1 items failed or skipped or the directory was
// rebuilt from local headers, 2 archive not opened or invalid, 64 usage.
// With --verify-key: 0 valid signature, 1 none or a bad one (see UnzipVerify.h).
#include <iostream>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/Version.h"
#include "tools/UnzipExtraction.h"
#include "tools/UnzipListing.h"
#include "tools/UnzipVerify.h"

namespace {

constexpr int kUsage = 64;

constexpr const char* kSynopsis =
    "Usage: krevo-unzip -l [--tsv] ARCHIVE [MASK...]\n"
    "       krevo-unzip [-d DIR] [-P PASSWORD] [-o always|never|prompt|newer|older]"
    " [-t] [-q] ARCHIVE [MASK...]\n"
    "       krevo-unzip --verify-key KEY --signature FILE ARCHIVE\n";

// The text of --help; the manual page krevo-unzip.1 says the same.
constexpr const char* kHelp =
    "\n"
    "Lists, tests or extracts the items of ARCHIVE that any MASK selects (* any\n"
    "characters, ? one character, case ignored; without a MASK every item).\n"
    "\n"
    "  -l           list the items instead of extracting them\n"
    "  --tsv        with -l: one tab-separated line per item, no heading or totals\n"
    "  -d DIR       extract below DIR (default: the current folder)\n"
    "  -P PASSWORD  the password of encrypted items (asked at a terminal without it)\n"
    "  -o MODE      when the file exists: always replace it (the default), never,\n"
    "               prompt (ask at a terminal, else keep it), newer (replace it only\n"
    "               by a newer packaged copy), older (only by an older one)\n"
    "  -t           test the items (decrypt, inflate, check CRC-32s), write nothing\n"
    "  -q           do not name the extracted or tested items\n"
    "  --verify-key KEY  with --signature: check ARCHIVE's minisign signature FILE\n"
    "               against KEY (the public key's base64 line, or a .pub file of\n"
    "               one or more keys); ARCHIVE may be the package index too;\n"
    "               nothing is extracted; 0 valid, 1 missing or bad\n"
    "  --signature FILE  the .minisig file to check\n"
    "  --           the arguments after it are the archive and masks\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "\n"
    "Names are shown with control characters escaped (\\r, \\n, \\x1b); an item\n"
    "whose name holds one is not extracted.\n"
    "\n"
    "Exit status: 0 done; 1 an item failed or was skipped, or the archive's\n"
    "central directory was damaged and its items were recovered from local\n"
    "headers (what was recovered is still listed, tested or extracted); 2 the\n"
    "archive could not be opened or is invalid (for example entries that\n"
    "overlap), and nothing was written; 64 usage error.\n";

int Usage() {
  std::cerr << kSynopsis << "Try 'krevo-unzip --help' for more information.\n";
  return kUsage;
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
  std::string verifyKey, signature;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "-h" || a == "--help") {
      std::cout << kSynopsis << kHelp;
      return 0;
    } else if (a == "--version") {
      std::cout << "krevo-unzip " << base::OwnFileVersion() << '\n';
      return 0;
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
