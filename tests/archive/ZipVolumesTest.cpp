// Volume names and a split archive read through the volume layer.
#include <gtest/gtest.h>

#include <sstream>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tools/UnzipListing.h"

namespace krevo::archive {
namespace {

using test::Shell;
using test::TempFolder;
using test::ZipTool;

std::string VolumeName(const std::string& file, int index, TZipSpanningMode mode, bool advanced) {
  TZipArchiver zip;
  zip.FileName = file;
  zip.SetSpanningMode(mode);
  zip.SpanningOptions.AdvancedNaming = advanced;
  std::string n = file;
  zip.VolumeFileName(n, index, false);
  return n;
}

TEST(Volumes, NamesOfVolumes) {
  struct Case {
    const char* file;
    int index;
    TZipSpanningMode mode;
    bool advanced;
    const char* expected;
  } cases[] = {
      {"/a/pack.zip", 0, smSplitting, true, "/a/pack_001.zip"},
      {"/a/pack.zip", 0, smSplitting, false, "/a/pack.Z01"},
      {"/a/pack.zip", 11, smSplitting, false, "/a/pack.Z12"},
      {"/a/pack.zip", -1, smSplitting, true, "/a/pack.zip"},
      {"/a/pack.exe", 0, smSplitting, true, "/a/pack.exe"},
      {"/a/pack.exe", -1, smSplitting, true, "/a/pack.ZIP"},
      {"/a/pack.exe", 1, smSplitting, false, "/a/pack.Z02"},
      {"/a/pack.zip", 2, smSpanning, true, "/a/pack_003.zip"},
      {"/a/pack.zip", 2, smSpanning, false, "/a/pack.zip"},
      {"/a/pack.zip", 2, smNone, true, "/a/pack.zip"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VolumeName(c.file, c.index, c.mode, c.advanced), c.expected) << c.file << c.index;
  }
}

TEST(Volumes, SplitArchiveOfZipIsReadAcrossItsVolumes) {
  TempFolder dir;
  Shell(dir.Path(), "mkdir src && head -c 300000 /dev/urandom > src/r1.bin && seq 1 30000 > src/t.txt"
                    " && head -c 200000 /dev/urandom > src/r2.bin"
                    " && zip -qr -s 100k split.zip src && zip -q -s 0 split.zip --out joined.zip");
  ASSERT_NE(Shell(dir.Path(), "ls"), "");
  std::string expected = ZipTool(dir.Path(), "list joined.zip");
  TZipArchiver zip;
  zip.FileName = dir / "split.zip";
  int requests = 0;
  zip.OpenArchiveFile(0);
  EXPECT_EQ(zip.SpanningMode(), smSplitting);
  EXPECT_FALSE(zip.SpanningOptions.AdvancedNaming);
  std::ostringstream out;
  tools::WriteListing(zip, tools::SelectItems(zip, {"*.*"}), true, out);
  EXPECT_EQ(out.str(), expected);
  // Entries that run over volume ends are read on from the next volume.
  zip.BaseDir = dir / "ours";
  zip.OnRequestMiddleVolume = [&](TZipBaseArchiver*, int, std::string&, bool&) { ++requests; };
  zip.ExtractMatching("*.*", 10431);
  Shell(dir.Path(), "unzip -q joined.zip -d theirs && diff -r ours theirs");
  EXPECT_GT(requests, 0);
}

TEST(Volumes, MissingVolumeCancelsTheOpen) {
  TempFolder dir;
  Shell(dir.Path(), "mkdir src && head -c 300000 /dev/urandom > src/r1.bin"
                    " && zip -qr -s 100k split.zip src && rm split.z01");
  TZipArchiver zip;
  zip.FileName = dir / "split.zip";
  std::vector<std::string> asked;
  zip.OnRequestFirstVolume = [&](TZipBaseArchiver*, std::string& name, bool& cancel) {
    asked.push_back(name);
    cancel = true;
  };
  // The directory lies on the last volume: the open needs no other.
  zip.OpenArchiveFile(0);
  EXPECT_TRUE(asked.empty());
  try {
    zip.OpenVolume(TZipVolumeNumberInfo::First(2));
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError, 45);
  }
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0], dir / "split.Z01");
}

TEST(Volumes, MissingFileOnRemovableMediaAsksForTheLastDisk) {
  TZipArchiver zip;
  zip.FileName = "/media/krevo-no-such-disk/pack.zip";
  test::ScriptedDialogs dialogs;
  try {
    zip.OpenArchiveFile(0);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_EQ(e.NativeError, 45);
  }
  EXPECT_EQ(dialogs.asked, (std::vector<std::string>{"|Please insert the last disk"}));
  EXPECT_FALSE(zip.Active());
}

}  // namespace
}  // namespace krevo::archive
