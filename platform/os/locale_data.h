// The locales the engine knows: a fixed table of language ids (with their
// sort variants), each with its ICU locale and its ANSI code page, and the
// locale items (separators, formats, names) read from ICU's locale data and
// converted to the locale's code page. A locale identifier (LCID) holds the
// sort id in bits 16-19 and the language id in the low 16 bits.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace jw {

struct TLocaleEntry {
  uint16_t LanguageId;
  uint16_t SortId;
  const char* IcuLocale;    // language, script and region
  const char* IcuSortName;  // ICU collation keyword value, or nullptr for the standard one
  uint16_t CodePage;
};

// Every entry of the table, in ascending LCID order.
std::span<const TLocaleEntry> LocaleEntries();

// The table entry of the LCID, or nullptr.
const TLocaleEntry* FindLocale(uint32_t lcid);

// Membership of the table. LCID 0 (no locale) is not a member: its rules are
// the engine's own and need no locale data.
bool IsValidLocale(uint32_t lcid);

// The sort variants of the table.
constexpr uint16_t kSortGermanPhoneBook = 1;

enum class TLocaleItem {
  CurrencySymbol,          // text
  CurrencyFormat,          // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  NegativeCurrencyFormat,  // 0-15, see locale_data.cpp
  ThousandSeparator,
  DecimalSeparator,
  CurrencyDigits,  // digits after the decimal separator of amounts
  DateSeparator,
  ShortDateFormat,  // in FormatDateTime's letters
  LongDateFormat,
  TimeSeparator,
  HourLeadingZero,  // "1" when hours are written with two digits, else "0"
  Clock24,          // "1" for a 24-hour clock, "0" for AM/PM
  AmSymbol,
  PmSymbol,
  DayName,  // index 1 Monday .. 7 Sunday
  AbbrevDayName,
  MonthName,  // index 1 January .. 12 December
  AbbrevMonthName,
};

// The item of the locale in its code page, numbers as decimal text; false
// (value empty) for an LCID outside the table, an index out of range, or a
// text that the code page cannot hold.
bool GetLocaleInfoA(uint32_t lcid, TLocaleItem item, int index, std::string& value);
inline bool GetLocaleInfoA(uint32_t lcid, TLocaleItem item, std::string& value) {
  return GetLocaleInfoA(lcid, item, 0, value);
}

}  // namespace jw
