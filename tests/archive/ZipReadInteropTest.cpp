// Archives made by other tools are listed exactly as Python's zipfile lists
// them: count, names, sizes, CRCs, dates, attributes and the encryption mark.
#include <gtest/gtest.h>

#include <sstream>

#include "archive/ZipArchiver.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/UnzipListing.h"

namespace krevo::archive {
namespace {

using test::Shell;
using test::TempFolder;
using test::ZipTool;

struct MadeArchive {
  const char* label;
  const char* command;  // run in a folder holding the sample files; writes out.zip
  friend void PrintTo(const MadeArchive& a, std::ostream* os) { *os << a.label; }
};

const MadeArchive kArchives[] = {
    {"zip deflate", "zip -qr out.zip a.txt sub empty.txt"},
    {"zip stored", "zip -qr0 out.zip a.txt sub empty.txt"},
    {"zip encrypted", "zip -qr -P secret out.zip a.txt sub empty.txt"},
    {"zip max with comment", "echo 'the comment' | zip -qr9 -z out.zip a.txt sub"},
    {"zip streamed to a pipe", "zip -q - a.txt sub/b.txt | cat > out.zip"},
    {"zip from stdin", "cat sub/b.txt | zip -q - - > out.zip"},
    {"python zip64", "@zip64"},
    {"python comment", "@comment"},
    {"python utf-8 names", "@utf8"},
    {"python cp437 name", "@oem"},
    {"python data descriptors", "@descriptor"},
    {"python empty", "@empty"},
    {"7z deflate", "7z a -tzip -bd out.zip a.txt sub empty.txt >/dev/null"},
    {"7z zipcrypto", "7z a -tzip -bd -mem=ZipCrypto -psecret out.zip a.txt sub >/dev/null"},
    {"bsdtar", "bsdtar --format zip -cf out.zip a.txt sub empty.txt"},
    {"bsdtar stored", "bsdtar --format zip --options zip:compression=store -cf out.zip a.txt sub"},
    {"stub in front", "zip -qr base.zip a.txt sub && head -c 3000 /dev/zero | tr '\\0' S > stub"
                      " && cat stub base.zip > out.zip"},
    {"stub in front, offsets adjusted",
     "zip -qr base.zip a.txt sub && head -c 3000 /dev/zero | tr '\\0' S > stub"
     " && cat stub base.zip > out.zip && zip -qA out.zip"},
};

class ReadInterop : public ::testing::TestWithParam<MadeArchive> {};

std::string OurListing(const std::string& path) {
  TZipArchiver zip;
  zip.FileName = path;
  zip.OpenArchiveFile(0);
  std::ostringstream out;
  tools::WriteListing(zip, tools::SelectItems(zip, {"*.*"}), true, out);
  return out.str();
}

TEST_P(ReadInterop, ListsWhatPythonLists) {
  TempFolder dir;
  Shell(dir.Path(), "mkdir -p sub/deep && printf 'alpha\\n' > a.txt && seq 1 20000 > sub/b.txt"
                  " && : > empty.txt && printf 'x' > sub/deep/c.bin"
                  " && touch -d '2019-03-04 05:06:08' a.txt sub/b.txt");
  std::string command = GetParam().command;
  if (command[0] == '@')
    ZipTool(dir.Path(), "make " + command.substr(1) + " out.zip");
  else
    Shell(dir.Path(), command);
  std::string expected = ZipTool(dir.Path(), "list out.zip");
  EXPECT_EQ(OurListing(dir / "out.zip"), expected);
}

INSTANTIATE_TEST_SUITE_P(Tools, ReadInterop, ::testing::ValuesIn(kArchives), test::LabelName());

}  // namespace
}  // namespace krevo::archive
