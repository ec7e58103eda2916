// The archiver's settings, open and close, counts and finds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "archive/ZipArchiver.h"
#include "archive/ZipException.h"
#include "base/Streams.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

using test::Shell;
using test::TempFolder;

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EZipException& e) {
    return e.NativeError;
  }
  return 0;
}

class Archiver : public ::testing::Test {
 protected:
  void SetUp() override {
    Shell(dir.Path(), "mkdir -p src/sub && printf a > src/a.txt && printf b > src/sub/b.txt"
                      " && cd src && zip -qr ../pkg.zip a.txt sub/ && zip -q ../pkg.zip sub/b.txt");
    zip.FileName = dir / "pkg.zip";
  }
  TempFolder dir;
  TZipArchiver zip;
};

TEST_F(Archiver, LevelAndModeFollowEachOther) {
  EXPECT_EQ(zip.CompressionLevel(), clFastest);
  EXPECT_EQ(zip.CompressionMethod(), 8);
  zip.SetCompressionMode(5);
  EXPECT_EQ(zip.CompressionLevel(), clNormal);
  zip.SetCompressionLevel(clMax);
  EXPECT_EQ(zip.CompressionMode(), 9);
  zip.SetCompressionMode(0);
  EXPECT_EQ(zip.CompressionMethod(), 0);
  EXPECT_EQ(NativeOf([&] { zip.SetCompressionMode(10); }), 5);
  EXPECT_EQ(zip.Zip64Mode, zmDisabled);
}

TEST_F(Archiver, MissingFileLeavesThePreviousArchiveOpen) {
  zip.SetSpanningMode(smSplitting);
  int opened = 0;
  zip.AfterOpen = [&](TZipBaseArchiver*) { ++opened; };
  zip.OpenArchiveFile(0);
  EXPECT_EQ(zip.SpanningMode(), smNone);
  EXPECT_EQ(opened, 1);
  EXPECT_THROW(zip.SetSpanningMode(smSpanning), base::Exception);
  zip.FileName = dir / "missing.zip";
  EXPECT_EQ(NativeOf([&] { zip.OpenArchiveFile(0); }), 12);
  EXPECT_TRUE(zip.Active());
  EXPECT_EQ(zip.EntryCount(), 2);
  zip.FileName = dir.Path();
  EXPECT_EQ(NativeOf([&] { zip.OpenArchiveFile(0); }), 10);
  zip.CloseArchiveFile();
  zip.CloseArchiveFile();
  EXPECT_FALSE(zip.Active());
  EXPECT_EQ(NativeOf([&] { zip.EntryCount(); }), 13);
  TZipArchiveItem item;
  EXPECT_EQ(NativeOf([&] { zip.FindFirstEntry("*.*", item, 10431); }), 13);
  zip.FileName = dir / "pkg.zip";
  zip.SetInMemory(true);
  EXPECT_EQ(NativeOf([&] { zip.OpenArchiveFile(0); }), 28);
}

TEST_F(Archiver, AnArchiveOpenedFromAStreamIsReadFromItAloneNeverByName) {
  // The file's name is gone once its descriptor is open: whatever is read
  // comes through the descriptor.
  base::UniqueFd fd(::open((dir / "pkg.zip").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd);
  ASSERT_EQ(::unlink((dir / "pkg.zip").c_str()), 0);
  int opened = 0;
  zip.AfterOpen = [&](TZipBaseArchiver*) { ++opened; };
  zip.OpenArchiveStream(std::make_unique<base::TFileStream>(std::move(fd), dir / "pkg.zip"),
                        dir / "pkg.zip");
  EXPECT_TRUE(zip.Active());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(zip.FileName, dir / "pkg.zip");
  EXPECT_FALSE(zip.DirectoryRebuilt());
  EXPECT_EQ(zip.EntryCount(), 2);
  zip.BaseDir = dir / "out";
  zip.ExtractMatching();
  EXPECT_EQ(test::ReadFile(dir / "out/sub/b.txt"), "b");
  zip.CloseArchiveFile();
  EXPECT_FALSE(zip.Active());

  // No archive in it: the reader's error, and the component is left closed.
  auto garbage = std::make_unique<base::TMemoryStream>();
  garbage->WriteBuffer("no archive here", 15);
  EXPECT_EQ(NativeOf([&] { zip.OpenArchiveStream(std::move(garbage), "garbage"); }), 35);
  EXPECT_FALSE(zip.Active());
  EXPECT_EQ(NativeOf([&] { zip.OpenArchiveStream(nullptr, "none"); }), 13);
}

TEST_F(Archiver, EntryCountSkipsFoldersWhateverRecurseSays) {
  zip.Options.Recurse = false;
  zip.OpenArchiveFile(0);
  EXPECT_EQ(zip.EntryCount(), 2);
  EXPECT_FALSE(zip.Options.Recurse);
}

TEST_F(Archiver, FindsByMaskAttributesAndFolder) {
  zip.OpenArchiveFile(0);
  TZipArchiveItem item;
  std::vector<std::string> found;
  for (bool f = zip.FindFirstEntry("*.*", item, 47); f; f = zip.FindNextEntry(item))
    found.push_back(item.ItemFolder + "|" + item.ItemName);
  EXPECT_EQ(found, (std::vector<std::string>{"|a.txt", "sub/|b.txt"}));

  ASSERT_TRUE(zip.FindFirstEntry("C:\\sub\\B.TXT", item, 10431));
  EXPECT_EQ(item.ItemName, "b.txt");
  EXPECT_EQ(item.UnpackedSize, 1);
  EXPECT_DOUBLE_EQ(item.PackRatio, 0);
  zip.Options.StorePath = spFullPathWithDrive;
  EXPECT_FALSE(zip.FindFirstEntry("C:\\sub\\b.txt", item, 10431));

  ASSERT_TRUE(zip.FindFirstEntry("sub", item, 10431));
  EXPECT_EQ(item.Attributes & 0x10, 0x10u);
  EXPECT_DOUBLE_EQ(item.PackRatio, 100.0);

  // Two finds side by side keep their own positions.
  TZipArchiveItem a, b;
  ASSERT_TRUE(zip.FindFirstEntry("*.txt", a, 10431));
  ASSERT_TRUE(zip.FindFirstEntry("*.*", b, 10431));
  ASSERT_TRUE(zip.FindNextEntry(a));
  EXPECT_EQ(a.ItemName, "b.txt");
  ASSERT_TRUE(zip.FindNextEntry(b));
  EXPECT_EQ(b.ItemName, "sub");

  zip.Options.Recurse = false;
  EXPECT_FALSE(zip.FindFirstEntry("*.txt", a, 10431) && a.ItemFolder == "sub/");
  EXPECT_TRUE(zip.FindFirstEntry("sub/*.txt", a, 10431));
  EXPECT_EQ(a.ItemName, "b.txt");
  EXPECT_FALSE(zip.FindFirstEntry(std::string(300, '*'), a, 10431));
}

TEST_F(Archiver, NewInMemoryArchiveIsEmpty) {
  zip.SetInMemory(true);
  zip.OpenArchiveFile(-1);
  EXPECT_EQ(zip.EntryCount(), 0);
  zip.CloseArchiveFile();
}

}  // namespace
}  // namespace krevo::archive
