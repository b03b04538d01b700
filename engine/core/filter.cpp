#include "engine/core/filter.h"

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
  ~TPooledBitmap() { ReleaseRecordsBitmap(bitmap_); }
  TPooledBitmap(const TPooledBitmap&) = delete;
  TPooledBitmap& operator=(const TPooledBitmap&) = delete;
  TRecordsBitmap& operator*() const { return *bitmap_; }
  TRecordsBitmap* operator->() const { return bitmap_; }

 private:
  TRecordsBitmap* bitmap_;
};

}  // namespace

TFilter::TFilter(TDataCursor& cursor, TFilterCallback callback, void* user_data, bool complement,
                 bool restricting, TExpToken* tree)
    : cursor_(cursor),
      tree_(callback != nullptr ? nullptr : tree),
      callback_(callback),
      user_data_(user_data),
      bitmap_(GetRecordsBitmap()),
      complement_(complement),
      restricting_(restricting) {
  if (callback != nullptr) FreeTokenTree(tree);
  if (tree_) level_ = cursor_.GetOptimizeLevel(tree_.get());
}

TFilter::~TFilter() {
  ReleaseRecordsBitmap(bitmap_);
}

void TFilter::SetTree(TExpToken* tree) {
  tree_.reset(tree);
  level_ = tree_ ? cursor_.GetOptimizeLevel(tree_.get()) : 0;
}

void TFilter::FillBitmap() {
  if (callback_ != nullptr || !tree_) {
    cursor_.EvaluateFilterOver(*bitmap_, nullptr, callback_, user_data_);
    return;
  }
  BuildBitmap(*bitmap_, tree_.get());
}

void TFilter::TestRecord(int32_t number, const uint8_t* image) {
  if (bitmap_->BitCount() < number) bitmap_->SetRecordCount(number);
  bitmap_->SetBit(number);
  cursor_.TestRecord(image, number, callback_, user_data_, tree_.get(), *bitmap_);
}

void TFilter::BuildBitmap(TRecordsBitmap& bitmap, TExpToken* node) {
  if (bitmap.CountSet() == 0) return;
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
  if (node->Kind == kTokenBinary && node->Code == kOpAnd) {
    // The left operand is the better indexed one (GetOptimizeLevel), so
    // the right is evaluated only on the records that passed it.
    BuildBitmap(bitmap, node->Left);
    BuildBitmap(bitmap, node->Right);
    return;
  }
  if (node->Kind == kTokenBinary && node->Code == kOpOr) {
    TPooledBitmap right(bitmap);
    BuildBitmap(bitmap, node->Left);
    BuildBitmap(*right, node->Right);
    bitmap.OrWith(*right);
    return;
  }
  TPooledBitmap collected(bitmap);
  CollectCondition(cursor_, *node, complement_, *collected);
  bitmap.AndWith(*collected);
}

}  // namespace jw
