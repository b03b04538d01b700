#include "engine/support/collation_maps.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"
#include "engine/support/language_settings.h"

namespace jw {
namespace {

// Cache entry: language id (16-bit), sort id (16-bit), the 256-byte map.
constexpr int32_t kEntryLanguage = 0;
constexpr int32_t kEntrySort = 2;
constexpr int32_t kEntryMap = 4;
constexpr int32_t kEntrySize = 260;

std::mutex cache_lock;
std::unique_ptr<TLanguageCharMapsList> cache;

// The sort entries of one map, in one heap block, freed on every path.
class MapEntries {
 public:
  MapEntries() : block_(static_cast<uint8_t*>(EngineAlloc(256 * kMapEntrySize))) {}
  ~MapEntries() { EngineFree(block_); }
  uint8_t* Entry(int32_t c) const { return block_ + c * kMapEntrySize; }

 private:
  uint8_t* block_;
};

void BuildMap(uint16_t language_id, uint16_t sort_id, uint8_t* map) {
  if (language_id == 0) {
    for (int32_t c = 0; c < 256; ++c) map[c] = static_cast<uint8_t>(c);
    return;
  }
  if (!IsKnownLanguage(language_id, sort_id)) RaiseEngineError(kErrLanguageDriver, std::string());
  const uint32_t lcid = MakeLcid(language_id, sort_id);
  const MapEntries entries;
  TSystemList order;
  order.SetCapacity(256);
  for (int32_t c = 0; c < 256; ++c) {
    uint8_t* entry = entries.Entry(c);
    entry[0] = static_cast<uint8_t>(c);
    std::memcpy(entry + 1, &lcid, sizeof(lcid));
    order.Add(entry);
  }
  order.Sort(&CompareMapEntries);
  for (int32_t k = 0; k < 256; ++k) map[k] = *static_cast<const uint8_t*>(order.Get(k));
}

}  // namespace

TLanguageCharMapsList::TLanguageCharMapsList() {
  entries_.SetCapacity(255);
}

TLanguageCharMapsList::~TLanguageCharMapsList() {
  for (int32_t i = 0; i < entries_.Count(); ++i) {
    void* entry = entries_.Get(i);
    EngineFree(entry);
  }
}

void TLanguageCharMapsList::GetCharOrderMap(uint16_t language_id, uint16_t sort_id,
                                            TCharOrderMap& map) {
  // Held while a missing map is built, so no map is ever built twice.
  TCriticalSectionGuard guard(lock_);
  for (int32_t i = 0; i < entries_.Count(); ++i) {
    const auto* entry = static_cast<const uint8_t*>(entries_.Get(i));
    uint16_t language = 0;
    uint16_t sort = 0;
    std::memcpy(&language, entry + kEntryLanguage, sizeof(language));
    std::memcpy(&sort, entry + kEntrySort, sizeof(sort));
    if (language == language_id && sort == sort_id) {
      std::memcpy(map, entry + kEntryMap, 256);
      return;
    }
  }
  auto* entry = static_cast<uint8_t*>(EngineAlloc(kEntrySize));
  try {
    std::memcpy(entry + kEntryLanguage, &language_id, sizeof(language_id));
    std::memcpy(entry + kEntrySort, &sort_id, sizeof(sort_id));
    BuildMap(language_id, sort_id, entry + kEntryMap);
    entries_.Add(entry);
  } catch (...) {
    EngineFree(entry);
    throw;
  }
  std::memcpy(map, entry + kEntryMap, 256);
}

int32_t TLanguageCharMapsList::Count() {
  TCriticalSectionGuard guard(lock_);
  return entries_.Count();
}

void InitLanguageCharMaps() {
  LanguageCharMaps();
}

void DoneLanguageCharMaps() {
  const std::lock_guard<std::mutex> guard(cache_lock);
  cache.reset();
}

bool LanguageCharMapsCreated() {
  const std::lock_guard<std::mutex> guard(cache_lock);
  return cache != nullptr;
}

TLanguageCharMapsList& LanguageCharMaps() {
  const std::lock_guard<std::mutex> guard(cache_lock);
  if (!cache) cache = std::make_unique<TLanguageCharMapsList>();
  return *cache;
}

void GetCharOrderMap(uint16_t language_id, uint16_t sort_id, TCharOrderMap& map) {
  LanguageCharMaps().GetCharOrderMap(language_id, sort_id, map);
}

}  // namespace jw
