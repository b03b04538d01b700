// The records of one condition on an indexed column, collected from the
// keys of an ascending index whose first segment is the column (a
// case-insensitive one for a condition on UPPER of the column, whose keys
// are the upper-case values the evaluator compares, and for a string
// comparison that ignores case on a table without a language, which
// compares the upper-case forms of both sides). Keys are counted over
// the leading segment alone, in the index's own order. The answer equals
// the evaluator's for every record (for strings of a table with a language
// it holds the answer, and each record is then tested): the non-null keys
// give the values the condition selects, and the null keys join exactly
// when the evaluator passes a NULL value (a NULL string compares as '').
#pragma once

#include <cstdint>

#include "engine/core/data_cursor.h"
#include "engine/expr/expression_tokens.h"
#include "engine/support/records_bitmap.h"

namespace jw {

// Whether the records the index gives for the leaf are candidates only, each
// to be tested with the leaf: a string column compared with constants on a
// table with a language, whose keys follow the locale's order while the
// evaluator alone decides what passes.
bool ConditionNeedsRecordTest(const TDataCursor& cursor, const TExpToken& node);

// The index slot that answers the leaf (a null test, comparison, string
// comparison, IN list or BETWEEN of a column, or of UPPER of a string
// column, with constants); -1 when none.
int32_t IndexForCondition(const TDataCursor& cursor, const TExpToken& node);

// Sets in out (sized to the physical record count) the live records that
// pass the leaf, which IndexForCondition accepted: exactly those, or a set
// holding them where ConditionNeedsRecordTest says so. With complement, on
// a table without a language, ranges of most keys are collected through
// what lies outside them, and out may also hold deleted slots.
void CollectCondition(TDataCursor& cursor, const TExpToken& node, bool complement,
                      TRecordsBitmap& out);

// A run of key ordinals, first .. last, of the index in a slot whose
// leading segment is the field.
struct TKeyRange {
  int32_t Slot = -1;
  int32_t FieldNumber = 0;
  int64_t First = 1;
  int64_t Last = 0;
};

// Whether the leaf passes exactly the records of one run of key ordinals of
// the index that answers it (a comparison, BETWEEN or IS NOT NULL whose
// answer needs no record test), and that run. Two such runs of one index
// meet in the run of the records both pass.
bool ConditionKeyRange(TDataCursor& cursor, const TExpToken& node, TKeyRange& range);

// Sets in out (sized to the physical record count) the records of the
// run's keys, taken through their complement as CollectCondition takes it.
void CollectKeyRange(TDataCursor& cursor, const TKeyRange& range, bool complement,
                     TRecordsBitmap& out);

// How many records pass the leaf, which IndexForCondition accepted,
// counted from key ordinals without reading or marking a record (an IN
// list naming a value twice counts it twice).
int64_t EstimateCondition(TDataCursor& cursor, const TExpToken& node);

}  // namespace jw
