// Error messages, the item array and its hashed name index.
#include <gtest/gtest.h>

#include "archive/ZipArchiver.h"
#include "archive/ZipCollation.h"
#include "archive/ZipDirArray.h"
#include "archive/ZipException.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace krevo::archive {
namespace {

struct MessageCase {
  int native;
  const char* component;
  std::vector<std::string> args;
  const char* message;
  int errorCode;
};

const MessageCase kMessages[] = {
    {13, "Zip1", {}, "Zip1: Archive is not open - Native error: 00013", 7},
    {12, "", {"/pkg/up.zip"}, "File \"/pkg/up.zip\" not found - Native error: 00012", 6},
    {0, "", {}, "Unknown error - Native error: 00000", 0},
    {65, "", {}, "Unknown error - Native error: 00065", 0},
    {64, "", {"12", "BZip2"}, "Unsupported compression method 12 (BZip2) - Native error: 00064",
     39},
    {63, "", {}, "Entries overlap in the archive - Native error: 00063", 38},
    {-1, "", {}, "Unknown error - Native error: 000-1", 0},
    {34, "", {"10", "20"}, "Invalid compressed size, rfs.size = 10, count = 20 - Native error: 00034",
     17},
    {61, "Z", {"n"}, "Z: File name is too long: \r\n\"n\" - Native error: 00061", 36},
    {45, "", {}, "Cannot open archive file. Opening aborted or invalid file - Native error: 00045",
     24},
    {8, "", {"ignored"},
     "Invalid size or check sum of file or unsupported compression format - Native error: 00008",
     4},
};

TEST(ZipException, BuildsItsMessages) {
  for (const MessageCase& c : kMessages) {
    TZipArchiver zip;
    zip.Name = c.component;
    EZipException e = c.args.empty() ? EZipException(c.native, &zip)
                                     : EZipException::Fmt(c.native, &zip, c.args);
    EXPECT_EQ(std::string(e.what()), c.message);
    EXPECT_EQ(e.ErrorCode, c.errorCode) << c.native;
    EXPECT_EQ(e.NativeError, c.native);
  }
}

TEST(HashedList, CaseDifferingNamesBothStayAndTheLaterWins) {
  TZipDirArray a;
  a.SetCount(2);
  a.RenameItem(0, "Read.me");
  a.RenameItem(1, "READ.ME");
  EXPECT_EQ(a.UsedCount(), 2);
  EXPECT_EQ(a.IndexOfName("read.me"), 1);
  EXPECT_EQ(a.IndexOfName("Read.Me"), 1);
}

TEST(HashedList, LookupAfterDeletionSeesShiftedItems) {
  TZipDirArray a;
  a.SetCount(3);
  a.RenameItem(0, "a");
  a.RenameItem(1, "b");
  a.RenameItem(2, "c");
  EXPECT_EQ(a.IndexOfName("c"), 2);
  a.DeleteItem(0);
  EXPECT_EQ(a.IndexOfName("c"), 1);
  EXPECT_EQ(a.IndexOfName("a"), -1);
  EXPECT_EQ(a.ItemPtr(0).name, "b");
}

TEST(HashedList, IndexIsRebuiltWithMoreBucketsPastFivePerBucket) {
  TZipHashedStringList l;
  EXPECT_EQ(l.IndexOf("x"), -1);
  EXPECT_EQ(l.ValueBuckets(), 1000u);
  for (int i = 0; i <= 5000; ++i) l.Add("name" + std::to_string(i));
  EXPECT_EQ(l.ValueBuckets(), 0u);  // dropped, to be rebuilt
  EXPECT_EQ(l.IndexOf("NAME4999"), 4999);
  EXPECT_EQ(l.ValueBuckets(), 5001u);
  l.Put(3, "renamed");
  EXPECT_EQ(l.IndexOf("name3"), -1);
  EXPECT_EQ(l.IndexOf("Renamed"), 3);
  l.Add("key=value");
  EXPECT_EQ(l.IndexOfName("KEY"), 5001);
}

TEST(DirArray, GrowsByADoubledStepAndReportsBadIndexes) {
  TZipDirArray a;
  a.SetCount(1);
  EXPECT_EQ(a.Allocated(), 1000);
  a.SetCount(1001);
  EXPECT_EQ(a.Allocated(), 3000);
  struct Bad {
    int native;
    std::function<void()> call;
  } bad[] = {
      {1, [&] { a.SetItem(5000, TDirItem{}); }},
      {2, [&] { TDirItem d; a.GetItem(-1, d); }},
      {3, [&] { a.ItemPtr(1001); }},
      {4, [&] { a.DeleteItem(1001); }},
      {58, [&] { a.SetItem(7, TDirItem{}); }},
  };
  for (const Bad& b : bad) {
    try {
      b.call();
      ADD_FAILURE() << b.native;
    } catch (const EZipException& e) {
      EXPECT_EQ(e.NativeError, b.native);
      EXPECT_EQ(std::string(e.what()).find("Zip"), std::string::npos);  // no name prefix
    }
  }
  a.SetCount(3);
  a.RenameItem(0, "x");
  a.RenameItem(1, "y");
  // Item 2 claims a name indexed at position 0 (assign, not = "x": GCC 12 warns
  // falsely with -Wrestrict on assigning a one-character literal here).
  a.ItemPtr(2).name.assign(1, 'x');
  EXPECT_THROW(a.RenameItem(2, "z"), EZipException);
  a.SetCount(0);
  EXPECT_EQ(a.Allocated(), 0);
}

// A name without wildcards is looked up through the array's keys; the
// answer is that of the search of every item in archive order, which
// FindNextEntry still runs (from the index before the first item).
TEST(DirArray, NameLookupFindsWhatTheWholeSearchFinds) {
  test::TempFolder dir;
  test::ZipTool(dir.Path(), "make lookalike x.zip");
  TZipArchiver zip;
  zip.FileName = dir / "x.zip";
  zip.OpenArchiveFile(0);
  std::vector<std::string> queries = {"A.txt",           "sub/A.TXT",    "docs/a.TXT",
                                      "a.txt.",          "x[1].TXT",     "x[1].txt",
                                      "X*.TXT",          "Q?.TXT",       "caf\xC3\x89.txt",
                                      "CAF\xC3\xA9.txt", "README",       "readme.",
                                      "folder",          "FOLDER/",      "deep/folder",
                                      "I.TXT",           "i.TXT",        "\xC4\xB1.TXT",
                                      "back.txt",        "win/back.txt", "win\\back.txt",
                                      "DUP.txt",         "sub/dup.txt",  "RO.TXT",
                                      "hidden.txt",      "missing.txt",  "C:/a.txt",
                                      "/a.txt",          "sub/",         ""};
  TZipArchiveItem all;
  for (bool f = zip.FindFirstEntry("*", all, 0xFFFF); f; f = zip.FindNextEntry(all))
    queries.push_back(all.ItemFolder + all.ItemName);
  int found = 0;
  for (const char* locale : {"C.UTF-8", "tr_TR.UTF-8"}) {
    TZipCollation::UseLocale(locale);
    for (bool recurse : {true, false}) {
      zip.Options.Recurse = recurse;
      for (std::uint32_t attr : {47u, 10431u, 0u}) {
        for (const std::string& q : queries) {
          TZipArchiveItem fast, whole;
          const bool hit = zip.FindFirstEntry(q, fast, attr);
          whole.SearchState = fast.SearchState;
          whole.SearchState.index = -1;
          const bool wholeHit = zip.FindNextEntry(whole);
          SCOPED_TRACE(std::string(locale) + (recurse ? " recursing, " : " flat, ") +
                       std::to_string(attr) + ": " + q);
          ASSERT_EQ(hit, wholeHit);
          if (!hit) continue;
          ++found;
          EXPECT_EQ(fast.SearchState.index, whole.SearchState.index);
          EXPECT_EQ(fast.ItemFolder + fast.ItemName, whole.ItemFolder + whole.ItemName);
          // The find goes on from the item found, as before.
          EXPECT_EQ(zip.FindNextEntry(fast), zip.FindNextEntry(whole));
          EXPECT_EQ(fast.SearchState.index, whole.SearchState.index);
        }
      }
    }
  }
  TZipCollation::UseLocale("C.UTF-8");
  EXPECT_GT(found, 100);
}

}  // namespace
}  // namespace krevo::archive
