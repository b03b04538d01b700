// EngineLocaleList: the display names of the locales a table can be given,
// each with its language id, in the order table creation and SQL list them,
// and the lookups of those names and of each language's sort-order names.
// "ANSI Standard" (0) is the engine's own byte order and fixed formats.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace jw {

struct TEngineLocale {
  const char* Name;
  uint16_t LanguageId;
};

std::span<const TEngineLocale> EngineLocaleList();

// The language id of the entry with that display name (compared without
// regard to case); false when the list has no such entry.
bool LocaleNameToLanguageID(std::string_view name, uint16_t& language_id);

// Every language sorts in "Default Order" (sort id 0); the German languages
// also in "German Phone Book Order", whose sort id is the locale table's
// phone-book variant, so the two orders stay apart.
bool SortNameExists(uint16_t language_id, std::string_view name);
// The sort id of one of the language's sort-order names; 0 for any other.
uint16_t SortNameToSortID(uint16_t language_id, std::string_view name);

}  // namespace jw
