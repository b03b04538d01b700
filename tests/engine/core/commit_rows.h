// The rows of the interrupted-commit test, shared by the writer process and
// the test: a table with a primary index on KEY and a secondary index on a
// 40-byte NAME that follows from the key, so a row read back shows whether
// it is whole.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/data_cursor.h"

namespace jw::test {

enum RootsField : int32_t { kRootsId = 1, kRootsKey, kRootsName };

constexpr int32_t kRootsNameSize = 40;

// Names spread over the whole key range, so that new rows land in every
// leaf of the name index.
inline std::string RootsName(int32_t key) {
  std::string name;
  uint32_t state = static_cast<uint32_t>(key) * 2654435761u;
  while (name.size() < static_cast<size_t>(kRootsNameSize)) {
    name += static_cast<char>('a' + state % 26);
    state = state * 1103515245u + 12345u;
  }
  return name;
}

inline void FillRootsRow(TDataCursor& cursor, uint8_t* image, int32_t key) {
  const std::string name = RootsName(key);
  cursor.SetFieldData(kRootsKey, image, false, &key);
  cursor.SetFieldData(kRootsName, image, false, name.c_str());
}

}  // namespace jw::test
