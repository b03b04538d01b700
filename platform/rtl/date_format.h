// Date and time as text: FormatDateTime with its specifiers, the
// DateToStr/TimeToStr/DateTimeToStr shorthands, and the parsers
// StrToDate/StrToTime/StrToDateTime with their Try forms. All of them read
// the process-wide FormatSettings() (format_settings.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/rtl/date_time.h"

namespace jw {

// Specifiers (letters in any case; a run of one letter is one specifier):
//   c        short date format, then a blank and the long time format unless
//            the value is exactly midnight
//   d dd     day of month without / with a leading zero
//   ddd dddd short / long day name;  ddddd short date format;
//   dddddd   long date format
//   m mm     month without / with a leading zero; minutes instead when the
//            previous letter specifier was h or hh
//   mmm mmmm short / long month name
//   yy yyyy  two-digit / four-digit year
//   h hh     hour (12-hour clock when an am/pm specifier follows)
//   n nn     minutes;  s ss  seconds;  z zzz  milliseconds
//   t tt     short / long time format
//   am/pm a/p  the letters as written in the format, for the morning or the
//            afternoon;  ampm  TimeAMString or TimePMString
//   /        DateSeparator;  :  TimeSeparator
//   '...' "..."  literal text
// Any other character is copied. An empty format acts as "c". A format named
// by c, ddddd, dddddd, t or tt is expanded, but such a specifier inside it
// gives nothing, so a short date format of "c" cannot recurse forever.
std::string FormatDateTime(std::string_view format, TDateTime value);

std::string DateToStr(TDateTime value);      // the short date format
std::string TimeToStr(TDateTime value);      // the long time format
std::string DateTimeToStr(TDateTime value);  // "c": no time at midnight

// Parsing. Blanks may stand around each number and separator; numbers have
// one to four digits.
// Dates: two or three numbers separated by DateSeparator (only that
// character; a blank DateSeparator is any run of blanks), in the field order
// of the short date format (its first d, m or y letter decides: day-month-year,
// month-day-year or year-month-day; month-day-year when it has none). With two
// numbers the year is the current one. A year written with one or two digits
// falls in the 100-year window from 50 years before the current year to 49
// after it. Years 1 to 9999. One DateSeparator, or the text that the short
// date format writes after its last field, may end a three-number date.
// Times: hour[:min[:sec[<DecimalSeparator>fraction]]] with TimeSeparator, the
// fraction being one to three digits of a second; TimeAMString/TimePMString or
// "AM"/"PM" (any case) before or after, which asks for an hour from 1 to 12.
// Date and time: a date, then optionally a time; or a time alone (on day 0).
bool TryStrToDate(std::string_view text, TDateTime& result);
bool TryStrToTime(std::string_view text, TDateTime& result);
bool TryStrToDateTime(std::string_view text, TDateTime& result);

// Raise EConvertError "'<text>' is not a valid date" / "... is not a valid
// time" / "... is not a valid date and time".
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);

}  // namespace jw
