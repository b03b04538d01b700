// A table's locale as the engine sees it: TLanguageSettings (the formats
// that date, time and number conversions read), the process-wide
// language-swap lock with the pattern that switches the format settings to
// a table's locale around a piece of work, and the comparison and case
// mapping of engine strings (byte order for language 0, ICU otherwise).
#pragma once

#include <cstdint>

#include "platform/rtl/format_settings.h"

namespace jw {

// One locale's formats: exactly the fields of the process-wide settings.
using TLanguageSettings = TFormatSettings;

// Sort id in the high 16 bits, language id in the low 16.
constexpr uint32_t MakeLcid(uint16_t language_id, uint16_t sort_id) {
  return (static_cast<uint32_t>(sort_id) << 16) | language_id;
}
// Sub-language in bits 10-15, primary language in the low 8 bits.
constexpr uint16_t MakeLangId(uint16_t primary_language, uint16_t sub_language) {
  return static_cast<uint16_t>((sub_language << 10) | (primary_language & 0xFF));
}

// US English, the locale of language-0 case mapping.
constexpr uint32_t kUsEnglishLcid = 0x0409;

// Whether a table's language and sort ids name a locale the engine can use
// (language 0 always can).
bool IsKnownLanguage(uint16_t language_id, uint16_t sort_id);

void LockLanguageSwap();
void UnlockLanguageSwap();

void SaveLanguageSettings(TLanguageSettings& settings);
void ApplyLanguageSettings(const TLanguageSettings& settings);
// The fixed settings for language 0; otherwise the locale's own values,
// each field falling back to its default where the locale has none.
void BuildLanguageSettings(uint16_t language_id, uint16_t sort_id, TLanguageSettings& settings);

// The swap pattern: holds the language-swap lock and the table's settings
// for its lifetime, then restores the saved settings and leaves the lock,
// also when the work inside throws.
class TLanguageSwap {
 public:
  TLanguageSwap(uint16_t language_id, uint16_t sort_id);
  ~TLanguageSwap();
  TLanguageSwap(const TLanguageSwap&) = delete;
  TLanguageSwap& operator=(const TLanguageSwap&) = delete;

 private:
  // The settings before, kept only when the table's differed from them.
  TLanguageSettings saved_;
  bool swapped_ = false;
};

// -1, 0 or 1. A length of 0 compares the whole zero-terminated strings;
// any other length compares at most that many bytes, each string ending at
// its first zero within them. Neither string is changed. A language the
// locale table does not know raises engine error 15878.
int32_t CompareLocaleStrings(uint16_t language_id, uint16_t sort_id, const char* s1,
                             bool case_insensitive, int32_t length, const char* s2);
// One character each, case-sensitive: the LIKE matcher's comparison.
int32_t CompareCharByLanguage(uint16_t language_id, uint16_t sort_id, char c1, char c2);
// SQL LIKE of s against pattern with the characters compared by
// CompareCharByLanguage: bytes for language 0, otherwise the locale with
// accents ignored and case respected.
bool LikeMatch(uint16_t language_id, uint16_t sort_id, const char* s, const char* pattern);
// One character each under the plain string sort of the LCID.
int32_t CompareCharStringSort(uint32_t lcid, char c1, char c2);

// A collation-map sort entry: one character, then the LCID (unaligned).
constexpr int32_t kMapEntrySize = 5;
// Compares two map entries by their characters under the first entry's LCID.
int CompareMapEntries(void* entry1, void* entry2);

// Unsigned bytewise over n bytes; 1 when p1 is nullptr. Signs reversed when
// descending.
int32_t CompareBinary(const void* p1, const void* p2, uint16_t n, bool descending);

// Case-mapped copies of a zero-terminated string; the destination holds at
// least the source's length + 1 bytes and may be the source itself.
void UpperLocale(uint16_t language_id, uint16_t sort_id, const char* source, char* destination);
void LowerLocale(uint16_t language_id, uint16_t sort_id, const char* source, char* destination);

}  // namespace jw
