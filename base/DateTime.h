#pragma once
// Date-time values: days since 1899-12-30 as a double, the time of day as the
// fraction. DOS date-times pack a local date and time into 32 bits: year - 1980
// in bits 25-31, month 21-24, day 16-20, hours 11-15, minutes 5-10, seconds / 2
// in bits 0-4.
#include <cstdint>
#include <ctime>
#include <string>

namespace krevo::base {

using TDateTime = double;

// Throws EConvertError "Invalid argument to date encode" unless the date is a
// real calendar date in the years 1..9999.
TDateTime EncodeDate(int year, int month, int day);
// Throws EConvertError "Invalid argument to time encode" unless hour < 24,
// minute < 60, second < 60 and millisecond < 1000.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);

struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
// Splits a date-time (on or after 0001-01-01) into its calendar parts.
DateTimeParts DecodeDateTime(TDateTime value);

// The current local date and time.
TDateTime Now();

// Local date-time of a time_t, and back (local time, whole seconds).
TDateTime DateTimeFromTimeT(std::time_t t);
std::time_t DateTimeToTimeT(TDateTime value);

// Converts a DOS date-time. Throws EConvertError "Invalid argument to date
// encode" for an impossible date (month 0, day 31 in April, ...) and then
// "Invalid argument to time encode" for an impossible time (hour 24, seconds 60).
TDateTime DosDateTimeToDateTime(std::uint32_t dos);

// Packs a local time_t as a DOS date-time; false when the year lies outside
// 1980..2107, which the format cannot hold.
bool TimeTToDosDateTime(std::time_t t, std::uint32_t& dos);

// Formats `value` by a pattern. Letters are tokens, case-insensitive: "YYYY"
// four-digit year, "YY" two-digit year; "M" and "MM" month (minutes when the
// previous token was an hour), "MMM" the locale's abbreviated month name, "MMMM"
// its full name; "D"/"DD" day; "H"/"HH" hour 0-23; "N"/"NN" minutes; "S"/"SS"
// seconds. Every other character is copied.
std::string FormatDateTime(const std::string& pattern, TDateTime value);

// The stamp of the update log: "YYYY-MMM-DD HH:MM:SS".
inline std::string LogStamp(TDateTime value) {
  return FormatDateTime("YYYY-MMM-DD HH:MM:SS", value);
}

}  // namespace krevo::base
