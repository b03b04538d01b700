#include "engine/core/filter.h"

#include <algorithm>
#include <vector>

#include "engine/core/filter_index.h"

namespace jw {
namespace {

// A bitmap from the pool for the span of a step.
class TPooledBitmap {
 public:
  explicit TPooledBitmap(const TRecordsBitmap& copy_of) : bitmap_(GetRecordsBitmap()) {
    bitmap_->SetRecordCount(copy_of.BitCount());
    bitmap_->Assign(copy_of);
  }
  // A clear bitmap of the record count.
  explicit TPooledBitmap(int32_t record_count) : bitmap_(GetRecordsBitmap()) {
    bitmap_->SetRecordCount(record_count);
  }
  ~TPooledBitmap() { ReleaseRecordsBitmap(bitmap_); }
  TPooledBitmap(const TPooledBitmap&) = delete;
  TPooledBitmap& operator=(const TPooledBitmap&) = delete;
  TRecordsBitmap& operator*() const { return *bitmap_; }
  TRecordsBitmap* operator->() const { return bitmap_; }

 private:
  TRecordsBitmap* bitmap_;
};

// Whether the bitmap holds any record: stops at its first set word.
bool AnySet(const TRecordsBitmap& bitmap) {
  int32_t position = 0;
  int32_t sequence = 0;
  return bitmap.FindNextSet(position, 1, sequence);
}

bool IsBinary(const TExpToken& node, uint8_t code) {
  return node.Kind == kTokenBinary && node.Code == code;
}

// The operands, left to right, of the chain of rated nodes with the
// operator that starts at node (itself such a node). Taken in a loop, so
// that a chain of any length costs no stack.
std::vector<TExpToken*> ChainOperands(TExpToken* node, uint8_t code) {
  std::vector<TExpToken*> operands;
  std::vector<TExpToken*> pending{node};
  while (!pending.empty()) {
    TExpToken* next = pending.back();
    pending.pop_back();
    if (IsBinary(*next, code) && next->OptimizeLevel != 0) {
      pending.push_back(next->Right);
      pending.push_back(next->Left);
    } else {
      operands.push_back(next);
    }
  }
  return operands;
}

}  // namespace

TFilter::TFilter(TDataCursor& cursor, TFilterCallback callback, void* user_data,
                 const TCursorFilterOptions& options, TExpToken* tree)
    : cursor_(cursor),
      tree_(callback != nullptr ? nullptr : tree),
      callback_(callback),
      user_data_(user_data),
      bitmap_(GetRecordsBitmap()),
      complement_(options.Complement),
      restricting_(options.Restricting),
      estimate_(options.Estimate) {
  if (callback != nullptr) FreeTokenTree(tree);
  if (tree_) level_ = cursor_.GetOptimizeLevel(tree_.get(), estimate_);
}

TFilter::~TFilter() {
  ReleaseRecordsBitmap(bitmap_);
}

TCursorFilterOptions TFilter::Options() const {
  TCursorFilterOptions options;
  options.Restricting = restricting_;
  options.Complement = complement_;
  options.Estimate = estimate_;
  return options;
}

void TFilter::SetTree(TExpToken* tree) {
  tree_.reset(tree);
  level_ = tree_ ? cursor_.GetOptimizeLevel(tree_.get(), estimate_) : 0;
}

void TFilter::FillBitmap() {
  if (callback_ != nullptr || !tree_) {
    cursor_.EvaluateFilterOver(*bitmap_, nullptr, callback_, user_data_);
    return;
  }
  BuildBitmap(*bitmap_, tree_.get());
}

bool TFilter::IndexAnswersWhole() const {
  if (callback_ != nullptr || !tree_ || tree_->OptimizeLevel != 2) return false;
  const bool negation = tree_->Kind == kTokenUnary && tree_->Code == kOpNot;
  return !negation && !IsBinary(*tree_, kOpAnd) && !IsBinary(*tree_, kOpOr);
}

void TFilter::CollectFromIndex() {
  CollectCondition(cursor_, *tree_, complement_, *bitmap_);
}

void TFilter::TestRecord(int32_t number, const uint8_t* image) {
  if (bitmap_->BitCount() < number) bitmap_->SetRecordCount(number);
  bitmap_->SetBit(number);
  cursor_.TestRecord(image, number, callback_, user_data_, tree_.get(), nullptr, *bitmap_);
}

std::vector<TExpToken*> TFilter::MeetKeyRanges(TRecordsBitmap& bitmap,
                                               const std::vector<TExpToken*>& operands) {
  std::vector<TKeyRange> ranges;
  std::vector<TExpToken*> rest;
  for (TExpToken* operand : operands) {
    TKeyRange range;
    if (operand->OptimizeLevel != 2 || !ConditionKeyRange(cursor_, *operand, range)) {
      rest.push_back(operand);
      continue;
    }
    const auto same_index = std::find_if(
        ranges.begin(), ranges.end(), [&](const TKeyRange& met) { return met.Slot == range.Slot; });
    if (same_index == ranges.end()) {
      ranges.push_back(range);
    } else {
      same_index->First = std::max(same_index->First, range.First);
      same_index->Last = std::min(same_index->Last, range.Last);
    }
  }
  for (const TKeyRange& range : ranges) {
    TPooledBitmap collected(bitmap.BitCount());
    CollectKeyRange(cursor_, range, complement_, *collected);
    bitmap.AndWith(*collected);
  }
  return rest;
}

void TFilter::BuildBitmap(TRecordsBitmap& bitmap, TExpToken* node) {
  if (!AnySet(bitmap)) return;
  if (node->OptimizeLevel == 0) {
    cursor_.EvaluateFilterOver(bitmap, node, nullptr, nullptr);
    return;
  }
  if (node->Kind == kTokenUnary && node->Code == kOpNot) {
    TPooledBitmap passing(bitmap);
    BuildBitmap(*passing, node->Left);
    passing->Invert();
    bitmap.AndWith(*passing);
    return;
  }
  if (IsBinary(*node, kOpAnd)) {
    // Each left operand is the better indexed one (GetOptimizeLevel), so
    // what follows it is evaluated only on the records that passed it.
    for (TExpToken* operand : MeetKeyRanges(bitmap, ChainOperands(node, kOpAnd))) {
      BuildBitmap(bitmap, operand);
    }
    return;
  }
  if (IsBinary(*node, kOpOr)) {
    // Every operand starts from the records in question.
    TPooledBitmap in_question(bitmap);
    TPooledBitmap operand_bitmap(bitmap);
    bitmap.ClearAll();
    for (TExpToken* operand : ChainOperands(node, kOpOr)) {
      operand_bitmap->Assign(*in_question);
      BuildBitmap(*operand_bitmap, operand);
      bitmap.OrWith(*operand_bitmap);
    }
    return;
  }
  TPooledBitmap collected(bitmap.BitCount());
  CollectCondition(cursor_, *node, complement_, *collected);
  bitmap.AndWith(*collected);
  // A leaf rated partial gave candidates: each is read and tested.
  if (node->OptimizeLevel == 1) cursor_.EvaluateFilterOver(bitmap, node, nullptr, nullptr);
}

}  // namespace jw
