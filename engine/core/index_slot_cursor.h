// TIndexSlotCursor: walks an index other than a cursor's current one (the
// status index, each index a record edit keeps in step, the index a filter
// collects keys from) with that index's own key order; changes of the files
// are the owner's to detect.
#pragma once

#include "engine/core/index_file.h"

namespace jw {

class TIndexSlotCursor : public TIndexCursor {
 public:
  TIndexSlotCursor(TIndexCursor& owner, const TIndexFile& file, int32_t slot)
      : owner_(owner), slot_(slot), order_(file.KeyOrder(slot)) {}
  int32_t IndexSlot() const override { return slot_; }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override {
    return order_.Compare(a, b, length);
  }
  bool TableFilesChanged() override { return owner_.TableFilesChanged(); }
  bool BytewiseKeys() const override { return order_.Bytewise(); }

 private:
  TIndexCursor& owner_;
  int32_t slot_;
  TIndexKeyOrder order_;
};

}  // namespace jw
