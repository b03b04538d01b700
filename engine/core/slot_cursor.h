// TSlotCursor: walks an index other than the cursor's current one (the
// status index, the index a filter collects keys from) with that index's
// own key order, while the owning cursor keeps detecting changes.
#pragma once

#include "engine/core/data_cursor.h"
#include "engine/core/index_file.h"

namespace jw {

class TSlotCursor : public TIndexCursor {
 public:
  TSlotCursor(TDataCursor& owner, const TIndexFile& file, int32_t slot)
      : owner_(owner), slot_(slot), order_(file.KeyOrder(slot)) {}
  int32_t IndexSlot() const override { return slot_; }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override {
    return order_.Compare(a, b, length);
  }
  bool TableFilesChanged() override { return owner_.TableFilesChanged(); }

 private:
  TDataCursor& owner_;
  int32_t slot_;
  TIndexKeyOrder order_;
};

}  // namespace jw
