#include "platform/rtl/format_settings.h"

namespace jw {

namespace {

TFormatSettings MakeDefaults() {
  TFormatSettings s;
  s.CurrencyString = "";
  s.CurrencyFormat = 0;
  s.NegCurrFormat = 0;
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.CurrencyDecimals = 2;
  s.DateSeparator = '-';
  s.ShortDateFormat = "yyyy-mm-dd";
  s.LongDateFormat = "dddd, mmmm dd, yyyy";
  s.TimeSeparator = ':';
  s.TimeAMString = "AM";
  s.TimePMString = "PM";
  s.ShortTimeFormat = "hh:mm";
  s.LongTimeFormat = "hh:mm:ss";
  s.ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  s.LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                      "July",    "August",   "September", "October", "November", "December"};
  s.ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  s.LongDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  return s;
}

}  // namespace

const TFormatSettings& DefaultFormatSettings() {
  static const TFormatSettings defaults = MakeDefaults();
  return defaults;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings current = DefaultFormatSettings();
  return current;
}

}  // namespace jw
