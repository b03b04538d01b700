#include "engine/core/filter_index.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_operators.h"
#include "engine/expr/expression_parser.h"
#include "engine/support/field_keys.h"
#include "engine/support/field_types.h"

namespace jw {
namespace {

// Whether the leaf is a string comparison that ignores case: it compares
// the upper-case forms of the value and the constant, which are what a
// case-insensitive index holds and its bound is built from.
bool IgnoresCase(const TExpToken& node) {
  return node.Kind == kTokenStringCompare && node.CaseInsensitive;
}

// The column a leaf tests, itself or as UPPER of a string column, whose
// upper-case values are the keys of a case-insensitive index; nullptr when
// the node is no leaf of that form.
const TExpToken* LeafColumn(const TExpToken& node, bool& upper) {
  const TExpToken* column = node.Left;
  upper = IsUpperOfColumn(column);
  if (upper) column = column->Left;
  if (column == nullptr || column->Kind != kTokenColumn || column->ConstantColumn ||
      column->FieldNumber <= 0 || (upper && column->Type != kFldString)) {
    return nullptr;
  }
  switch (node.Kind) {
    case kTokenUnary:
      return !upper && (node.Code == kOpIsNull || node.Code == kOpIsNotNull) ? column : nullptr;
    case kTokenBinary:
      return node.Code >= kOpEqual && node.Code <= kOpLessOrEqual ? column : nullptr;
    case kTokenStringCompare:
      return node.Code == kOpEqual || node.Code == kOpNotEqual ? column : nullptr;
    case kTokenPredicate:
      return node.Code == kOpInList || node.Code == kOpNotInList || node.Code == kOpBetween ||
                     node.Code == kOpNotBetween
                 ? column
                 : nullptr;
    default:
      return nullptr;
  }
}

// A constant whose key image orders as the evaluator compares it with the
// column: NULL, or of the column's type and scale; a string no longer than
// the field holds (its key image is the whole text). A parameter is bound
// before the filter is made and then counts as the constant it holds; one
// never bound has no type and no value.
bool FitsKey(const TDataCursor& cursor, const TExpToken& column, const TExpToken* constant) {
  if (constant == nullptr || constant->Kind != kTokenConstant) return false;
  if (constant->IsParameter && constant->Type == 0) return false;
  if (constant->IsNull) return true;
  if (constant->Type != column.Type || constant->Scale != column.Scale) return false;
  if (column.Type != kFldString) return true;
  const FieldDescriptor& field = cursor.GetTableFieldDesc(column.FieldNumber);
  const auto* text = reinterpret_cast<const char*>(constant->Value());
  return static_cast<int32_t>(strnlen(text, static_cast<size_t>(constant->Size()))) <
         field.PhysicalLength;
}

// Gives every column the NULL value.
void NullColumnValue(void*, const void*, TExpToken* node) {
  std::memset(node->Value(), 0, static_cast<size_t>(node->ValueCapacity()));
  node->IsNull = true;
}

// Whether the evaluator passes the leaf when its column is NULL.
bool NullPasses(const TDataCursor& cursor, const TExpToken& node) {
  TExpToken* result = EvaluateExpression(&node, nullptr, nullptr, cursor.SortId(),
                                         cursor.LanguageId(), NullColumnValue);
  const bool passes = !result->IsNull && result->Value()[0] != 0;
  ReleaseToken(result);
  return passes;
}

// An index's own key order over at most the leading bytes of the keys: the
// null byte alone, or the null byte and the first segment's value (or its
// first characters). Every key whose leading part equals a bound compares
// equal to it, whatever follows; for a table with a language the value is
// compared through the locale exactly as the evaluator compares it.
class TLeadingKeyCursor : public TIndexCursor {
 public:
  explicit TLeadingKeyCursor(TIndexCursor& whole) : whole_(whole) {}
  void SetCompareLength(int32_t length) { length_ = length; }
  int32_t IndexSlot() const override { return whole_.IndexSlot(); }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override {
    return whole_.CompareKeys(a, b, std::min(length, length_));
  }
  bool TableFilesChanged() override { return whole_.TableFilesChanged(); }

 private:
  TIndexCursor& whole_;
  int32_t length_ = 1;
};

// Ordinals in one index over the leading segment: its keys sort nulls
// first, then the non-null values ascending.
class TSegmentKeys {
 public:
  // With upper_constants the constants' key images are upper-cased, as a
  // case-insensitive index holds its values.
  TSegmentKeys(TDataCursor& cursor, int32_t slot, const FieldDescriptor& field, bool complement,
               bool upper_constants)
      : cursor_(cursor),
        complement_(complement),
        upper_constants_(upper_constants),
        file_(cursor.Table()->IndexFile()),
        slot_cursor_(cursor, file_, slot),
        leading_cursor_(slot_cursor_),
        tree_(file_, slot_cursor_),
        leading_tree_(file_, leading_cursor_),
        field_(field),
        key_(static_cast<size_t>(file_.IndexDesc(slot).KeyLength)) {}

  int64_t KeyCount() { return tree_.KeyCount(); }
  // Keys below the first non-null value: the nulls. Counted when first
  // asked for, as most conditions never need them.
  int64_t NullCount() {
    if (nulls_ < 0) {
      std::fill(key_.begin(), key_.end(), 0);
      key_[0] = 1;
      leading_cursor_.SetCompareLength(1);
      nulls_ = leading_tree_.CountBelow(key_.data());
    }
    return nulls_;
  }
  // Keys whose value sorts below the constant / not above it; partial
  // length p compares only the first p characters.
  int64_t CountBelow(const TExpToken& constant, int32_t partial) {
    Bound(constant, partial);
    return leading_tree_.CountBelow(key_.data());
  }
  int64_t CountNotAbove(const TExpToken& constant, int32_t partial) {
    Bound(constant, partial);
    return leading_tree_.CountNotAbove(key_.data());
  }
  // Sets the records of the keys at ordinals first .. last. With the
  // complement strategy a range of more than half the keys is set as the
  // inverse of the keys outside it, which also sets deleted slots.
  void Mark(int64_t first, int64_t last, TRecordsBitmap& out) {
    if (first > last) return;
    const int64_t count = KeyCount();
    if (complement_ && (last - first + 1) * 2 > count) {
      TRecordsBitmap* outside = GetRecordsBitmap();
      outside->SetRecordCount(out.BitCount());
      MarkRun(1, first - 1, *outside);
      MarkRun(last + 1, count, *outside);
      outside->Invert();
      out.OrWith(*outside);
      ReleaseRecordsBitmap(outside);
      return;
    }
    MarkRun(first, last, out);
  }
  // Sets the records of the keys whose value equals the constant (in its
  // first partial characters); with the complement strategy through Mark.
  // Otherwise the run is walked from its first key while the keys equal
  // the constant, without counting where it ends.
  void MarkEqual(const TExpToken& constant, int32_t partial, TRecordsBitmap& out) {
    const int64_t first = CountBelow(constant, partial) + 1;
    if (complement_) {
      Mark(first, CountNotAbove(constant, partial), out);
      return;
    }
    leading_tree_.MarkRecords(first, out, key_.data());
  }

 private:
  void MarkRun(int64_t first, int64_t last, TRecordsBitmap& out) {
    if (first > last) return;
    int32_t number = 0;
    if (!tree_.Select(last, key_.data(), number)) return;
    // Keys of an index are distinct, so the last key ends the walk exactly.
    tree_.MarkRecords(first, out, key_.data());
  }

  // The key of the constant in the leading segment, compared over the
  // null byte and the value's image (or its first partial characters).
  void Bound(const TExpToken& constant, int32_t partial) {
    std::fill(key_.begin(), key_.end(), 0);
    key_[0] = 1;
    BuildFieldKey(field_.Type, field_.PhysicalLength, constant.Value(), key_.data(),
                  cursor_.SortId(), cursor_.LanguageId(), false, upper_constants_);
    leading_cursor_.SetCompareLength(1 + (partial > 0
                                              ? std::min<int32_t>(partial, field_.PhysicalLength)
                                              : field_.PhysicalLength));
  }

  TDataCursor& cursor_;
  bool complement_;
  bool upper_constants_;
  TIndexFile& file_;
  TIndexSlotCursor slot_cursor_;
  TLeadingKeyCursor leading_cursor_;
  TBTree tree_;
  TBTree leading_tree_;
  const FieldDescriptor& field_;
  std::vector<uint8_t> key_;
  int64_t nulls_ = -1;
};

bool IsNegative(const TExpToken& node) {
  const uint8_t code = node.Code;
  if (node.Kind == kTokenPredicate) return code == kOpNotInList || code == kOpNotBetween;
  return node.Kind != kTokenUnary && code == kOpNotEqual;
}

// The records whose non-null value the positive form of the leaf selects
// (=, IN, BETWEEN for <>, NOT IN, NOT BETWEEN).
// Each range of key ordinals goes to take(first, last); the keys equal to
// a value (in its first partial characters) go to take_equal(value,
// partial).
template <class Take, class TakeEqual>
void CollectPositive(TSegmentKeys& keys, const TExpToken& node, Take take, TakeEqual take_equal) {
  const int64_t count = keys.KeyCount();
  const TExpToken* constant = node.Right;
  const int32_t partial = node.Kind == kTokenStringCompare ? node.PartialLength : 0;
  const auto equal = [&](const TExpToken& value) {
    if (!value.IsNull) take_equal(value, partial);
  };
  if (node.Kind == kTokenUnary) {
    if (node.Code == kOpIsNotNull) take(keys.NullCount() + 1, count);
    return;
  }
  if (node.Kind == kTokenPredicate) {
    if (node.Code == kOpInList || node.Code == kOpNotInList) {
      for (const TExpToken* item = constant; item != nullptr; item = item->Right) equal(*item);
    } else {
      take(keys.CountBelow(*constant, 0) + 1, keys.CountNotAbove(*constant->Right, 0));
    }
    return;
  }
  if (constant->IsNull) {
    // A NULL text compares as the empty one, below every stored text.
    if (IsStringValue(*constant) && (node.Code == kOpGreater || node.Code == kOpGreaterOrEqual)) {
      take(keys.NullCount() + 1, count);
    }
    return;
  }
  switch (node.Code) {
    case kOpEqual:
    case kOpNotEqual:
      equal(*constant);
      return;
    case kOpLess:
      take(keys.NullCount() + 1, keys.CountBelow(*constant, 0));
      return;
    case kOpLessOrEqual:
      take(keys.NullCount() + 1, keys.CountNotAbove(*constant, 0));
      return;
    case kOpGreater:
      take(keys.CountNotAbove(*constant, 0) + 1, count);
      return;
    default:
      take(keys.CountBelow(*constant, 0) + 1, count);
      return;
  }
}

}  // namespace

int32_t IndexForCondition(const TDataCursor& cursor, const TExpToken& node) {
  bool upper = false;
  const TExpToken* column = LeafColumn(node, upper);
  if (column == nullptr) return -1;
  if (node.Kind == kTokenPredicate) {
    for (const TExpToken* item = node.Right; item != nullptr; item = item->Right) {
      if (!FitsKey(cursor, *column, item)) return -1;
      // A NULL bound compares in ways no key range follows.
      if (item->IsNull && (node.Code == kOpBetween || node.Code == kOpNotBetween)) return -1;
    }
  } else if (node.Kind != kTokenUnary && !FitsKey(cursor, *column, node.Right)) {
    return -1;
  }
  // The collator weighs whole texts level by level (letters, then accents,
  // then case): the texts whose first characters match lie scattered
  // among the keys.
  if (node.Kind == kTokenStringCompare && node.PartialLength > 0 && cursor.LanguageId() != 0) {
    return -1;
  }
  // Without a language, the comparison and the keys upper-case each byte
  // through one code page's table, and the keys compare bytewise: the keys
  // equal to the constant's are exactly the values equal to it. A collator
  // ignoring case finds equal what the upper-case keys hold apart in its
  // order (\xDF equals ss, but its key \xDF is not SS), so those values
  // lie outside any run of keys.
  if (IgnoresCase(node) && cursor.LanguageId() != 0) return -1;
  return cursor.SelectIndexForField(column->FieldNumber, upper || IgnoresCase(node));
}

bool ConditionNeedsRecordTest(const TDataCursor& cursor, const TExpToken& node) {
  bool upper = false;
  const TExpToken* column = LeafColumn(node, upper);
  return column != nullptr && column->Type == kFldString && node.Kind != kTokenUnary &&
         cursor.LanguageId() != 0;
}

void CollectCondition(TDataCursor& cursor, const TExpToken& node, bool complement,
                      TRecordsBitmap& out) {
  const int32_t slot = IndexForCondition(cursor, node);
  bool upper = false;
  const FieldDescriptor& field = cursor.GetTableFieldDesc(LeafColumn(node, upper)->FieldNumber);
  // Ranges are taken through their complement on tables without a language only.
  TSegmentKeys keys(cursor, slot, field, complement && cursor.LanguageId() == 0, IgnoresCase(node));
  out.ClearAll();
  CollectPositive(
      keys, node, [&](int64_t first, int64_t last) { keys.Mark(first, last, out); },
      [&](const TExpToken& value, int32_t partial) { keys.MarkEqual(value, partial, out); });
  // A NULL constant on either side of <> passes every non-null value.
  const bool not_null_constant =
      node.Kind == kTokenBinary && node.Code == kOpNotEqual && node.Right->IsNull;
  if (not_null_constant) {
    keys.Mark(keys.NullCount() + 1, keys.KeyCount(), out);
  } else if (IsNegative(node)) {
    TRecordsBitmap* non_null = GetRecordsBitmap();
    non_null->SetRecordCount(out.BitCount());
    keys.Mark(keys.NullCount() + 1, keys.KeyCount(), *non_null);
    out.Invert();
    out.AndWith(*non_null);
    ReleaseRecordsBitmap(non_null);
  }
  if (NullPasses(cursor, node)) keys.Mark(1, keys.NullCount(), out);
}

bool ConditionKeyRange(TDataCursor& cursor, const TExpToken& node, TKeyRange& range) {
  const int32_t slot = IndexForCondition(cursor, node);
  if (slot < 0 || IsNegative(node) || ConditionNeedsRecordTest(cursor, node)) return false;
  bool upper = false;
  const int32_t field_number = LeafColumn(node, upper)->FieldNumber;
  TSegmentKeys keys(cursor, slot, cursor.GetTableFieldDesc(field_number), false, IgnoresCase(node));
  int32_t runs = 0;
  CollectPositive(
      keys, node,
      [&](int64_t first, int64_t last) {
        ++runs;
        range.First = first;
        range.Last = last;
      },
      // Equal values are walked from their first key without counting
      // where they end: no run of ordinals.
      [&](const TExpToken&, int32_t) { runs = 2; });
  if (runs != 1) return false;
  // The nulls sort first: they join a run that starts at the first value.
  if (NullPasses(cursor, node)) {
    if (range.First != keys.NullCount() + 1) return false;
    range.First = 1;
  }
  range.Slot = slot;
  range.FieldNumber = field_number;
  return true;
}

void CollectKeyRange(TDataCursor& cursor, const TKeyRange& range, bool complement,
                     TRecordsBitmap& out) {
  TSegmentKeys keys(cursor, range.Slot, cursor.GetTableFieldDesc(range.FieldNumber),
                    complement && cursor.LanguageId() == 0, false);
  out.ClearAll();
  keys.Mark(range.First, range.Last, out);
}

int64_t EstimateCondition(TDataCursor& cursor, const TExpToken& node) {
  const int32_t slot = IndexForCondition(cursor, node);
  bool upper = false;
  const FieldDescriptor& field = cursor.GetTableFieldDesc(LeafColumn(node, upper)->FieldNumber);
  TSegmentKeys keys(cursor, slot, field, false, IgnoresCase(node));
  const int64_t nulls = keys.NullCount();
  int64_t selected = 0;
  const auto take = [&](int64_t first, int64_t last) {
    selected += std::max<int64_t>(0, last - first + 1);
  };
  CollectPositive(keys, node, take, [&](const TExpToken& value, int32_t partial) {
    take(keys.CountBelow(value, partial) + 1, keys.CountNotAbove(value, partial));
  });
  const bool not_null_constant =
      node.Kind == kTokenBinary && node.Code == kOpNotEqual && node.Right->IsNull;
  if (not_null_constant) {
    selected = keys.KeyCount() - nulls;
  } else if (IsNegative(node)) {
    selected = std::max<int64_t>(0, keys.KeyCount() - nulls - selected);
  }
  return NullPasses(cursor, node) ? selected + nulls : selected;
}

}  // namespace jw
