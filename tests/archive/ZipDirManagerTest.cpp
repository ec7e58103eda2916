// The directory reader on odd, damaged and hostile files: whatever the bytes
// claim, the result is a listing, a rebuild or a numbered error.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "archive/ZipArchiver.h"
#include "archive/ZipDirManager.h"
#include "archive/ZipException.h"
#include "base/Streams.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/UnzipListing.h"

namespace krevo::archive {
namespace {

using test::Cut;
using test::Damage;
using test::ItemNames;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;
using test::ZipTool;

std::string Le(std::uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// Offset of the central directory of an archive without a comment.
std::int64_t CentralOffset(const std::string& path) {
  std::string d = ReadFile(path);
  std::string end = d.substr(d.size() - 22);
  std::int64_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::int64_t{static_cast<unsigned char>(end[16 + i])} << (8 * i);
  return v;
}

struct Hostile {
  const char* label;
  const char* kind;  // the ziptool archive that is then damaged
  std::function<void(const std::string& path)> damage;
  int nativeError;       // expected failure of the open, or 0
  const char* expected;  // expected names after a successful open
  friend void PrintTo(const Hostile& h, std::ostream* os) { *os << h.label; }
};

const std::string kBasicNames = "a.txt;sub/;sub/b.txt;stored.bin;";

const Hostile kHostile[] = {
    {"empty file", nullptr, [](const std::string& p) { WriteFile(p, ""); }, 35, ""},
    {"shorter than an end record", nullptr, [](const std::string& p) { WriteFile(p, "PK\5\6"); },
     35, ""},
    {"four billion entries in a tiny file", nullptr,
     [](const std::string& p) {
       // A Zip64 record and locator that claim 2^32-1 entries.
       std::string z64 = Le(0x06064B50, 4) + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 4) +
                         Le(0, 4) + Le(0xFFFFFFFF, 8) + Le(0xFFFFFFFF, 8) + Le(0, 8) + Le(0, 8);
       std::string loc = Le(0x07064B50, 4) + Le(0, 4) + Le(1, 8) + Le(1, 4);
       std::string end = Le(0x06054B50, 4) + Le(0, 4) + Le(0xFFFF, 2) + Le(0xFFFF, 2) +
                         Le(0xFFFFFFFF, 4) + Le(0xFFFFFFFF, 4) + Le(0, 2);
       WriteFile(p, "x" + z64 + loc + end);
     },
     35, ""},
    {"65000 entries in a central directory of 0 bytes", "basic",
     [](const std::string& p) { Damage(p, -12, Le(65000, 2) + Le(0, 4)); }, 0, kBasicNames.c_str()},
    {"name length running past the end", "basic",
     [](const std::string& p) { Damage(p, CentralOffset(p) + 28, Le(0xFFFF, 2)); }, 0,
     kBasicNames.c_str()},
    {"central size larger than the file", "basic",
     [](const std::string& p) { Damage(p, -10, Le(0x7FFFFFFF, 4)); }, 0, kBasicNames.c_str()},
    {"total entries 0xFFFF without Zip64", "basic",
     [](const std::string& p) { Damage(p, -12, Le(0xFFFF, 2)); }, 0, kBasicNames.c_str()},
    {"truncated inside the end record", "basic",
     [](const std::string& p) { Cut(p, static_cast<std::int64_t>(ReadFile(p).size()) - 5); }, 0,
     kBasicNames.c_str()},
    {"bytes after the comment", "comment",
     [](const std::string& p) { WriteFile(p, ReadFile(p) + "junk"); }, 0, kBasicNames.c_str()},
    {"signature inside the comment", "comment-signature", [](const std::string&) {}, 0,
     kBasicNames.c_str()},
    {"Zip64 locator pointing beyond the file", "zip64",
     [](const std::string& p) { Damage(p, -22 - 20 + 8, Le(0x7FFFFFFFFFFF, 8)); }, 0,
     kBasicNames.c_str()},
    {"Zip64 locator without its record", "zip64",
     [](const std::string& p) {
       Damage(p, -22 - 20 + 8, Le(0x7FFFFFFFFFFF, 8));
       Damage(p, -22 - 20 - 56, "XX");
     },
     40, ""},
    {"only a local header without a name", nullptr,
     [](const std::string& p) { WriteFile(p, Le(0x04034B50, 4) + std::string(26, '\0')); }, 0,
     ";"},
    {"no local header anywhere", nullptr,
     [](const std::string& p) { WriteFile(p, std::string(100000, 'x')); }, 35, ""},
};

class HostileArchive : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileArchive, OpensAsDesignedOrFailsWithItsNumber) {
  TempFolder dir;
  const Hostile& h = GetParam();
  if (h.kind) ZipTool(dir.Path(), std::string("make ") + h.kind + " x.zip");
  h.damage(dir / "x.zip");
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  if (h.nativeError) {
    try {
      zip.OpenArchiveFile(0);
      ADD_FAILURE() << "opened: " << ItemNames(zip);
    } catch (const EZipException& e) {
      EXPECT_EQ(e.NativeError, h.nativeError) << e.what();
    }
    EXPECT_FALSE(zip.Active());
    return;
  }
  zip.OpenArchiveFile(0);
  EXPECT_EQ(ItemNames(zip), h.expected);
  // Every item can be listed after any open.
  std::ostringstream out;
  tools::WriteListing(zip, tools::SelectItems(zip, {"*.*"}), true, out);
}

INSTANTIATE_TEST_SUITE_P(Damaged, HostileArchive, ::testing::ValuesIn(kHostile), test::LabelName());

// An end record's count that its directory cannot hold (each central header
// takes at least 46 bytes) is damage: the items are rebuilt from the local
// headers, never read as fewer (or no) items. The basic archive holds four.
struct LyingCount {
  const char* label;
  const char* count;  // ziptool count N ... [zip64]
  bool rebuilt;
  friend void PrintTo(const LyingCount& l, std::ostream* os) { *os << l.label; }
};

const LyingCount kLyingCounts[] = {
    {"the true count", "4", false},
    {"the true Zip64 count", "4 zip64", false},
    {"Zip64 claims 2 to the 62", "4611686018427387904 zip64", true},
    {"Zip64 claims 2 to the 32", "4294967296 zip64", true},
    {"Zip64 claims 2 to the 32 plus 4", "4294967300 zip64", true},
    {"Zip64 claims 7 in a directory of 300 bytes", "7 zip64", true},
    {"one more than the directory holds", "5", true},
    {"65535 in the 32-bit record", "65535", true},
    {"6000 in the 32-bit record", "6000", true},
};

class LyingCountTest : public ::testing::TestWithParam<LyingCount> {};

TEST_P(LyingCountTest, IsRebuiltNeverAnEmptyListing) {
  TempFolder dir;
  const LyingCount& l = GetParam();
  std::string args = l.count;
  const std::size_t space = args.find(' ');
  args.insert(space == std::string::npos ? args.size() : space, " x.zip");
  ZipTool(dir.Path(), "count " + args);
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  EXPECT_EQ(zip.DirectoryRebuilt(), l.rebuilt);
  EXPECT_EQ(ItemNames(zip), kBasicNames);
}

INSTANTIATE_TEST_SUITE_P(Counts, LyingCountTest, ::testing::ValuesIn(kLyingCounts),
                         test::LabelName());

TEST(DirManager, RebuildKeepsSizesAndCrcsOfADamagedDirectory) {
  TempFolder dir;
  ZipTool(dir.Path(), "make descriptor x.zip");
  std::string expected = ZipTool(dir.Path(), "list x.zip");
  Damage(dir / "x.zip", CentralOffset(dir / "x.zip"), "XXXX");
  Damage(dir / "x.zip", CentralOffset(dir / "x.zip") + 28, Le(60000, 2));
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  std::ostringstream out;
  tools::WriteListing(zip, tools::SelectItems(zip, {"*.*"}), true, out);
  // Rebuilt items carry the local version and attributes; the rest must agree.
  std::istringstream want(expected), got(out.str());
  std::string w, g;
  int lines = 0;
  while (std::getline(want, w) && std::getline(got, g)) {
    ++lines;
    auto cut = [](const std::string& s) {  // size, packed, date, crc
      std::size_t t = 0;
      for (int i = 0; i < 4; ++i) t = s.find('\t', t) + 1;
      return s.substr(0, t) + s.substr(s.rfind('\t'));
    };
    EXPECT_EQ(cut(g), cut(w));
  }
  EXPECT_EQ(lines, 3);
}

TEST(DirManager, DirectoryAndMissingFilesAreNotArchives) {
  TempFolder dir;
  TZipArchiver zip;
  zip.FileName = dir.Path() + "folder.zip";
  test::Shell(dir.Path(), "mkdir folder.zip");
  try {
    zip.OpenArchiveFile(0);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError, 12);
    EXPECT_EQ(std::string(e.what()),
              "File \"" + zip.FileName + "\" not found - Native error: 00012");
  }
}

TEST(DirManager, EmptyDirectoryBehindAStubHasThePrefixOfItsEndRecord) {
  TempFolder dir;
  ZipTool(dir.Path(), "make empty e.zip");
  WriteFile(dir / "x.zip", std::string(3000, 'S') + ReadFile(dir / "e.zip"));
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  EXPECT_EQ(zip.DirManager()->Items().UsedCount(), 0);
  EXPECT_EQ(zip.DirManager()->PrefixLength(), 3000);
}

// A Zip64 local header keeps its sizes in its Zip64 block: the stub in
// front is found by them all the same.
TEST(DirManager, StubInFrontOfAZip64Archive) {
  TempFolder dir;
  // Forced Zip64: the local header holds markers where the central one
  // holds a 32-bit size.
  test::Shell(dir.Path(), "printf 'alpha\\n' > a.txt && zip -q -fz z.zip a.txt");
  WriteFile(dir / "x.zip", std::string(3000, 'S') + ReadFile(dir / "z.zip"));
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  ASSERT_TRUE(zip.DirManager()->IsZip64());
  EXPECT_EQ(zip.DirManager()->PrefixLength(), 3000);
  base::TMemoryStream out;
  zip.ExtractItemToStream(0, out);
  EXPECT_EQ(out.AsString(), "alpha\n");
}

TEST(DirManager, StubInFrontShiftsFileOffsetsButNotFolders) {
  TempFolder dir;
  ZipTool(dir.Path(), "make basic b.zip");
  WriteFile(dir / "x.zip", std::string(3000, 'S') + ReadFile(dir / "b.zip"));
  TZipArchiver plain, stubbed;
  plain.FileName = dir / "b.zip";
  stubbed.FileName = dir / "x.zip";
  plain.OpenArchiveFile(0);
  stubbed.OpenArchiveFile(0);
  EXPECT_EQ(stubbed.DirManager()->PrefixLength(), 3000);
  for (int i = 0; i < 4; ++i) {
    const TDirItem& a = plain.DirManager()->Items().ItemPtr(i);
    const TDirItem& b = stubbed.DirManager()->Items().ItemPtr(i);
    EXPECT_EQ(b.LocalOffset(), a.LocalOffset() + (a.IsFolder() ? 0 : 3000)) << a.name;
  }
}

TEST(DirManager, Cp437NamesFollowTheOemOption) {
  TempFolder dir;
  ZipTool(dir.Path(), "make oem x.zip");
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  EXPECT_EQ(ItemNames(zip), "\xC3\xBC-cp437.txt;");
  zip.CloseArchiveFile();
  zip.Options.OEMFileNames = false;
  zip.OpenArchiveFile(0);
  EXPECT_EQ(ItemNames(zip), "\x81-cp437.txt;");
}

TEST(DirManager, Zip64BlockLongerThanItsFieldIsCut) {
  TempFolder dir;
  ZipTool(dir.Path(), "make zip64 x.zip");
  std::int64_t cd = CentralOffset(dir / "x.zip");
  std::string d = ReadFile(dir / "x.zip");
  // Item 0 ("a.txt"): its extra field starts after the 46 bytes and the name.
  std::size_t extraLen = static_cast<unsigned char>(d[cd + 30]);
  ASSERT_GT(extraLen, 4u);
  Damage(dir / "x.zip", cd + 46 + 5 + 2, Le(0xFFF0, 2));
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  const TDirItem& a = zip.DirManager()->Items().ItemPtr(0);
  EXPECT_EQ(a.name, "a.txt");
  ASSERT_EQ(a.extra.size(), 1u);
  EXPECT_EQ(a.extra[0].data.size(), extraLen - 4);
  EXPECT_EQ(a.UncompressedSize(), 6u);
}

}  // namespace
}  // namespace krevo::archive
