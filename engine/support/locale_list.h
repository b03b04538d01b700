// EngineLocaleList: the display names of the locales a table can be given,
// each with its language id, in the order table creation and SQL list them.
// "ANSI Standard" (0) is the engine's own byte order and fixed formats.
#pragma once

#include <cstdint>
#include <span>

namespace jw {

struct TEngineLocale {
  const char* Name;
  uint16_t LanguageId;
};

std::span<const TEngineLocale> EngineLocaleList();

}  // namespace jw
