#include "base/DateTime.h"

#include <cctype>
#include <chrono>
#include <cmath>

#include "base/Errors.h"

namespace krevo::base {
namespace {

constexpr double kMsPerDay = 86400000.0;

constexpr bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr int DaysInMonth(int y, int m) {
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian calendar).
constexpr long DaysFromCivilStart(int y, int m, int d) {
  long days = 0;
  int prev = y - 1;
  days = static_cast<long>(prev) * 365 + prev / 4 - prev / 100 + prev / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

// 1899-12-30 counted from 0001-01-01.
constexpr long kEpochOffset = DaysFromCivilStart(1899, 12, 30);

std::string MonthName(int month, bool abbreviated) {
  std::tm tm{};
  tm.tm_mon = month - 1;
  tm.tm_year = 100;
  tm.tm_mday = 1;
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, abbreviated ? "%b" : "%B", &tm);
  return std::string(buf, n);
}

std::string Pad(int value, int width) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivilStart(year, month, day) - kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      millisecond < 0 || millisecond >= 1000)
    throw EConvertError("Invalid argument to time encode");
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  // Whole milliseconds, rounded, so that 14:05:09 does not come back as 14:05:08.999.
  long long ms = std::llround(value * kMsPerDay);
  long long days = ms / 86400000LL;
  long long rest = ms % 86400000LL;
  if (rest < 0) {
    rest += 86400000LL;
    --days;
  }
  long civil = static_cast<long>(days) + kEpochOffset;  // days since 0001-01-01
  // 400-year cycles have 146097 days.
  int year = 1 + static_cast<int>(civil / 146097) * 400;
  civil %= 146097;
  while (true) {
    int len = IsLeapYear(year) ? 366 : 365;
    if (civil < len) break;
    civil -= len;
    ++year;
  }
  int month = 1;
  while (civil >= DaysInMonth(year, month)) civil -= DaysInMonth(year, month++);
  DateTimeParts p{};
  p.year = year;
  p.month = month;
  p.day = static_cast<int>(civil) + 1;
  p.hour = static_cast<int>(rest / 3600000);
  p.minute = static_cast<int>(rest / 60000 % 60);
  p.second = static_cast<int>(rest / 1000 % 60);
  p.millisecond = static_cast<int>(rest % 1000);
  return p;
}

TDateTime DateTimeFromTimeT(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec);
}

std::time_t DateTimeToTimeT(TDateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TDateTime Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return DateTimeFromTimeT(t) + static_cast<double>(ms) / kMsPerDay;
}

TDateTime DosDateTimeToDateTime(std::uint32_t dos) {
  TDateTime date = EncodeDate(1980 + static_cast<int>(dos >> 25), static_cast<int>(dos >> 21 & 15),
                              static_cast<int>(dos >> 16 & 31));
  return date + EncodeTime(static_cast<int>(dos >> 11 & 31), static_cast<int>(dos >> 5 & 63),
                           static_cast<int>(dos & 31) * 2);
}

bool TimeTToDosDateTime(std::time_t t, std::uint32_t& dos) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return false;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  dos = static_cast<std::uint32_t>(year - 1980) << 25 |
        static_cast<std::uint32_t>(tm.tm_mon + 1) << 21 |
        static_cast<std::uint32_t>(tm.tm_mday) << 16 |
        static_cast<std::uint32_t>(tm.tm_hour) << 11 | static_cast<std::uint32_t>(tm.tm_min) << 5 |
        static_cast<std::uint32_t>(sec / 2);
  return true;
}

std::string FormatDateTime(const std::string& pattern, TDateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  std::string out;
  bool afterHour = false;
  for (std::size_t i = 0; i < pattern.size();) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(pattern[i])));
    std::size_t run = 1;
    while (i + run < pattern.size() &&
           std::toupper(static_cast<unsigned char>(pattern[i + run])) == c)
      ++run;
    switch (c) {
      case 'Y':
        out += run <= 2 ? Pad(p.year % 100, 2) : Pad(p.year, 4);
        afterHour = false;
        break;
      case 'M':
        if (afterHour && run <= 2) {
          out += Pad(p.minute, static_cast<int>(run));
        } else if (run <= 2) {
          out += Pad(p.month, static_cast<int>(run));
        } else {
          out += MonthName(p.month, run == 3);
        }
        afterHour = false;
        break;
      case 'D':
        out += Pad(p.day, run >= 2 ? 2 : 1);
        afterHour = false;
        break;
      case 'H':
        out += Pad(p.hour, run >= 2 ? 2 : 1);
        afterHour = true;
        break;
      case 'N':
        out += Pad(p.minute, run >= 2 ? 2 : 1);
        afterHour = false;
        break;
      case 'S':
        out += Pad(p.second, run >= 2 ? 2 : 1);
        afterHour = false;
        break;
      default:
        out.append(pattern, i, run);
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace krevo::base
