#include "platform/rtl/date_time.h"

#include <cmath>

#include "platform/rtl/clock.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr int kDaysPer400Years = 146097;
constexpr int kDaysPer100Years = 36524;
constexpr int kDaysPer4Years = 1461;

// Days before the first of each month in a common year.
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Time-stamp day of a valid date (1 January of year 1 is day 1).
int32_t DayNumber(int year, int month, int day) {
  const int y = year - 1;
  int days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysBeforeMonth[month - 1] + day;
  if (month > 2 && IsLeapYear(year)) ++days;
  return days;
}

// Inverse of DayNumber for a day in 1 .. kMaxDateDay.
void SplitDayNumber(int32_t day_number, int& year, int& month, int& day) {
  int d = day_number - 1;
  const int cycles400 = d / kDaysPer400Years;
  d %= kDaysPer400Years;
  // The last day of a 400-year cycle ends a fourth century (and a fourth
  // leap-year group): its index would otherwise overflow into a fifth.
  int centuries = d / kDaysPer100Years;
  if (centuries == 4) centuries = 3;
  d -= centuries * kDaysPer100Years;
  const int groups4 = d / kDaysPer4Years;
  d %= kDaysPer4Years;
  int years = d / 365;
  if (years == 4) years = 3;
  d -= years * 365;
  year = cycles400 * 400 + centuries * 100 + groups4 * 4 + years + 1;
  month = 1;
  int length;
  while (d >= (length = DaysInMonth(year, month))) {
    d -= length;
    ++month;
  }
  day = d + 1;
}

[[noreturn]] void RaiseDateDecode() {
  throw EConvertError("Invalid argument to date decode");
}

[[noreturn]] void RaiseInvalidTimeStamp(const TTimeStamp& stamp) {
  throw EConvertError("'" + IntToStr(stamp.Date) + "." + IntToStr(stamp.Time) +
                      "' is not a valid timestamp");
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kLengths[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  result = DayNumber(year, month, day) - kDateDelta;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000) {
    return false;
  }
  result = (((hour * 60 + min) * 60 + sec) * 1000 + msec) / static_cast<double>(kMSecsPerDay);
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime result;
  if (!TryEncodeTime(hour, min, sec, msec, result)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  if (!std::isfinite(value)) RaiseDateDecode();
  const double whole = std::trunc(value);
  // Checked as a double first: a huge value must not reach an integer cast.
  if (whole + kDateDelta < 1 || whole + kDateDelta > kMaxDateDay) RaiseDateDecode();
  TTimeStamp stamp;
  stamp.Date = static_cast<int32_t>(whole) + kDateDelta;
  // The fraction counts forward into the day also for negative values.
  const auto ms = static_cast<int32_t>(std::lround(std::fabs(value - whole) * kMSecsPerDay));
  stamp.Time = ms;
  if (ms >= kMSecsPerDay) {
    // Rounded up to the next midnight.
    stamp.Time = 0;
    if (++stamp.Date > kMaxDateDay) RaiseDateDecode();
  }
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  if (stamp.Date < 1 || stamp.Date > kMaxDateDay || stamp.Time < 0 || stamp.Time >= kMSecsPerDay) {
    RaiseInvalidTimeStamp(stamp);
  }
  const double days = stamp.Date - kDateDelta;
  const double fraction = stamp.Time / static_cast<double>(kMSecsPerDay);
  return days < 0 ? days - fraction : days + fraction;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * kMSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  // Day 0 is let through (a cleared timestamp field holds 0); converting it
  // on to a TDateTime raises.
  if (!std::isfinite(msecs) || msecs < 0 ||
      msecs >= (static_cast<double>(kMaxDateDay) + 1) * kMSecsPerDay) {
    throw EConvertError("'" + FloatToStr(msecs) + "' is not a valid timestamp");
  }
  const double days = std::floor(msecs / kMSecsPerDay);
  TTimeStamp stamp;
  stamp.Date = static_cast<int32_t>(days);
  stamp.Time = static_cast<int32_t>(std::floor(msecs - days * kMSecsPerDay));
  return stamp;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
  const TTimeStamp stamp = DateTimeToTimeStamp(value);
  SplitDayNumber(stamp.Date, year, month, day);
  int32_t ms = stamp.Time;
  msec = ms % 1000;
  ms /= 1000;
  sec = ms % 60;
  ms /= 60;
  min = ms % 60;
  hour = ms / 60;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  SplitDayNumber(DateTimeToTimeStamp(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  int year, month, day;
  DecodeDateTime(value, year, month, day, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) {
  // Day 1 (1 January of year 1) was a Monday.
  return DateTimeToTimeStamp(value).Date % 7 + 1;
}

TDateTime Now() {
  return Clock().LocalNow();
}

TDateTime Date() {
  return TimeStampToDateTime({0, DateTimeToTimeStamp(Now()).Date});
}

TDateTime Time() {
  return DateTimeToTimeStamp(Now()).Time / static_cast<double>(kMSecsPerDay);
}

}  // namespace jw
