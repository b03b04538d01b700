// Join execution: the per-table filters, the lookup of each link for every
// source record (a key sought in an index of the target, or the link's
// filter made afresh), and the nested loops that step through the row
// combinations.
#include <algorithm>
#include <cstring>

#include "engine/core/data_cursor.h"
#include "engine/core/index_file.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/sql/blob_values.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/table_join.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// Join filters compare strings exactly: a '*' in a joined value is a
// character, not a prefix match.
TCursorFilterOptions JoinFilterOptions() {
  TCursorFilterOptions options;
  options.PartialMatchingOff = true;
  return options;
}

TFilter* InstallFilter(TDataCursor& cursor, TFilter* filter, const TExpToken* tree,
                       TDataQuery& query) {
  TTokenTree prepared(PrepareFilter(tree, &query, SourceColumnValue, true, false,
                                    query.Statement.SortId(), query.Statement.LanguageId()));
  if (filter != nullptr) {
    cursor.SetFilterTree(prepared.get(), filter);
    return filter;
  }
  filter = cursor.AddFilter(nullptr, prepared.get(), nullptr, nullptr, JoinFilterOptions());
  cursor.ActivateFilter(filter);
  return filter;
}

}  // namespace

void SourceColumnValue(void* context, const void*, TExpToken* node) {
  const auto& query = *static_cast<const TDataQuery*>(context);
  for (const std::unique_ptr<TSourceTable>& table : query.SourceTables) {
    if (!SameText(table->CorrelationName, node->TableName)) continue;
    TDataCursor& cursor = *table->Cursor;
    const FieldDescriptor& field = cursor.GetTableFieldDesc(node->FieldNumber);
    if (field.Type == kFldBlob) {
      ReadBlobValue(cursor, node->FieldNumber, table->RecordBuffer.data(), *node);
      return;
    }
    node->SetValueSize(std::max<int32_t>(field.PhysicalLength, 8));
    bool null = false;
    cursor.GetTableFieldData(node->FieldNumber, table->RecordBuffer.data(), null, node->Value());
    node->IsNull = null;
    return;
  }
  node->IsNull = true;
}

bool ConditionHolds(TDataQuery& query, const TExpToken* condition) {
  TExpToken* result = EvaluateExpression(condition, nullptr, &query, query.Statement.SortId(),
                                         query.Statement.LanguageId(), SourceColumnValue);
  const bool holds = !result->IsNull && result->Value()[0] != 0;
  ReleaseToken(result);
  return holds;
}

TJoinPlan::~TJoinPlan() {
  for (TTableState& state : tables_) {
    TDataCursor* cursor = state.Table->Cursor.get();
    if ((state.Keyed != nullptr || state.Ranged) && cursor != nullptr && cursor->IsOpen()) {
      if (state.Ranged) cursor->CancelRange();
      cursor->SetIndexByNumber(state.SavedIndex);
    }
  }
  for (const std::unique_ptr<TTableJoin>& link : links_) {
    if (link->Filter != nullptr && link->Target->Cursor) {
      link->Target->Cursor->DropFilter(link->Filter);
    }
  }
  for (TTableState& state : tables_) {
    if (state.Filter != nullptr && state.Table->Cursor) {
      state.Table->Cursor->DropFilter(state.Filter);
    }
  }
}

void TJoinPlan::InstallFilters() {
  for (TTableState& state : tables_) {
    if (state.Condition) {
      state.Filter = InstallFilter(*state.Table->Cursor, nullptr, state.Condition.get(), query_);
    }
  }
  if (query_.HasJoins && !query_.NoJoinOptimize) Optimise();
  PrepareLoops();
}

// Once the loop order is final: each table's links, and the keyed lookup
// of every link that can take one.
void TJoinPlan::PrepareLoops() {
  for (TTableState& state : tables_) state.Links = LinksFrom(state.Table);
  for (const std::unique_ptr<TTableJoin>& link : links_) PrepareKeyedLookup(*link);
  if (query_.HasJoins) WalkDrivingRange();
}

namespace {

// Types whose key image orders and compares values as the evaluator does,
// so that equal keys are exactly the equal values.
bool KeyedType(uint8_t type) {
  switch (type) {
    case kFldDate:
    case kFldBoolean:
    case kFldSmallInt:
    case kFldInteger:
    case kFldFloat:
    case kFldTime:
    case kFldTimeStamp:
    case kFldWord:
      return true;
    default:
      return false;
  }
}

}  // namespace

// An equality whose target operand is a column of a keyed type leading an
// ascending index of the target, compared with a source value of a keyed
// type (converted to the column's type as a join filter converts it), is
// answered by that index: the target's cursor switches to it.
void TJoinPlan::PrepareKeyedLookup(TTableJoin& link) {
  if (!link.Condition) return;
  TDataCursor& cursor = *link.Target->Cursor;
  const std::vector<TExpToken*> comparisons = LinkComparisons(*link.Condition);
  const auto keyed = std::find_if(comparisons.begin(), comparisons.end(), [&](const TExpToken* c) {
    const TExpToken& column = *c->Right;
    return c->Code == kOpEqual && column.Kind == kTokenColumn && !column.ConstantColumn &&
           column.FieldNumber > 0 && KeyedType(column.Type) && KeyedType(c->Left->Type) &&
           cursor.SelectIndexForField(column.FieldNumber, false) >= 0;
  });
  if (keyed == comparisons.end()) return;
  link.KeyComparison = *keyed;
  for (const TExpToken* comparison : comparisons) {
    if (comparison == link.KeyComparison) continue;
    link.Rest = AndTrees(std::move(link.Rest), TTokenTree(CopyTokenTree(comparison)));
  }
  const int16_t field = link.KeyComparison->Right->FieldNumber;
  link.KeySlot = static_cast<uint8_t>(cursor.SelectIndexForField(field, false));
  // The leading segment of a key: its null byte and the value's image.
  link.KeyPrefix = cursor.GetTableFieldDesc(field).PhysicalLength + 1;
  const IndexDescriptor& index = cursor.Table()->IndexFile().IndexDesc(link.KeySlot);
  link.KeyUnique = index.Unique != 0 && index.SegmentCount == 1;
  TTableState& state = tables_[IndexOf(*link.Target)];
  state.Keyed = &link;
  state.SavedIndex = cursor.IndexNumber();
  cursor.SetIndexByNumber(link.KeySlot);
  link.SoughtImage.assign(static_cast<size_t>(cursor.GetRecordSize()), 0);
  cursor.ClearRecord(link.SoughtImage.data());
  link.SoughtKey.assign(static_cast<size_t>(cursor.KeyLength()), 0);
  link.FoundKey.assign(link.SoughtKey.size(), 0);
  // A source column of the key column's type gives its value as it is.
  const TExpToken& source = *link.KeyComparison->Left;
  if (source.Kind == kTokenColumn && !source.ConstantColumn && source.FieldNumber > 0 &&
      source.Type == link.KeyComparison->Right->Type) {
    const FieldDescriptor& source_field =
        link.Source->Cursor->GetTableFieldDesc(source.FieldNumber);
    link.SourceValue.assign(static_cast<size_t>(std::max<int32_t>(source_field.PhysicalLength, 8)),
                            0);
  }
}

// A driving table whose condition only bounds the leading column of an
// ascending index (column = value, column <= value, column >= value, or a
// lower and an upper bound joined by AND, each value of the column's own
// type) walks that range of the index instead of the filter: each step goes
// along the index's leaves, and the lookups of the links from the table come
// in the order of its column, each near the one before.
void TJoinPlan::WalkDrivingRange() {
  TTableState& state = tables_[IndexOf(Driving())];
  const TExpToken* condition = state.Condition.get();
  if (state.Filter == nullptr || state.Keyed != nullptr || condition == nullptr) return;
  std::vector<const TExpToken*> bounds{condition};
  if (condition->Kind == kTokenBinary && condition->Code == kOpAnd) {
    bounds = {condition->Left, condition->Right};
  }
  const TExpToken* lower = nullptr;
  const TExpToken* upper = nullptr;
  for (const TExpToken* bound : bounds) {
    if (!IsComparison(*bound)) return;
    const TExpToken& column = *bound->Left;
    const TExpToken& value = *bound->Right;
    const bool usable =
        column.Kind == kTokenColumn && !column.ConstantColumn && column.FieldNumber > 0 &&
        KeyedType(column.Type) && value.Kind == kTokenConstant && !value.IsNull &&
        value.Type == column.Type && column.FieldNumber == bounds.front()->Left->FieldNumber;
    if (!usable) return;
    const bool low = bound->Code == kOpEqual || bound->Code == kOpGreaterOrEqual;
    const bool high = bound->Code == kOpEqual || bound->Code == kOpLessOrEqual;
    if ((!low && !high) || (low && lower != nullptr) || (high && upper != nullptr)) return;
    if (low) lower = bound;
    if (high) upper = bound;
  }
  TDataCursor& cursor = *state.Table->Cursor;
  const int16_t field = bounds.front()->Left->FieldNumber;
  const int32_t slot = cursor.SelectIndexForField(field, false);
  if (slot < 0) return;
  cursor.DropFilter(state.Filter);
  state.Filter = nullptr;
  state.SavedIndex = cursor.IndexNumber();
  state.Ranged = true;
  cursor.SetIndexByNumber(static_cast<uint8_t>(slot));
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  const auto key_of = [&](const TExpToken* bound, std::vector<uint8_t>& key) {
    key.assign(static_cast<size_t>(cursor.KeyLength()), 0);
    if (bound == nullptr) {
      // The lowest key whose leading column is not NULL: NULL keys sort
      // first, and no comparison passes a NULL.
      key[0] = 1;
      return;
    }
    cursor.ClearRecord(image.data());
    cursor.SetTableFieldData(field, image.data(), bound->Right->Value());
    cursor.BuildKey(image.data(), key.data());
  };
  std::vector<uint8_t> start;
  std::vector<uint8_t> end;
  key_of(lower, start);
  if (upper != nullptr) key_of(upper, end);
  cursor.SetRange(true, start.data(), 1, upper != nullptr ? end.data() : nullptr, 1);
}

bool TJoinPlan::First() {
  for (TTableState& state : tables_) state.Null = false;
  return Start(&Driving(), kJoinInner);
}

bool TJoinPlan::Next() {
  return Advance(&Driving());
}

bool TJoinPlan::Start(TSourceTable* table, uint8_t kind) {
  TTableState& state = tables_[IndexOf(*table)];
  state.Null = false;
  if (state.Keyed != nullptr) {
    state.Keyed->Seek = true;
  } else {
    table->Cursor->First();
  }
  bool matched_on = false;
  if (SeekMatch(table, matched_on)) return true;
  // The NULL row stands for a left join whose ON matched no record; a
  // record that matched but whose own links found nothing is no row.
  return kind == kJoinLeft && !matched_on && StartNull(table);
}

// Steps the table to its next record for which every link matches;
// candidates tells whether a record came up at all.
bool TJoinPlan::SeekMatch(TSourceTable* table, bool& candidates) {
  TTableState& state = tables_[IndexOf(*table)];
  while (NextCandidate(state)) {
    candidates = true;
    const bool matched = std::all_of(state.Links.begin(), state.Links.end(),
                                     [this](TTableJoin* link) { return StartLink(*link); });
    if (matched) return true;
  }
  return false;
}

// The table's next record; for the target of a keyed link the next one
// whose key leads with the sought value and which passes the link's other
// comparisons.
bool TJoinPlan::NextCandidate(TTableState& state) {
  TDataCursor& cursor = *state.Table->Cursor;
  uint8_t* record = state.Table->RecordBuffer.data();
  TTableJoin* link = state.Keyed;
  if (link == nullptr) return cursor.GetNextRecord(record) == 0;
  for (;;) {
    if (link->Seek) {
      link->Seek = false;
      if (!cursor.SeekKey(true, link->SoughtKey.data(), record, 0, false, 1)) return false;
    } else {
      if (link->KeyUnique || cursor.GetNextRecord(record) != 0) return false;
      cursor.BuildKey(record, link->FoundKey.data());
      if (cursor.CompareKeys(link->FoundKey.data(), link->SoughtKey.data(), link->KeyPrefix) != 0) {
        return false;
      }
    }
    if (!link->RestFilter || ConditionHolds(query_, link->RestFilter.get())) return true;
  }
}

bool TJoinPlan::StartLink(TTableJoin& link) {
  if (FilterLink(link)) return Start(link.Target, link.Kind);
  return link.Kind == kJoinLeft && StartNull(link.Target);
}

bool TJoinPlan::Advance(TSourceTable* table) {
  const TTableState& state = tables_[IndexOf(*table)];
  const std::vector<TTableJoin*>& links = state.Links;
  for (size_t i = links.size(); i-- > 0;) {
    if (!Advance(links[i]->Target)) continue;
    // The later links start again for the new combination; they depend on
    // this table's record alone, which has not moved, so they match again.
    const bool matched =
        std::all_of(links.begin() + static_cast<std::ptrdiff_t>(i) + 1, links.end(),
                    [this](TTableJoin* link) { return StartLink(*link); });
    if (matched) return true;
  }
  bool candidates = false;
  return !state.Null && SeekMatch(table, candidates);
}

// The NULL row of a left join's target, which its links then join as they
// join any row: NULL values compare as the evaluator has it, and a table
// joined without a condition joins every one of its records.
bool TJoinPlan::StartNull(TSourceTable* table) {
  TTableState& state = tables_[IndexOf(*table)];
  state.Null = true;
  std::fill(table->RecordBuffer.begin(), table->RecordBuffer.end(), 0);
  return std::all_of(state.Links.begin(), state.Links.end(),
                     [this](TTableJoin* link) { return StartLink(*link); });
}

// Puts the link's filter on its target for the source's current record;
// false when nothing can match (a guard fails). A NULL joined value, also
// of a source on its NULL row, is compared as the evaluator compares it:
// = finds the target's NULLs.
bool TJoinPlan::FilterLink(TTableJoin& link) {
  if (link.Guard && !ConditionHolds(query_, link.Guard.get())) return false;
  if (!link.Condition) return true;
  if (link.KeyComparison != nullptr) {
    SetSoughtKey(link);
    return true;
  }
  TTokenTree tree(JoinFilterTree(*link.Condition));
  link.Filter = InstallFilter(*link.Target->Cursor, link.Filter, tree.get(), query_);
  return true;
}

// Puts the source's value, converted to the key column's type, into the
// sought record and key (a NULL value seeks the NULL keys), and makes the
// other comparisons a condition on the target.
void TJoinPlan::SetSoughtKey(TTableJoin& link) {
  const TExpToken& comparison = *link.KeyComparison;
  const uint16_t sort_id = query_.Statement.SortId();
  const uint16_t language_id = query_.Statement.LanguageId();
  TTokenTree value;
  const void* sought = link.SourceValue.data();
  if (link.SourceValue.empty()) {
    value.reset(EvaluateToType(comparison.Right, comparison.Left, &query_, sort_id, language_id,
                               SourceColumnValue));
    sought = value->IsNull ? nullptr : value->Value();
  } else {
    bool null = false;
    link.Source->Cursor->GetTableFieldData(comparison.Left->FieldNumber,
                                           link.Source->RecordBuffer.data(), null,
                                           link.SourceValue.data());
    if (null) sought = nullptr;
  }
  TDataCursor& cursor = *link.Target->Cursor;
  cursor.SetTableFieldData(comparison.Right->FieldNumber, link.SoughtImage.data(), sought);
  cursor.BuildKey(link.SoughtImage.data(), link.SoughtKey.data());
  if (link.Rest) {
    TTokenTree tree(JoinFilterTree(*link.Rest));
    link.RestFilter.reset(
        PrepareFilter(tree.get(), &query_, SourceColumnValue, true, false, sort_id, language_id));
  }
}

// The link's condition as a condition on the target: each comparison's
// target operand against the source operand's value, converted to the
// target operand's type.
TExpToken* TJoinPlan::JoinFilterTree(TExpToken& condition) const {
  const uint16_t sort_id = query_.Statement.SortId();
  const uint16_t language_id = query_.Statement.LanguageId();
  TTokenTree tree;
  for (const TExpToken* comparison : LinkComparisons(condition)) {
    TTokenTree node(GetToken());
    node->Assign(*comparison);
    node->Parent = node->Left = node->Right = node->Third = nullptr;
    node->Code = MirroredComparison(comparison->Code);
    TTokenTree value(EvaluateExpression(comparison->Left, nullptr, &query_, sort_id, language_id,
                                        SourceColumnValue));
    node->Left = CopyTokenTree(comparison->Right);
    node->Left->Parent = node.get();
    node->Right = EvaluateToType(comparison->Right, value.get(), &query_, sort_id, language_id,
                                 SourceColumnValue);
    node->Right->Parent = node.get();
    tree = AndTrees(std::move(tree), std::move(node));
  }
  return tree.release();
}

}  // namespace jw
