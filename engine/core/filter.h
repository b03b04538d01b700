// TFilter: one condition on a cursor's records (a prepared expression tree
// or a record callback) and the bitmap of the records that pass it. The
// parts of the tree an index answers are collected from key ranges without
// reading records; the rest is evaluated record by record, only on the
// records still in question.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/expr/expression_tokens.h"
#include "engine/support/records_bitmap.h"

namespace jw {

class TFilter {
 public:
  // With a callback the filter is a callback filter (no tree, level 0);
  // otherwise it takes the tree, which it alone owns and may rearrange.
  // Of the options it keeps the complement strategy, the restricting flag
  // and whether the tree is rated with estimates.
  TFilter(TDataCursor& cursor, TFilterCallback callback, void* user_data,
          const TCursorFilterOptions& options, TExpToken* tree);
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  void Activate() { active_ = true; }
  void Deactivate() { active_ = false; }
  bool Active() const { return active_; }
  bool Restricting() const { return restricting_; }
  uint8_t OptimizeLevel() const { return level_; }
  TRecordsBitmap& Bitmap() { return *bitmap_; }
  // The prepared tree; nullptr for a callback filter.
  const TExpToken* Tree() const { return tree_.get(); }
  TFilterCallback Callback() const { return callback_; }
  void* UserData() const { return user_data_; }
  // The options it keeps, for a filter made again from its tree or callback.
  TCursorFilterOptions Options() const;

  // Frees the current tree and takes this one (owned from now on).
  void SetTree(TExpToken* tree);
  // The bitmap arrives holding the records in question and leaves holding
  // those of them that pass.
  void FillBitmap();
  // Whether an index answers the whole tree, one comparison: the records
  // that pass it do not depend on those in question.
  bool IndexAnswersWhole() const;
  // For such a filter: the bitmap leaves holding the records the index
  // names, deleted slots possibly among them.
  void CollectFromIndex();
  // After an insert or change: the record's bit is set, then cleared when
  // the record fails.
  void TestRecord(int32_t number, const uint8_t* image);
  // After a delete.
  void ClearRecord(int32_t number) { bitmap_->ClearBit(number); }

 private:
  // Leaves in bitmap the records of it that pass node.
  void BuildBitmap(TRecordsBitmap& bitmap, TExpToken* node);
  // Ands into bitmap the records of the operands of an AND chain that each
  // pass one run of keys of an index, the runs of one index met first
  // (ID >= a AND ID < b marks the keys from a to b once rather than each
  // half); the operands left for BuildBitmap.
  std::vector<TExpToken*> MeetKeyRanges(TRecordsBitmap& bitmap,
                                        const std::vector<TExpToken*>& operands);

  TDataCursor& cursor_;
  TTokenTree tree_;
  TFilterCallback callback_;
  void* user_data_;
  TRecordsBitmap* bitmap_;
  bool active_ = false;
  bool complement_;
  bool restricting_;
  bool estimate_;
  uint8_t level_ = 0;
};

}  // namespace jw
