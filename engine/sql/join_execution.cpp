// Join execution: the per-table filters, the join filter of each link made
// afresh for every source record, and the nested loops that step through
// the row combinations.
#include <algorithm>
#include <cstring>

#include "engine/core/data_cursor.h"
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
}

std::vector<TTableJoin*> TJoinPlan::LinksFrom(const TSourceTable* table) const {
  std::vector<TTableJoin*> links;
  for (const std::unique_ptr<TTableJoin>& link : links_) {
    if (link->Source == table) links.push_back(link.get());
  }
  return links;
}

bool TJoinPlan::First() {
  for (TTableState& state : tables_) state.Null = false;
  return Start(&Driving(), kJoinInner);
}

bool TJoinPlan::Next() {
  return Advance(&Driving());
}

bool TJoinPlan::Start(TSourceTable* table, uint8_t kind) {
  tables_[IndexOf(*table)].Null = false;
  table->Cursor->First();
  if (SeekMatch(table)) return true;
  if (kind != kJoinLeft) return false;
  SetNull(table);
  return true;
}

// Steps the table to its next record for which every link matches.
bool TJoinPlan::SeekMatch(TSourceTable* table) {
  const std::vector<TTableJoin*> links = LinksFrom(table);
  while (table->Cursor->GetNextRecord(table->RecordBuffer.data()) == 0) {
    const bool matched = std::all_of(links.begin(), links.end(),
                                     [this](TTableJoin* link) { return StartLink(*link); });
    if (matched) return true;
  }
  return false;
}

bool TJoinPlan::StartLink(TTableJoin& link) {
  if (FilterLink(link)) return Start(link.Target, link.Kind);
  if (link.Kind != kJoinLeft) return false;
  SetNull(link.Target);
  return true;
}

bool TJoinPlan::Advance(TSourceTable* table) {
  if (tables_[IndexOf(*table)].Null) return false;
  const std::vector<TTableJoin*> links = LinksFrom(table);
  for (size_t i = links.size(); i-- > 0;) {
    if (!Advance(links[i]->Target)) continue;
    // The later links start again for the new combination; they depend on
    // this table's record alone, which has not moved, so they match again.
    const bool matched =
        std::all_of(links.begin() + static_cast<std::ptrdiff_t>(i) + 1, links.end(),
                    [this](TTableJoin* link) { return StartLink(*link); });
    if (matched) return true;
  }
  return SeekMatch(table);
}

void TJoinPlan::SetNull(TSourceTable* table) {
  tables_[IndexOf(*table)].Null = true;
  std::fill(table->RecordBuffer.begin(), table->RecordBuffer.end(), 0);
  for (TTableJoin* link : LinksFrom(table)) SetNull(link->Target);
}

// Puts the link's filter on its target for the source's current record;
// false when nothing can match (a guard fails or a joined value is NULL).
bool TJoinPlan::FilterLink(TTableJoin& link) {
  if (tables_[IndexOf(*link.Source)].Null) return false;
  if (link.Guard && !ConditionHolds(query_, link.Guard.get())) return false;
  if (!link.Condition) return true;
  bool null_value = false;
  TTokenTree tree(JoinFilterTree(*link.Condition, null_value));
  if (null_value) return false;
  link.Filter = InstallFilter(*link.Target->Cursor, link.Filter, tree.get(), query_);
  return true;
}

// The link's condition as a condition on the target: each comparison's
// target operand against the source operand's value, converted to the
// target operand's type.
TExpToken* TJoinPlan::JoinFilterTree(const TExpToken& condition, bool& null_value) const {
  TTokenTree node(GetToken());
  node->Assign(condition);
  node->Parent = node->Left = node->Right = node->Third = nullptr;
  if (!IsComparison(condition)) {
    node->Left = JoinFilterTree(*condition.Left, null_value);
    node->Left->Parent = node.get();
    node->Right = JoinFilterTree(*condition.Right, null_value);
    node->Right->Parent = node.get();
    return node.release();
  }
  node->Code = MirroredComparison(condition.Code);
  const uint16_t sort_id = query_.Statement.SortId();
  const uint16_t language_id = query_.Statement.LanguageId();
  TExpToken* value =
      EvaluateExpression(condition.Left, nullptr, &query_, sort_id, language_id, SourceColumnValue);
  null_value = null_value || value->IsNull;
  TTokenTree value_tree(value);
  node->Left = CopyTokenTree(condition.Right);
  node->Left->Parent = node.get();
  node->Right =
      EvaluateToType(condition.Right, value, &query_, sort_id, language_id, SourceColumnValue);
  node->Right->Parent = node.get();
  return node.release();
}

}  // namespace jw
