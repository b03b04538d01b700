#include "mail/mail_date.h"

#include <cstdlib>

#include "platform/rtl/clock.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string PadZero(int number, int width) {
  std::string text = IntToStr(number);
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), '0');
  return text;
}

int TimeZoneBias() {
  return -LocalUtcOffsetMinutes();
}

std::string TimeZoneText() {
  const int bias = TimeZoneBias();
  if (bias == 0) return "GMT";
  const int minutes = std::abs(bias);
  return std::string(bias < 0 ? "+" : "-") + PadZero(minutes / 60, 2) + PadZero(minutes % 60, 2);
}

std::string InternetDate(TDateTime local) {
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(local, year, month, day, hour, minute, second, msec);
  // The day name comes from the decoded date, which rounding may have moved
  // to the next day.
  return std::string(kDayNames[DayOfWeek(EncodeDate(year, month, day)) - 1]) + ", " +
         IntToStr(day) + " " + kMonthNames[month - 1] + " " + IntToStr(year) + " " +
         PadZero(hour, 2) + ":" + PadZero(minute, 2) + ":" + PadZero(second, 2) + " " +
         TimeZoneText();
}

}  // namespace jw
