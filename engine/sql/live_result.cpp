// Live results: whether a SELECT hands back its source table's own cursor
// rather than a copy of the rows, the index that serves its ORDER BY, and
// the select list made the cursor's field list. Editing through the cursor
// is then editing the table, with every index and check of the table.
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"

namespace jw {

void TDataQuery::DecideLive() {
  Live = false;
  IndexNumber = kNaturalOrder;
  // The only sub-select asked for live is the SELECT part of INSERT ...
  // SELECT, which must read a snapshot of its rows, never the rows the
  // INSERT adds to the same table: it fills a result table first.
  if (SubSelect) return;
  if (!RequestLive || !ResultTableName.empty() || Distinct || HasJoins ||
      SourceTables.size() != 1 || HasGroupBy || HasAggregates || HasHaving || !LiveAllowed ||
      Statement.Queries().size() != 1) {
    return;
  }
  // A derived field holds no BLOB: a BLOB column listed twice is a
  // computed BLOB item the second time.
  const std::vector<bool> repeated = RepeatedColumns();
  for (size_t i = 0; i < ResultFields.size(); ++i) {
    if (repeated[i] && ResultFields[i]->Type == kFldBlob) return;
  }
  uint8_t index = kNaturalOrder;
  if (HasOrderBy && !OrderByIndex(index)) return;
  IndexNumber = index;
  Live = true;
  MakeLiveFieldList();
}

bool TDataQuery::OrderByIndex(uint8_t& number) const {
  const TDataCursor& cursor = *SourceTables.front()->Cursor;
  if (OrderBy.size() > static_cast<size_t>(kMaxSegments)) return false;
  std::vector<int16_t> columns;
  bool has_string = false;
  for (const std::unique_ptr<TOrderByField>& item : OrderBy) {
    const TResultField& field = *ResultFields[static_cast<size_t>(item->ColumnNumber - 1)];
    if (field.Computed || field.Aggregate != kAggregateNone) return false;
    columns.push_back(field.ColumnNumber);
    has_string = has_string || cursor.GetTableFieldDesc(field.ColumnNumber).Type == kFldString;
  }
  for (int32_t n = 0; n <= cursor.GetIndexCount(); ++n) {
    if (n == 0 && cursor.HasNoPrimaryIndex()) continue;
    const IndexDescriptor index = cursor.GetIndexDesc(static_cast<uint8_t>(n));
    // Leading segments serve: ORDER BY a walks an index on a, b.
    if (index.SegmentCount < columns.size()) continue;
    if (has_string && (index.CaseInsensitive != 0) != OrderByNoCase) continue;
    bool match = true;
    for (size_t s = 0; s < columns.size() && match; ++s) {
      // A descending index runs every segment backwards.
      const bool descending = index.Descending != 0 || index.SegmentDescending[s] != 0;
      match = index.FieldNumbers[s] == columns[s] && descending == OrderBy[s]->Descending;
    }
    if (match) {
      number = static_cast<uint8_t>(n);
      return true;
    }
  }
  return false;
}

std::vector<bool> TDataQuery::RepeatedColumns() const {
  std::vector<bool> listed(static_cast<size_t>(SourceTables.front()->Cursor->GetFieldCount()) + 1);
  std::vector<bool> repeated;
  for (const std::unique_ptr<TResultField>& item : ResultFields) {
    const bool plain = !item->Computed && item->Aggregate == kAggregateNone;
    const auto column = static_cast<size_t>(item->ColumnNumber);
    repeated.push_back(plain && listed[column]);
    if (plain) listed[column] = true;
  }
  return repeated;
}

// A plain column stays the table's own field, read and written in place; a
// computed item, and a column listed a second time, becomes a derived field
// that the cursor computes from the record's stored fields.
void TDataQuery::MakeLiveFieldList() {
  TDataCursor& cursor = *SourceTables.front()->Cursor;
  const int32_t stored = cursor.GetFieldCount();
  const std::vector<bool> repeated = RepeatedColumns();
  std::vector<FieldDescriptor> fields;
  std::vector<const TExpToken*> expressions;
  for (size_t i = 0; i < ResultFields.size(); ++i) {
    const TResultField& item = *ResultFields[i];
    FieldDescriptor field;
    const TExpToken* expression = nullptr;
    if (!item.Computed && item.Aggregate == kAggregateNone && !repeated[i]) {
      field = cursor.GetTableFieldDesc(item.ColumnNumber);
    } else {
      field = ResultColumnOf(item);
      field.Derived = 1;
      field.Number = static_cast<int16_t>(stored + item.ResultFieldNumber);
      // The cursor keeps the list as given: the derived field's room in the
      // record image comes from these.
      SetPhysicalLength(field);
      SetPhysicalScale(field);
      expression = item.Expression.get();
    }
    field.Name = item.ResultName.substr(0, kMaxFieldNameLength);
    fields.push_back(field);
    expressions.push_back(expression);
  }
  cursor.SetResultSet(true);
  cursor.SetFieldDescs(fields, expressions);
}

}  // namespace jw
