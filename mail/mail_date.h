// The RFC 822 date of a mail header ("Tue, 2 Jul 2002 09:05:07 +1000") and
// the local time zone's offset it ends with, read from the installed clock.
#pragma once

#include <string>

#include "platform/rtl/date_time.h"

namespace jw {

// The number in decimal with "0" in front until it is at least width long.
std::string PadZero(int number, int width);

// Minutes to add to local time to get UTC (positive west of Greenwich), in
// effect now, daylight saving included.
int TimeZoneBias();

// "GMT" for a zero bias, else "+hhmm" east or "-hhmm" west of Greenwich.
std::string TimeZoneText();

// A local date and time as day name, day, month name, year, hh:mm:ss and
// TimeZoneText; the names are English whatever the locale.
std::string InternetDate(TDateTime local);

}  // namespace jw
