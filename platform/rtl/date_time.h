// TDateTime (days since 1899-12-30 as a double, the fraction being the time
// of day) and the calendar arithmetic on it: encoding and decoding, the day
// of the week, time stamps (day 1 = 1 January of year 1, milliseconds of the
// day), and the current date and time, read through the clock (clock.h).
#pragma once

#include <cstdint>

namespace jw {

// Negative values: the whole part counts days back from 1899-12-30 and the
// fraction counts forward into that day, so -1.25 is 1899-12-29 06:00 (and
// -0.25 is 1899-12-30 06:00, as is 0.25).
using TDateTime = double;

constexpr int32_t kHoursPerDay = 24;
constexpr int32_t kMinsPerDay = kHoursPerDay * 60;
constexpr int32_t kSecsPerDay = kMinsPerDay * 60;
constexpr int32_t kMSecsPerDay = kSecsPerDay * 1000;

// Day number of 1899-12-30 (TDateTime 0) in time-stamp counting, where
// 1 January of year 1 is day 1. Stored engine dates use this counting.
constexpr int32_t kDateDelta = 693594;

// Dates run from 1 January of year 1 to 31 December 9999.
constexpr int32_t kMaxDateDay = 3652059;  // time-stamp day of 9999-12-31

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight, 0 .. 86399999
  int32_t Date = 0;  // days, 1 = 1 January of year 1

  bool operator==(const TTimeStamp&) const = default;
};

bool IsLeapYear(int year);
// Days of a month (1-12) of a year; 0 for a month outside 1-12.
int DaysInMonth(int year, int month);

// Years 1-9999, months 1-12, days within the month; false otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// Raises EConvertError "Invalid argument to date encode".
TDateTime EncodeDate(int year, int month, int day);
// Hours 0-23, minutes and seconds 0-59, milliseconds 0-999; false otherwise.
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
// Raises EConvertError "Invalid argument to time encode".
TDateTime EncodeTime(int hour, int min, int sec, int msec);

// Decoding rounds to the nearest millisecond; a value that rounds up to
// midnight decodes as 00:00:00.000 of the next day, never as 24:00 or with
// 1000 milliseconds. A value outside years 1-9999 (or not a number) raises
// EConvertError "Invalid argument to date decode".
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// Raises EConvertError "Invalid argument to date decode" as DecodeDate does.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// Raises EConvertError "'<date>.<time>' is not a valid timestamp" for a day
// outside 1 .. kMaxDateDay or a time outside 0 .. kMSecsPerDay - 1.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
// Milliseconds since the start of 1 January of year 1 as counted by the
// engine's timestamp fields: Date * kMSecsPerDay + Time. MSecsToTimeStamp
// raises EConvertError "'<msecs>' is not a valid timestamp" for a value that
// gives no valid time stamp.
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

// The local date and time, today at midnight, and the time of day alone,
// all read from the installed clock.
TDateTime Now();
TDateTime Date();
TDateTime Time();

}  // namespace jw
