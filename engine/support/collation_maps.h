// The process-wide cache of collation order maps: for a locale (language id
// and sort id), the 256 single-byte characters in the order the locale's
// plain string sort puts them. A map is built once per locale and kept until
// the support library shuts down.
#pragma once

#include <cstdint>

#include "engine/support/system_list.h"
#include "platform/rtl/sync.h"

namespace jw {

// Byte k is the character that sorts in place k; identity for language 0.
using TCharOrderMap = uint8_t[256];

class TLanguageCharMapsList {
 public:
  TLanguageCharMapsList();
  TLanguageCharMapsList(const TLanguageCharMapsList&) = delete;
  TLanguageCharMapsList& operator=(const TLanguageCharMapsList&) = delete;
  ~TLanguageCharMapsList();

  // The locale's map, built and added on first request. An unknown locale
  // raises engine error 15878 and adds nothing.
  void GetCharOrderMap(uint16_t language_id, uint16_t sort_id, TCharOrderMap& map);
  int32_t Count();

 private:
  TSystemList entries_;
  TCriticalSection lock_;
};

// The support library's start-up creates the cache and its shutdown frees
// it with every map; a request before start-up creates it as well.
void InitLanguageCharMaps();
void DoneLanguageCharMaps();
// Whether the cache exists now.
bool LanguageCharMapsCreated();
TLanguageCharMapsList& LanguageCharMaps();

// The map from the process-wide cache.
void GetCharOrderMap(uint16_t language_id, uint16_t sort_id, TCharOrderMap& map);

}  // namespace jw
