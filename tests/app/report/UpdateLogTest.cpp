// The update log: its header and footer, its date as the date of the last
// update, and what it refuses to open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>

#include "app/report/UpdateLog.h"
#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/FileSystem.h"
#include "tests/support/TempDir.h"

namespace krevo::app {
namespace {

using base::EncodeDate;
using base::EncodeTime;
using test::ReadFile;
using test::TempDir;

const base::TDateTime kStart = EncodeDate(2008, 3, 7) + EncodeTime(14, 5, 9);
const base::TDateTime kEnd = EncodeDate(2008, 3, 7) + EncodeTime(14, 6, 0);

TEST(UpdateLog, FirstRunWritesTheHeaderAndLaterRunsAppend) {
  std::setlocale(LC_TIME, "C");
  TempDir dir;
  TUpdateLog log;
  EXPECT_DOUBLE_EQ(log.Open(dir.Folder(), kStart), 0.0);
  log.AppendLine("a.txt > " + dir.Folder() + "a.txt");
  log.Close(1, kEnd);
  const std::string first =
      "krevo system updates log.\r\n"
      "Do not delete this file, unless you want all online updates to be re-downloaded.\r\n"
      "Scan started 2008-Mar-07 14:05:09\r\n"
      "a.txt > " +
      dir.Folder() +
      "a.txt\r\n"
      "Scan finished 2008-Mar-07 14:06:00\r\n"
      "1 file updated.\r\n" +
      std::string(70, '=') + "\r\n";
  EXPECT_EQ(ReadFile(dir / "updates.log"), first);

  const std::time_t stamp = base::DateTimeToTimeT(EncodeDate(2011, 9, 1) + EncodeTime(10, 20, 31));
  struct utimbuf times = {stamp, stamp};
  ASSERT_EQ(::utime((dir / "updates.log").c_str(), &times), 0);
  TUpdateLog second;
  EXPECT_DOUBLE_EQ(second.Open(dir.Folder(), kStart),
                   EncodeDate(2011, 9, 1) + EncodeTime(10, 20, 30));
  second.Close(12, kEnd);
  EXPECT_EQ(ReadFile(dir / "updates.log"),
            first +
                "Scan started 2008-Mar-07 14:05:09\r\nScan finished 2008-Mar-07 14:06:00\r\n"
                "12 files updated.\r\n" +
                std::string(70, '=') + "\r\n");
}

TEST(UpdateLog, ALineFromAPackageCannotStartAnotherLine) {
  TempDir dir;
  TUpdateLog log;
  log.Open(dir.Folder(), kStart);
  log.AppendLine("a\r\nScan finished forged\x1b[2J.txt > x");
  log.Close(0, kEnd);
  const std::string text = ReadFile(dir / "updates.log");
  EXPECT_NE(text.find("\r\na\\r\\nScan finished forged\\x1b[2J.txt > x\r\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("\r\nScan finished forged"), std::string::npos);
}

TEST(UpdateLog, RootWithoutTrailingSlashIsJoinedDirectly) {
  TempDir dir;
  TUpdateLog log;
  log.Open(dir / "krevo", kStart);
  log.Close(0, kEnd);
  EXPECT_TRUE(std::filesystem::exists(dir / "krevoupdates.log"));
}

int OpenErrorCode(const std::string& root) {
  TUpdateLog log;
  try {
    log.Open(root, kStart);
  } catch (const base::EInOutError& e) {
    EXPECT_FALSE(log.IsOpen());
    try {
      log.AppendLine("x");
    } catch (const base::EInOutError& later) {
      EXPECT_EQ(later.ErrorCode, 105);
    }
    EXPECT_THROW(log.Close(0, kEnd), base::EInOutError);
    return e.ErrorCode;
  }
  return 0;
}

TEST(UpdateLog, ALogThatCannotBeOpenedRaisesTheIoError) {
  TempDir dir;
  EXPECT_EQ(OpenErrorCode(dir / "missing/"), 2);
  std::filesystem::create_directory(dir / "updates.log");  // a folder counts as no log
  EXPECT_EQ(OpenErrorCode(dir.Folder()), 5);
  if (::geteuid() != 0) {
    TempDir locked;
    ::chmod(locked.Folder().c_str(), 0500);
    EXPECT_EQ(OpenErrorCode(locked.Folder()), 5);
  }
}

// A link or a pipe in the log's place, as another user could leave one in a
// shared folder: nothing is written through it, its target keeps its date,
// and a pipe with no reader does not hold the run.
TEST(UpdateLog, ALinkOrAPipeInTheLogsPlaceIsNeverOpened) {
  struct Case {
    const char* what;
    std::function<void(const TempDir&, const std::string& log)> plant;
  };
  const std::vector<Case> cases = {
      {"a link to a file",
       [](const TempDir& d, const std::string& log) {
         std::filesystem::create_symlink(d.Write("victim", "victim"), log);
       }},
      {"a link to nothing",
       [](const TempDir& d, const std::string& log) {
         std::filesystem::create_symlink(d / "made", log);
       }},
      {"a pipe", [](const TempDir&, const std::string& log) { ::mkfifo(log.c_str(), 0600); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir, other;
    c.plant(other, dir / "updates.log");
    struct utimbuf old = {1000000000, 1000000000};
    ::utime((other / "victim").c_str(), &old);
    EXPECT_NE(OpenErrorCode(dir.Folder()), 0);
    EXPECT_FALSE(std::filesystem::exists(other / "made"));
    if (std::filesystem::exists(other / "victim")) {
      EXPECT_EQ(ReadFile(other / "victim"), "victim");
      struct stat st;
      ASSERT_EQ(::stat((other / "victim").c_str(), &st), 0);
      EXPECT_EQ(st.st_mtime, 1000000000);
    }
  }
}

std::time_t Modified(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

TEST(UpdateLog, AFailedRunLeavesTheDateOfTheLastUpdateAsItWas) {
  TempDir dir;
  const std::string path = dir / "updates.log";
  TUpdateLog created;
  created.Open(dir.Folder(), kStart);
  created.Close(0, kEnd, true);
  EXPECT_EQ(Modified(path), base::DateTimeToTimeT(EncodeDate(2000, 1, 1)));
  EXPECT_EQ(base::FormatDateTime("YYMMDD", base::DosDateTimeToDateTime(*base::FileAge(path))),
            "000101");

  const std::time_t before = base::DateTimeToTimeT(EncodeDate(2010, 4, 4) + EncodeTime(4, 4, 4));
  struct utimbuf times = {before, before};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
  TUpdateLog failed;
  failed.Open(dir.Folder(), kStart);
  failed.Close(0, kEnd, true);
  EXPECT_EQ(Modified(path), before);
  TUpdateLog succeeded;
  succeeded.Open(dir.Folder(), kStart);
  succeeded.Close(0, kEnd);
  EXPECT_GT(Modified(path), before);
  const std::string content = ReadFile(path);
  EXPECT_EQ(std::count(content.begin(), content.end(), '='), 3 * 70);
}

TEST(UpdateLog, TheDateMovesOnlyWhenTheRunCloses) {
  TempDir dir;
  const std::string path = dir / "updates.log";
  TUpdateLog created;
  created.Open(dir.Folder(), kStart);
  created.AppendLine("a > b");
  // A run killed here leaves a new log that sorts below every package.
  EXPECT_EQ(Modified(path), base::DateTimeToTimeT(EncodeDate(2000, 1, 1)));
  created.Close(1, kEnd);
  const std::time_t before = base::DateTimeToTimeT(EncodeDate(2010, 4, 4) + EncodeTime(4, 4, 4));
  struct utimbuf times = {before, before};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
  TUpdateLog appended;
  appended.Open(dir.Folder(), kStart);
  appended.AppendLine("c > d");
  EXPECT_EQ(Modified(path), before);
  appended.Close(1, kEnd);
  EXPECT_GT(Modified(path), before);
}

TEST(UpdateLog, ALogDatedBefore1980IsAppendedToNotEmptied) {
  TempDir dir;
  dir.Write("updates.log", "earlier runs\r\n");
  struct utimbuf times = {86400, 86400};  // 1970
  ASSERT_EQ(::utime((dir / "updates.log").c_str(), &times), 0);
  TUpdateLog log;
  EXPECT_DOUBLE_EQ(log.Open(dir.Folder(), kStart), 0.0);
  log.Close(0, kEnd);
  EXPECT_EQ(ReadFile(dir / "updates.log").rfind("earlier runs\r\nScan started ", 0), 0u);
}

// Which date of the last update a run believes, after what the run before it
// left: a run killed between a write to the log and the call that dates it
// back leaves the log dated now, and its date record says what it kept.
TEST(UpdateLog, ARunKilledBeforeTheLogIsDatedBackLeavesTheDateItKept) {
  const std::time_t kept = base::DateTimeToTimeT(EncodeDate(2010, 4, 4) + EncodeTime(4, 4, 4));
  const std::time_t now = ::time(nullptr);
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> before;  // with a log dated `kept`
    std::time_t believed;                        // 0: a new log
  };
  const auto killed = [&](const TempDir& dir) {
    TUpdateLog log;
    log.Open(dir.Folder(), kStart);
    log.AppendLine("a > b");
    // The kill: the write moved the date, and nothing put it back nor closed.
    struct utimbuf times = {now, now};
    ASSERT_EQ(::utime((dir / "updates.log").c_str(), &times), 0);
  };
  const std::vector<Case> cases = {
      {"a killed run", killed, kept},
      {"two killed runs in a row",
       [&](const TempDir& dir) {
         killed(dir);
         killed(dir);
       },
       kept},
      {"a killed run whose record is damaged",
       [&](const TempDir& dir) {
         killed(dir);
         dir.Write(".krevo-updates.log.date", "krevo-log-date 1\n12x 0\n");
       },
       now},
      {"a run that closed, and the log dated by hand since",
       [&](const TempDir& dir) {
         killed(dir);
         TUpdateLog log;
         log.Open(dir.Folder(), kStart);
         log.Close(0, kEnd, true);
         const std::time_t set = kept - 86400;
         struct utimbuf times = {set, set};
         ASSERT_EQ(::utime((dir / "updates.log").c_str(), &times), 0);
       },
       kept - 86400},
      {"a killed run, then the log deleted to take every update again",
       [&](const TempDir& dir) {
         killed(dir);
         std::filesystem::remove(dir / "updates.log");
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.Write("updates.log", "earlier\r\n");
    struct utimbuf times = {kept, kept};
    ASSERT_EQ(::utime((dir / "updates.log").c_str(), &times), 0);
    c.before(dir);
    TUpdateLog next;
    const base::TDateTime lastUpdate = next.Open(dir.Folder(), kStart);
    if (c.believed == 0) {
      EXPECT_DOUBLE_EQ(lastUpdate, 0.0);
      EXPECT_EQ(Modified(dir / "updates.log"), base::DateTimeToTimeT(EncodeDate(2000, 1, 1)));
    } else {
      EXPECT_EQ(base::DateTimeToTimeT(lastUpdate) / 2, c.believed / 2);
      EXPECT_EQ(Modified(dir / "updates.log"), c.believed);
    }
    next.Close(0, kEnd, true);
    // Closed with the date in place, nothing is left beside the log.
    EXPECT_EQ(Modified(dir / "updates.log"),
              c.believed ? c.believed : base::DateTimeToTimeT(EncodeDate(2000, 1, 1)));
    for (const auto& e : std::filesystem::directory_iterator(dir.Folder()))
      EXPECT_EQ(e.path().filename(), "updates.log");
  }
}

}  // namespace
}  // namespace krevo::app
