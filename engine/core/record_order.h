// The orders of the core's caches and sorts: cache objects (records, index
// pages, BLOB blocks) ordered by their number in their file, and records
// ordered by the sort keys they carry.
#pragma once

#include <concepts>
#include <cstdint>

#include "engine/core/key_compare.h"
#include "engine/core/record.h"

namespace jw {

// A cache object's number in its file. Each kind of cache object gives its
// own overload beside this one.
inline int32_t CacheNumber(const TRecord& record) {
  return record.RecordNumber();
}
// Whether the object must be written before its cache slot is reused.
inline bool CacheObjectDirty(const TRecord& record) {
  return record.Modified();
}

template <typename T>
concept CacheObject = requires(const T& object) {
  { CacheNumber(object) } -> std::convertible_to<int32_t>;
};

// -1, 0 or 1 as the object's number is below, equal to or above number.
// Compared, never subtracted, so numbers of opposite sign cannot overflow.
template <CacheObject T>
int CompareCacheNumber(const T* object, int32_t number) {
  const int32_t own = CacheNumber(*object);
  return own < number ? -1 : (own > number ? 1 : 0);
}

// The same between two cache objects: ascending by number.
template <CacheObject T>
int CompareCacheObjects(const T* a, const T* b) {
  return CompareCacheNumber(a, CacheNumber(*b));
}

// -1, 0 or 1 as record a's sort key sorts before, with or after record b's
// under the sort's key order. Keys of unequal length compare over the shorter
// one, and a key that is a prefix of the other sorts first.
int CompareRecordKeys(TRecord* a, TRecord* b, const TIndexKeyOrder& order);

}  // namespace jw
