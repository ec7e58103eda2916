// Unix-style listing lines as four real servers sent them for the same folder
// (pyftpdlib 1.5.7, vsftpd 3.0.3, proftpd 1.3.8, pure-ftpd 1.0.50), and the
// lines that are not such lines.
#include <gtest/gtest.h>

#include "ftp/NetListingLine.h"

namespace krevo::ftp {
namespace {

struct ListingCase {
  const char* server;
  const char* line;
  char type;
  std::uint64_t size;
  const char* name;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
  *os << c.server << ": " << c.line;
}

class UnixListingLine : public testing::TestWithParam<ListingCase> {};

TEST_P(UnixListingLine, GivesTheNameAndSize) {
  const ListingCase& c = GetParam();
  const auto entry = ParseUnixListingLine(c.line);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->Type, c.type);
  EXPECT_EQ(entry->Size, c.size);
  EXPECT_EQ(entry->Name, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    RealServers, UnixListingLine,
    testing::Values(
        ListingCase{"pyftpdlib",
                    "-rw-r--r--   1 root     root           92 Dec 25  2024 up260101.zip", '-', 92,
                    "up260101.zip"},
        ListingCase{"pyftpdlib",
                    "-rw-r--r--   1 4242     4343      1234567 Dec 09 03:30 up260115.zip", '-',
                    1234567, "up260115.zip"},
        ListingCase{"pyftpdlib",
                    "-rw-r--r--   1 root     root     3000000000 Dec 09 03:30 up260201.zip", '-',
                    3000000000u, "up260201.zip"},
        ListingCase{"vsftpd",
                    "-rw-r--r--    1 0        0              77 Jun 01  2025 up250601.zip", '-', 77,
                    "up250601.zip"},
        ListingCase{"vsftpd",
                    "-rw-r--r--    1 0        0        3000000000 Dec 09 03:30 up260201.zip", '-',
                    3000000000u, "up260201.zip"},
        ListingCase{
            "vsftpd",
            "-rw-r--r--    1 0        0              10 Dec 09 03:30 up260301 with spaces.zip", '-',
            10, "up260301 with spaces.zip"},
        ListingCase{"proftpd",
                    "-rw-r--r--   1 root     root           77 Jun  1  2025 up250601.zip", '-', 77,
                    "up250601.zip"},
        ListingCase{"proftpd",
                    "-rw-r--r--   1 4242     4343      1234567 Dec  9 03:30 up260115.zip", '-',
                    1234567, "up260115.zip"},
        ListingCase{"pure-ftpd",
                    "-rw-r--r--    1 0          0                  92 Dec 25  2024 up260101.zip",
                    '-', 92, "up260101.zip"},
        ListingCase{"pure-ftpd",
                    "-rw-r--r--    1 0          0                  10 Dec  9 03:30 up260301 with "
                    "spaces.zip",
                    '-', 10, "up260301 with spaces.zip"},
        // Variants: no group column, a trailing CR, leading blanks of a name,
        // a folder, a link, an ACL mark, the largest size.
        ListingCase{"no group", "-rw-r--r--   1 ftp        92 Dec  9 00:47 up260101.zip", '-', 92,
                    "up260101.zip"},
        ListingCase{"CR LF", "-rw-r--r-- 1 0 0 92 Dec 9 00:47 up260101.zip\r", '-', 92,
                    "up260101.zip"},
        ListingCase{"blank name", "-rw-r--r-- 1 0 0 92 Dec 9 00:47   two blanks", '-', 92,
                    "  two blanks"},
        ListingCase{"folder", "drwxr-xr-x   2 root     root         4096 Dec  9 03:30 updates", 'd',
                    4096, "updates"},
        ListingCase{"link", "lrwxrwxrwx 1 0 0 12 Jan 31 23:59 up260101.zip -> ../x.zip", 'l', 12,
                    "up260101.zip -> ../x.zip"},
        ListingCase{"ACL", "-rw-r-----+ 1 a b 5 jan 1 2026 up260101.zip", '-', 5, "up260101.zip"},
        ListingCase{"64 bits", "-rw-r--r-- 1 a b 18446744073709551615 Dec 9 00:47 big.zip", '-',
                    18446744073709551615u, "big.zip"}));

TEST(UnixListingLine, IsNothingForOtherLines) {
  const char* lines[] = {
      "12-09-26  03:30AM                   92 up260101.zip",  // MS-DOS style
      "12-09-26  03:30AM       <DIR>          updates",
      "total 1232",
      "",
      "-rw-r--r-- 1 0 0 92 Dec 9 00:47",                          // no name
      "-rw-r--r-- 1 0 0 92 Dec 9 00:47 ",                         // an empty name
      "-rw-r--r-- 1 0 0 18446744073709551616 Dec 9 00:47 a.zip",  // past 64 bits
      "-rw-r--r-- 1 0 0 -92 Dec 9 00:47 a.zip",
      "-rw-r--r-- 1 0 0 92 Foo 9 00:47 a.zip",
      "-rw-r--r-- 1 0 0 92 Dec 32 00:47 a.zip",
      "-rw-r--r-- 1 0 0 92 Dec 9 24:00 a.zip",
      "-rw-r--r-- 1 0 0 92 Dec 9 202 a.zip",
      "-rwxrwxrwq 1 0 0 92 Dec 9 00:47 a.zip",
      "xrw-r--r-- 1 0 0 92 Dec 9 00:47 a.zip",
      "-rw-r--r-- one 0 0 92 Dec 9 00:47 a.zip",
      "-rw-r--r-- 1 0 0 92 Dec",
  };
  for (const char* line : lines) EXPECT_FALSE(ParseUnixListingLine(line).has_value()) << line;
}

}  // namespace
}  // namespace krevo::ftp
