#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <clocale>

#include "base/Errors.h"

namespace krevo::base {
namespace {

TEST(DateTime, FormatsStampsAndPackageDates) {
  std::setlocale(LC_TIME, "C");
  TDateTime t = EncodeDate(2008, 3, 7) + EncodeTime(14, 5, 9);
  EXPECT_EQ(FormatDateTime("YYYY-MMM-DD HH:MM:SS", t), "2008-Mar-07 14:05:09");
  EXPECT_EQ(FormatDateTime("YYMMDD", t), "080307");
  EXPECT_EQ(LogStamp(EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59)), "1999-Dec-31 23:59:59");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", t), "2008/03/07 14:05");
}

TEST(DateTime, EpochIsTheLastDayOf1899) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1800, 1, 1), -36522.0);
  DateTimeParts p = DecodeDateTime(EncodeDate(2024, 2, 29) + EncodeTime(0, 0, 1));
  EXPECT_EQ(p.year, 2024);
  EXPECT_EQ(p.month, 2);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.second, 1);
}

}  // namespace
}  // namespace krevo::base
