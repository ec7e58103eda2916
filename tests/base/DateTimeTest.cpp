#include <gtest/gtest.h>

#include <clocale>

#include "base/DateTime.h"
#include "base/Errors.h"

namespace krevo::base {
namespace {

TEST(DateTime, FormatsStampsAndPackageDates) {
  std::setlocale(LC_TIME, "C");
  TDateTime t = EncodeDate(2008, 3, 7) + EncodeTime(14, 5, 9);
  EXPECT_EQ(FormatDateTime("YYYY-MMM-DD HH:MM:SS", t), "2008-Mar-07 14:05:09");
  EXPECT_EQ(FormatDateTime("YYMMDD", t), "080307");
  EXPECT_EQ(LogStamp(EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59)), "1999-Dec-31 23:59:59");
  EXPECT_EQ(LogStamp(EncodeDate(2010, 1, 2) + EncodeTime(0, 0, 0)), "2010-Jan-02 00:00:00");
  // Lower-case tokens, minutes by "nn", and characters that are not tokens.
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", t), "2008/03/07 14:05");
  EXPECT_EQ(FormatDateTime("[MMMM]", t), "[March]");
}

TEST(DateTime, EncodesDaysSinceTheLastDayOf1899) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1800, 1, 1), -36522.0);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0), 0.5);
  for (TDateTime value : {EncodeDate(2024, 2, 29) + EncodeTime(0, 0, 1), EncodeDate(1980, 1, 1),
                          EncodeDate(2107, 12, 31) + EncodeTime(23, 59, 58), EncodeDate(1, 1, 1),
                          EncodeDate(9999, 12, 31)}) {
    DateTimeParts p = DecodeDateTime(value);
    EXPECT_DOUBLE_EQ(EncodeDate(p.year, p.month, p.day) + EncodeTime(p.hour, p.minute, p.second),
                     value);
  }
}

TEST(DateTime, RejectsImpossibleDatesAndTimes) {
  struct Case {
    int y, m, d;
  };
  for (Case c : {Case{2023, 2, 29}, Case{2024, 4, 31}, Case{2024, 0, 1}, Case{2024, 13, 1},
                 Case{1900, 2, 29}, Case{0, 1, 1}}) {
    EXPECT_THROW(EncodeDate(c.y, c.m, c.d), EConvertError) << c.y << "-" << c.m << "-" << c.d;
  }
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60), EConvertError);
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>(y - 1980) << 25 | static_cast<std::uint32_t>(mo) << 21 |
         static_cast<std::uint32_t>(d) << 16 | static_cast<std::uint32_t>(h) << 11 |
         static_cast<std::uint32_t>(mi) << 5 | static_cast<std::uint32_t>(s / 2);
}

TEST(DateTime, ConvertsDosDateTimes) {
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(Dos(2008, 3, 7, 14, 5, 8)),
                   EncodeDate(2008, 3, 7) + EncodeTime(14, 5, 8));
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(Dos(1980, 1, 1, 0, 0, 0)), EncodeDate(1980, 1, 1));
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(Dos(2107, 12, 31, 23, 59, 58)),
                   EncodeDate(2107, 12, 31) + EncodeTime(23, 59, 58));

  auto message = [](std::uint32_t dos) {
    try {
      DosDateTimeToDateTime(dos);
    } catch (const EConvertError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(0), "Invalid argument to date encode");  // month 0, day 0
  EXPECT_EQ(message(Dos(2001, 2, 29, 0, 0, 0)), "Invalid argument to date encode");
  EXPECT_EQ(message(Dos(2001, 2, 28, 24, 0, 0)), "Invalid argument to time encode");
  EXPECT_EQ(message(Dos(2001, 2, 28, 0, 60, 0)), "Invalid argument to time encode");
  EXPECT_EQ(message(Dos(2001, 2, 28, 0, 0, 0) | 30), "Invalid argument to time encode");  // 60 s
  // The date is checked first.
  EXPECT_EQ(message(Dos(2001, 13, 1, 25, 0, 0)), "Invalid argument to date encode");
}

TEST(DateTime, DosDateTimesRoundTripThroughLocalTime) {
  std::uint32_t dos = 0;
  const std::time_t t = DateTimeToTimeT(EncodeDate(2015, 6, 30) + EncodeTime(22, 41, 17));
  ASSERT_TRUE(TimeTToDosDateTime(t, dos));
  EXPECT_EQ(dos, Dos(2015, 6, 30, 22, 41, 16));  // two-second resolution
  EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(dos), EncodeDate(2015, 6, 30) + EncodeTime(22, 41, 16));
  EXPECT_FALSE(TimeTToDosDateTime(DateTimeToTimeT(EncodeDate(1979, 12, 31) + 0.5), dos));
}

}  // namespace
}  // namespace krevo::base
