// EngineLocaleList: the display names of the locales a table can be given,
// each with its language id, in the order table creation and SQL list them,
// and the lookups of locale and sort-order names (without regard to case).
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

bool LocaleNameExists(std::string_view name);
// 0 when no entry has the name.
uint16_t LocaleNameToLanguageID(std::string_view name);
// "Default Order" for every language; "German Phone Book Order" for the
// five German entries of the list as well.
bool SortNameExists(uint16_t language_id, std::string_view name);
// 0 for the default order, the collation's phone-book sort id for the
// German phone-book order; 0 for a name the language does not have.
uint16_t SortNameToSortID(uint16_t language_id, std::string_view name);

}  // namespace jw
