#include "engine/core/record_order.h"

#include <algorithm>

namespace jw {

int CompareRecordKeys(TRecord* a, TRecord* b, const TIndexKeyOrder& order) {
  const int32_t length = std::min(a->KeyLength(), b->KeyLength());
  const int result = order.Compare(a->Key(), b->Key(), length);
  if (result != 0) return result;
  if (a->KeyLength() == b->KeyLength()) return 0;
  return a->KeyLength() < b->KeyLength() ? -1 : 1;
}

}  // namespace jw
