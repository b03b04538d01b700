#include "engine/support/language_settings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"
#include "engine/support/engine_strings.h"
#include "platform/os/code_pages.h"
#include "platform/os/collation.h"
#include "platform/os/locale_data.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

TCriticalSection& LanguageSwapLock() {
  static TCriticalSection lock;
  return lock;
}

// The locale's item, or the default when the locale has none.
std::string ItemOr(uint32_t lcid, TLocaleItem item, int index, const std::string& fallback) {
  std::string value;
  return GetLocaleInfoA(lcid, item, index, value) ? value : fallback;
}

char CharItemOr(uint32_t lcid, TLocaleItem item, char fallback) {
  std::string value;
  return GetLocaleInfoA(lcid, item, value) && !value.empty() ? value[0] : fallback;
}

uint8_t NumberItemOr(uint32_t lcid, TLocaleItem item, uint8_t fallback) {
  std::string value;
  int32_t number = 0;
  if (!GetLocaleInfoA(lcid, item, value) || !TryStrToInt(value, number)) return fallback;
  return static_cast<uint8_t>(number);
}

int32_t FromCompareResult(int result) {
  if (result == 0) RaiseEngineError(kErrLanguageDriver, std::string());
  return result - CSTR_EQUAL;
}

// The case-mapped copy through a heap buffer, so that the destination may
// be the source itself.
void MapCase(uint16_t language_id, uint16_t sort_id, uint32_t flags, const char* source,
             char* destination) {
  const uint32_t lcid = language_id == 0 ? kUsEnglishLcid : MakeLcid(language_id, sort_id);
  const int32_t size = static_cast<int32_t>(std::strlen(source)) + 1;
  char* buffer = static_cast<char*>(EngineAlloc(size));
  const int written = LCMapStringA(lcid, flags, source, -1, buffer, size);
  if (written == 0) {
    EngineFree(buffer);
    RaiseEngineError(kErrLanguageDriver, std::string());
  }
  std::memcpy(destination, buffer, static_cast<size_t>(size));
  EngineFree(buffer);
}

}  // namespace

bool IsKnownLanguage(uint16_t language_id, uint16_t sort_id) {
  return language_id == 0 || IsValidLocale(MakeLcid(language_id, sort_id));
}

void LockLanguageSwap() {
  LanguageSwapLock().Enter();
}
void UnlockLanguageSwap() {
  LanguageSwapLock().Leave();
}

void SaveLanguageSettings(TLanguageSettings& settings) {
  settings = FormatSettings();
}
void ApplyLanguageSettings(const TLanguageSettings& settings) {
  FormatSettings() = settings;
}

void BuildLanguageSettings(uint16_t language_id, uint16_t sort_id, TLanguageSettings& settings) {
  const TLanguageSettings& english = DefaultFormatSettings();
  if (language_id == 0) {
    settings = english;
    return;
  }
  const uint32_t lcid = MakeLcid(language_id, sort_id);
  settings.CurrencyString = ItemOr(lcid, TLocaleItem::CurrencySymbol, 0, "$");
  settings.CurrencyFormat = NumberItemOr(lcid, TLocaleItem::CurrencyFormat, 0);
  settings.NegCurrFormat = NumberItemOr(lcid, TLocaleItem::NegativeCurrencyFormat, 0);
  settings.ThousandSeparator = CharItemOr(lcid, TLocaleItem::ThousandSeparator, ',');
  settings.DecimalSeparator = CharItemOr(lcid, TLocaleItem::DecimalSeparator, '.');
  settings.CurrencyDecimals = NumberItemOr(lcid, TLocaleItem::CurrencyDigits, 2);
  settings.DateSeparator = CharItemOr(lcid, TLocaleItem::DateSeparator, '/');
  settings.ShortDateFormat = ItemOr(lcid, TLocaleItem::ShortDateFormat, 0, "M/d/yyyy");
  settings.LongDateFormat = ItemOr(lcid, TLocaleItem::LongDateFormat, 0, "dddd, MMMM dd, yyyy");
  settings.TimeSeparator = CharItemOr(lcid, TLocaleItem::TimeSeparator, ':');
  settings.TimeAMString = ItemOr(lcid, TLocaleItem::AmSymbol, 0, "AM");
  settings.TimePMString = ItemOr(lcid, TLocaleItem::PmSymbol, 0, "PM");
  for (int i = 0; i < 12; ++i) {
    settings.ShortMonthNames[i] =
        ItemOr(lcid, TLocaleItem::AbbrevMonthName, i + 1, english.ShortMonthNames[i]);
    settings.LongMonthNames[i] =
        ItemOr(lcid, TLocaleItem::MonthName, i + 1, english.LongMonthNames[i]);
  }
  // The locale counts its days from Monday (1) to Sunday (7); the record
  // from Sunday.
  for (int i = 0; i < 7; ++i) {
    const int item_index = i == 0 ? 7 : i;
    settings.ShortDayNames[i] =
        ItemOr(lcid, TLocaleItem::AbbrevDayName, item_index, english.ShortDayNames[i]);
    settings.LongDayNames[i] =
        ItemOr(lcid, TLocaleItem::DayName, item_index, english.LongDayNames[i]);
  }
  const std::string hour = NumberItemOr(lcid, TLocaleItem::HourLeadingZero, 0) != 0 ? "hh" : "h";
  const std::string suffix = NumberItemOr(lcid, TLocaleItem::Clock24, 0) != 0 ? "" : " AMPM";
  settings.ShortTimeFormat = hour + ":mm" + suffix;
  settings.LongTimeFormat = hour + ":mm:ss" + suffix;
}

namespace {

// The settings of the language last swapped to, built once: a locale's
// formats do not change while the process runs, and a statement swaps to
// its session's language on every run. Read and built under the
// language-swap lock.
const TLanguageSettings& SwapTargetSettings(uint16_t language_id, uint16_t sort_id) {
  static TLanguageSettings settings;
  static uint32_t lcid = 0;
  static bool built = false;
  const uint32_t wanted = MakeLcid(language_id, sort_id);
  if (!built || lcid != wanted) {
    built = false;
    BuildLanguageSettings(language_id, sort_id, settings);
    lcid = wanted;
    built = true;
  }
  return settings;
}

}  // namespace

TLanguageSwap::TLanguageSwap(uint16_t language_id, uint16_t sort_id) {
  LockLanguageSwap();
  try {
    const TLanguageSettings& table_settings = SwapTargetSettings(language_id, sort_id);
    // Settings that hold the table's formats already stay as they are.
    swapped_ = !(FormatSettings() == table_settings);
    if (swapped_) {
      saved_ = std::move(FormatSettings());
      ApplyLanguageSettings(table_settings);
    }
  } catch (...) {
    if (swapped_) FormatSettings() = std::move(saved_);
    UnlockLanguageSwap();
    throw;
  }
}

TLanguageSwap::~TLanguageSwap() {
  if (swapped_) FormatSettings() = std::move(saved_);
  UnlockLanguageSwap();
}

int32_t CompareLocaleStrings(uint16_t language_id, uint16_t sort_id, const char* s1,
                             bool case_insensitive, int32_t length, const char* s2) {
  if (language_id != 0) {
    uint32_t flags = SORT_STRINGSORT | NORM_IGNORENONSPACE;
    if (case_insensitive) flags |= NORM_IGNORECASE;
    const int32_t n = length <= 0 ? -1 : length;
    return FromCompareResult(CompareStringA(MakeLcid(language_id, sort_id), flags, s1, n, s2, n));
  }
  const size_t limit = length <= 0 ? SIZE_MAX : static_cast<size_t>(length);
  const size_t length1 = strnlen(s1, limit);
  const size_t length2 = strnlen(s2, limit);
  // Each string takes part with its terminating zero (when it lies within
  // the limit), so a prefix sorts before the longer string.
  const size_t count = std::min(std::max(length1, length2) + 1, limit);
  const auto& upper = CodePage(kWesternCodePage).UpperTable();
  for (size_t i = 0; i < count; ++i) {
    uint8_t c1 = i < length1 ? static_cast<uint8_t>(s1[i]) : 0;
    uint8_t c2 = i < length2 ? static_cast<uint8_t>(s2[i]) : 0;
    if (case_insensitive) {
      c1 = upper[c1];
      c2 = upper[c2];
    }
    if (c1 != c2) return c1 < c2 ? -1 : 1;
    if (c1 == 0) return 0;
  }
  return 0;
}

int32_t CompareCharByLanguage(uint16_t language_id, uint16_t sort_id, char c1, char c2) {
  if (language_id == 0) return CompareBinary(&c1, &c2, 1, false);
  return FromCompareResult(CompareStringA(MakeLcid(language_id, sort_id),
                                          SORT_STRINGSORT | NORM_IGNORENONSPACE, &c1, 1, &c2, 1));
}

bool LikeMatch(uint16_t language_id, uint16_t sort_id, const char* s, const char* pattern) {
  return LikeMatch(s, pattern, [language_id, sort_id](char p, char c) {
    return CompareCharByLanguage(language_id, sort_id, p, c) == 0;
  });
}

int32_t CompareCharStringSort(uint32_t lcid, char c1, char c2) {
  if ((lcid & 0xFFFF) == 0) return CompareBinary(&c1, &c2, 1, false);
  return FromCompareResult(CompareStringA(lcid, SORT_STRINGSORT, &c1, 1, &c2, 1));
}

int CompareMapEntries(void* entry1, void* entry2) {
  const auto* e1 = static_cast<const char*>(entry1);
  const auto* e2 = static_cast<const char*>(entry2);
  uint32_t lcid = 0;
  std::memcpy(&lcid, e1 + 1, sizeof(lcid));
  return CompareCharStringSort(lcid, e1[0], e2[0]);
}

int32_t CompareBinary(const void* p1, const void* p2, uint16_t n, bool descending) {
  if (p1 == nullptr) return 1;
  const int result = std::memcmp(p1, p2, n);
  if (result == 0) return 0;
  const int32_t sign = result < 0 ? -1 : 1;
  return descending ? -sign : sign;
}

void UpperLocale(uint16_t language_id, uint16_t sort_id, const char* source, char* destination) {
  MapCase(language_id, sort_id, LCMAP_UPPERCASE, source, destination);
}

void LowerLocale(uint16_t language_id, uint16_t sort_id, const char* source, char* destination) {
  MapCase(language_id, sort_id, LCMAP_LOWERCASE, source, destination);
}

}  // namespace jw
