// What a listing offers: the fixed columns and either listing style, the names
// taken, the date filter, and the refusals that ask for encryption.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "app/sources/EncryptionRefusal.h"
#include "app/sources/PackageListing.h"
#include "base/DateTime.h"
#include "base/Errors.h"

namespace krevo::app {
namespace {

using base::EncodeDate;
using base::EncodeTime;

// A listing line with `size` right-aligned in characters 30-39 and `name`
// from character 40, as an MS-DOS style listing lays them out.
std::string Line(const std::string& size, const std::string& name) {
  std::string line = "03-07-08  02:05PM           ";  // 28 characters
  line += ' ';                                        // character 29
  line += std::string(10 - std::min<std::size_t>(size.size(), 10), ' ') + size;
  return line + name;
}

TEST(PackageListing, ReadsTheFixedColumns) {
  const std::string line = Line("1048576", "up080307.zip");
  ASSERT_EQ(line.find("up080307.zip"), 39u);
  EXPECT_EQ(ListingSize(line), 1048576);
  EXPECT_EQ(ListingPackageName(line), "up080307.zip");
  EXPECT_EQ(ListingSize(Line("5368709120", "up.zip")), 5368709120LL);  // 5 GiB
  EXPECT_EQ(ListingSize(Line("\t42\x01", "x")), 42);
  EXPECT_EQ(ListingPackageName(Line("1", "up 080307 with blanks .zip ")),
            "up 080307 with blanks .zip ");
  EXPECT_EQ(ListingPackageName(Line("1", std::string(120, 'n'))), std::string(99, 'n'));
  EXPECT_EQ(ListingPackageName("short line"), "");

  for (const std::string& bad : {std::string("12a"), std::string("-"), std::string("")}) {
    try {
      ListingSize(Line(bad, "up080307.zip"));
      ADD_FAILURE() << bad;
    } catch (const base::EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + bad + "' is not a valid integer value");
    }
  }
  EXPECT_THROW(ListingSize("drwxr-xr-x 1 owner group"), base::EConvertError);
}

TEST(PackageListing, ReadsEitherListingStyle) {
  struct Case {
    const char* what;
    std::string line;
    std::optional<std::string> name;  // none: the line offers no package
    std::optional<std::uint64_t> size;
  };
  const std::string dos = "12-09-26  03:30AM                   92 ";
  const std::string kAtColumn40 = "-rw-r--r-- 1 ftp ab 123456 Dec 9 03:30 up260101.zip";
  ASSERT_EQ(kAtColumn40.find("up260101"), 39u);
  for (const Case& c : {
           Case{"MS-DOS", dos + "up260101.zip", "up260101.zip", 92},
           Case{"MS-DOS, a bad size column", Line("12x3", "up260101.zip"), "up260101.zip",
                std::nullopt},
           Case{"MS-DOS, a folder", "12-09-26  03:30AM       <DIR>          up260101.zip",
                "up260101.zip", std::nullopt},
           Case{"MS-DOS, not a package", dos + "readme.txt", std::nullopt, std::nullopt},
           Case{"Unix", "-rw-r--r--   1 root     root           92 Dec 25  2024 up260101.zip",
                "up260101.zip", 92},
           Case{"Unix, no group", "-rw-r--r--   1 ftp        92 Dec  9 00:47 up260101.zip",
                "up260101.zip", 92},
           Case{"Unix, numeric ids",
                "-rw-r--r--    1 0          0                  92 Dec  9 03:30 up260101.zip",
                "up260101.zip", 92},
           Case{"Unix, above 2 GiB",
                "-rw-r--r--    1 0        0        3000000000 Dec 09 03:30 up260201.zip",
                "up260201.zip", 3000000000u},
           Case{"Unix, blanks in the name",
                "-rw-r--r--    1 0        0              10 Dec 09 03:30 up260301 with spaces.zip",
                "up260301 with spaces.zip", 10},
           Case{"Unix, a year",
                "-rw-r--r--    1 0        0              77 Jun 01  2025 UP250601.ZIP",
                "UP250601.ZIP", 77},
           // The name of this Unix line starts at column 40 by chance; its size
           // is not in columns 30-39.
           Case{"Unix, name at column 40", kAtColumn40, "up260101.zip", 123456},
           Case{"Unix, a link", "lrwxrwxrwx 1 0 0 12 Jan 31 23:59 up260101.zip -> up250601.zip",
                std::nullopt, std::nullopt},
           Case{"Unix, a folder",
                "drwxr-xr-x   2 root     root         4096 Dec  9 03:30 up260101.zip", std::nullopt,
                std::nullopt},
           Case{"Unix, not a package", "-rw-r--r--   1 root root 92 Dec 25  2024 .ftpquota",
                std::nullopt, std::nullopt},
           Case{"Unix, a traversal name",
                "-rw-r--r--   1 root root 92 Dec 25  2024 ../up260101.zip", std::nullopt,
                std::nullopt},
           Case{"neither", "total 1232", std::nullopt, std::nullopt},
           Case{"empty", "", std::nullopt, std::nullopt},
       }) {
    const std::optional<TListedPackage> read = ReadListingLine(c.line);
    ASSERT_EQ(read.has_value(), c.name.has_value()) << c.what;
    if (!read) continue;
    EXPECT_EQ(read->Name, *c.name) << c.what;
    EXPECT_EQ(read->Size, c.size) << c.what;
  }
}

TEST(PackageListing, TheBarMaximumIsTheFirstPackagesSize) {
  const std::string unix = "-rw-r--r-- 1 0 0 3000000000 Dec 9 03:30 up260201.zip";
  EXPECT_EQ(DownloadBarMaximum({"total 8", unix, Line("5", "up260301.zip")}), 3000000000LL);
  EXPECT_EQ(DownloadBarMaximum({Line("5", "up260301.zip"), unix}), 5);
  EXPECT_EQ(DownloadBarMaximum({"-rw-r--r-- 1 0 0 18446744073709551615 Dec 9 03:30 up260201.zip"}),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(DownloadBarMaximum({"total 0"}), 0);
  EXPECT_EQ(DownloadBarMaximum({}), 0);
  // The first package line's size column is no number: the run ends there.
  EXPECT_THROW(DownloadBarMaximum({Line("12x3", "up260101.zip"), unix}), base::EConvertError);
}

TEST(EncryptionRefusal, KnowsTheRefusalsThatAskForTls) {
  struct Case {
    int code;
    const char* text;
    bool demands;
  };
  for (const Case& c :
       {Case{530, "Non-anonymous sessions must use encryption.\r\n", true},
        Case{530, "Please login with USER and PASS.\r\n", false},
        Case{530, "Login incorrect.\r\n", false}, Case{530, "This server requires ssl\r\n", true},
        Case{530, "Must use TLS first\r\n", true},
        Case{534, "Request denied for policy reasons.\r\n", true},
        Case{550, "Encryption not available.\r\n", false}}) {
    EXPECT_EQ(DemandsEncryption(ftp::ENetProtocolReplyError(c.code, c.text)), c.demands) << c.text;
  }
  const ftp::ENetProtocolReplyError advised =
      WithEncryptionAdvice(ftp::ENetProtocolReplyError(534, "Policy\r\nrequires \x1b TLS.\r\n"));
  EXPECT_EQ(advised.ReplyCode, 534);
  EXPECT_EQ(std::string(advised.what()),
            std::string(kEncryptionAdvice) + " The server replied: 534 Policy requires \\x1b TLS.");
}

TEST(PackageListing, OnlyPlainFileNamesAreTaken) {
  for (const char* good : {"up080307.zip", "up080307 final.zip", "up..zip"})
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  for (const char* bad :
       {"", ".", "..", "../../etc/passwd", "up/080307.zip", "up\\x.zip", "up\r.zip", "up\x7f.zip"})
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST(PackageListing, OnlyPackageNamesAreTaken) {
  for (const char* good : {"up080307.zip", "UP080307.ZIP", "Up080307.Zip", "up080307 final.zip",
                           "up080307-2.zip", "up080307..zip", "up080307\xc3\xbc.zip"})
    EXPECT_TRUE(IsPackageName(good)) << good;
  for (const char* bad :
       {"", ".some-service.lock", "up26x101.zip", "up08030.zip", "up0803071", "up080307.zip ",
        "up080307.zip.part", "upx080307.zip", " up080307.zip", "up080307/../x.zip",
        "up080307\\x.zip", "up080307\r.zip", "up080307\x1b.zip", "up080307\xc2\x9b.zip",
        "up\xd9\xa0\xd9\xa1\xd9\xa2.zip", "down080307.zip", "up080307.zi"})
    EXPECT_FALSE(IsPackageName(bad)) << bad;
}

TEST(PackageListing, DateFilterComparesTheNameDateAsText) {
  const base::TDateTime march7 = EncodeDate(2008, 3, 7) + EncodeTime(9, 0, 0);
  struct Case {
    const char* name;
    base::TDateTime lastUpdate;
    bool taken;
  };
  for (Case c :
       {Case{"up080307.zip", march7, false}, Case{"up080308.zip", march7, true},
        Case{"up071231.zip", march7, false}, Case{"up000101.zip", EncodeDate(2099, 6, 1), false},
        Case{"up0803.zip", march7, false},  // '.' sorts before the digits
        Case{"up0803x.zip", march7, true}, Case{"up0803", march7, false},  // a prefix sorts first
        Case{"up", march7, false}, Case{"up\xff.zip", march7, true}}) {
    EXPECT_EQ(IsNewerThan(c.name, c.lastUpdate), c.taken) << c.name;
  }
}

}  // namespace
}  // namespace krevo::app
