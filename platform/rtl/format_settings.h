// The process-wide format settings that every date, time, number and
// currency conversion of the runtime reads. The engine swaps them for a
// table's locale while it parses or formats that table's values, so the
// record is a plain value that can be saved and restored whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace jw {

struct TFormatSettings {
  std::string CurrencyString;
  uint8_t CurrencyFormat = 0;  // placement of the symbol for positive amounts (0-3)
  uint8_t NegCurrFormat = 0;   // layout of negative amounts (0-15)
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  uint8_t CurrencyDecimals = 2;
  char DateSeparator = '-';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  char TimeSeparator = ':';
  std::string TimeAMString;
  std::string TimePMString;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::array<std::string, 12> ShortMonthNames;  // January first
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 7> ShortDayNames;  // Sunday first
  std::array<std::string, 7> LongDayNames;

  bool operator==(const TFormatSettings&) const = default;
};

// The fixed settings of language 0: "yyyy-mm-dd" dates, '.' decimals,
// English month and day names.
const TFormatSettings& DefaultFormatSettings();

// The settings all conversions read. Not synchronised: whoever changes them
// while other threads convert values holds the engine's language-swap lock.
TFormatSettings& FormatSettings();

}  // namespace jw
