// Name resolution of a parsed query: its source tables opened through the
// session, the select list expanded, numbered, named and bound against them,
// and the GROUP BY, ORDER BY, DISTINCT and HAVING clauses checked against
// the result fields. Every fault is engine error 11949.
#include <string>
#include <type_traits>
#include <utility>

#include "engine/core/data_session.h"
#include "engine/expr/expression_binder.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/sql/sql_errors.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// A result holds at most this many columns, hidden ones included; ORDER BY
// and GROUP BY at most this many items.
constexpr size_t kMaxResultColumns = 1024;
// A string item's value size (its terminating zero included) must stay
// below this; a bytes item's size at most kMaxFieldSize.
constexpr int32_t kMaxStringItemSize = 252;

void CheckLimit(size_t count, const std::string& clause) {
  if (count > kMaxResultColumns) {
    RaiseSqlError("Maximum number of columns (" +
                  IntToStr(static_cast<int32_t>(kMaxResultColumns)) + ") in " + clause +
                  "exceeded");
  }
}

// The expression binder's column resolver over the query's source tables:
// a column is the table's stored field of that number, whatever field list
// a live result gave the table's cursor.
bool ResolveSourceColumn(void* context, TExpToken* node) {
  const auto& query = *static_cast<const TDataQuery*>(context);
  int16_t number = 0;
  TSourceTable* table = query.FindSourceColumn(node->TableName, node->ColumnName, number);
  if (table == nullptr || number == 0) return false;
  const FieldDescriptor& field = table->Cursor->GetTableFieldDesc(number);
  node->TableName = table->CorrelationName;
  node->FieldNumber = number;
  node->FieldRef = &field;
  node->Type = field.Type;
  node->Subtype = field.SubType;
  node->SetValueSize(field.PhysicalLength);
  node->Scale = field.PhysicalDecimals;
  return true;
}

// The expression binder's column resolver over the result fields, aggregates
// included (HAVING).
bool ResolveResultField(void* context, TExpToken* node) {
  const auto& query = *static_cast<const TDataQuery*>(context);
  const TResultField* field = query.FindResultField(node->TableName, node->ColumnName, true);
  if (field == nullptr) return false;
  node->FieldNumber = field->ResultFieldNumber;
  node->Type = field->Type;
  node->Subtype = field->Subtype;
  node->SetValueSize(field->Size);
  node->Scale = field->Scale;
  if (field->Aggregate != kAggregateNone) {
    // An aggregate is compared as its result column holds it: an average
    // as a float, a sum of smallints as an integer.
    const FieldDescriptor column = ResultColumnOf(*field);
    if (column.Type != field->Type) {
      node->Type = column.Type;
      node->Subtype = column.SubType;
      node->SetValueSize(FixedValueSize(column.Type));
      node->Scale = 0;
    }
  }
  return true;
}

}  // namespace

TSourceTable::~TSourceTable() {
  Cursor.reset();
  if (Directory != nullptr) Directory->Session()->CloseDirectory(Directory);
}

void TDataQuery::Resolve() {
  if (Executed) return;
  if (Kind > kSqlDelete) {
    PrepareDefinition();
    return;
  }
  OpenSourceTables();
  if (Kind == kSqlInsert || Kind == kSqlUpdate) ResolveTargets();
  if (Kind != kSqlSelect) return;
  TLanguageSwap session_language(Statement.LanguageId(), Statement.SortId());
  CheckSelectList();
  CheckGrouping();
  if (HasOrderBy) CheckColumnList(OrderBy, "ORDER BY");
  if (Distinct && !HasGroupBy) CheckDistinct();
  DecideLive();
}

TDataCursor& TDataQuery::CreateTableCursor(TSourceTable& table) {
  TDataSession& session = Statement.Session();
  if (table.Directory == nullptr) {
    if (table.Memory) {
      table.Directory = session.OpenDirectory(kMemoryDatabaseName, std::string());
    } else if (table.DirectoryPath == Statement.DirectoryPath()) {
      table.Directory = &Statement.Directory();
      table.Directory->AddReference();
    } else {
      table.Directory = session.OpenDirectory(table.DirectoryPath, table.DirectoryPath);
    }
  }
  table.Cursor = std::make_unique<TDataCursor>(table.Directory);
  table.Cursor->SetTableName(table.TableName);
  table.Cursor->SetInMemory(table.Memory);
  return *table.Cursor;
}

void TDataQuery::OpenWithPasswordHandler(TDataCursor& cursor) const {
  // The handler is the statement's only while the table opens.
  cursor.SetPasswordHandler(Statement.PasswordHandler(), Statement.PasswordUserData());
  try {
    cursor.Open();
  } catch (...) {
    cursor.SetPasswordHandler(nullptr, nullptr);
    throw;
  }
  cursor.SetPasswordHandler(nullptr, nullptr);
}

void TDataQuery::OpenSourceTables() {
  const bool read_only = Kind == kSqlSelect && !RequestLive;
  int16_t level = 0;
  for (const std::unique_ptr<TSourceTable>& table : SourceTables) {
    table->Level = ++level;
    TDataCursor& cursor = CreateTableCursor(*table);
    cursor.SetReadOnly(read_only);
    // Natural order as an open option also keeps every key and uniqueness
    // check of a live result's edits, whichever index it walks.
    cursor.SetNaturalOrder(true);
    // NOAUTOINC keeps the auto-increment values a data change writes; the
    // option can only be set before the target opens.
    if (Kind != kSqlSelect && table == SourceTables.front())
      cursor.SetKeepAutoInc(Options.NoAutoInc);
    OpenWithPasswordHandler(cursor);
    table->RecordBuffer.assign(static_cast<size_t>(cursor.GetRecordSize()), 0);
  }
  if (SourceTables.empty()) return;
  const TDataCursor& first = *SourceTables.front()->Cursor;
  if (!Options.LanguageGiven) Options.LanguageId = first.LanguageId();
  if (!Options.SortGiven) Options.SortId = first.SortId();
}

TSourceTable* TDataQuery::FindSourceColumn(const std::string& correlation,
                                           const std::string& column, int16_t& number) const {
  number = 0;
  const bool whole_table = column.empty() || column == "*";
  for (const std::unique_ptr<TSourceTable>& table : SourceTables) {
    if (!correlation.empty() && !SameText(table->CorrelationName, correlation)) continue;
    if (whole_table) return table.get();
    int32_t found = 0;
    const TDataCursor& cursor = *table->Cursor;
    for (int32_t i = 1; i <= cursor.GetFieldCount() && found == 0; ++i) {
      if (SameText(cursor.GetTableFieldDesc(i).Name, column)) found = i;
    }
    if (found != 0) {
      number = static_cast<int16_t>(found);
      return table.get();
    }
    // With a correlation name only the first table of that name counts.
    if (!correlation.empty()) return nullptr;
  }
  return nullptr;
}

TResultField* TDataQuery::FindResultField(const std::string& correlation, const std::string& column,
                                          bool with_aggregates) const {
  for (const std::unique_ptr<TResultField>& field : ResultFields) {
    if (!correlation.empty()) {
      if (SameText(field->CorrelationName, correlation) && SameText(field->ColumnName, column)) {
        return field.get();
      }
      continue;
    }
    const bool by_column = (with_aggregates || field->Aggregate == kAggregateNone) &&
                           SameText(field->ColumnName, column);
    if (by_column || SameText(field->ResultName, column)) return field.get();
  }
  return nullptr;
}

void TDataQuery::ExpandStar(const TResultField& item,
                            std::vector<std::unique_ptr<TResultField>>& fields) {
  const auto add_columns = [&](TSourceTable& table) {
    const TDataCursor& cursor = *table.Cursor;
    for (int32_t i = 1; i <= cursor.GetFieldCount(); ++i) {
      auto field = std::make_unique<TResultField>();
      field->Query = this;
      field->Source = &table;
      field->ColumnNumber = static_cast<int16_t>(i);
      field->CorrelationName = table.CorrelationName;
      field->ColumnName = cursor.GetTableFieldDesc(i).Name;
      field->ResultName = field->ColumnName;
      field->ExpressionText = field->ColumnName;
      field->Expression.reset(GetToken());
      field->Expression->Kind = kTokenColumn;
      field->Expression->SourceText = field->ColumnName;
      field->Expression->ColumnName = field->ColumnName;
      field->Expression->TableName = table.CorrelationName;
      fields.push_back(std::move(field));
    }
  };
  if (item.CorrelationName.empty()) {
    // Tables in the order the statement names them, whatever the join
    // order becomes.
    for (int16_t number = 1; number <= static_cast<int16_t>(SourceTables.size()); ++number) {
      for (const std::unique_ptr<TSourceTable>& table : SourceTables) {
        if (table->Number == number) add_columns(*table);
      }
    }
    return;
  }
  int16_t ignored = 0;
  TSourceTable* table = FindSourceColumn(item.CorrelationName, "*", ignored);
  if (table == nullptr) RaiseInvalidColumn("*", item.CorrelationName, "source columns");
  add_columns(*table);
}

void TDataQuery::CheckSelectList() {
  // The list is rebuilt item by item, so that a failure leaves only whole
  // fields in it.
  std::vector<std::unique_ptr<TResultField>> items = std::move(ResultFields);
  ResultFields.clear();
  size_t averages = 0;
  for (std::unique_ptr<TResultField>& item : items) {
    if (item->Aggregate != kAggregateNone) {
      HasAggregates = true;
      if (item->Aggregate == kAggregateAvg) ++averages;
    } else {
      HasPlainItems = true;
    }
    int16_t number = 0;
    if (item->Aggregate == kAggregateCount && item->ColumnName == "*") {
      item->CountAll = true;
      item->Source = FindSourceColumn(item->CorrelationName, "*", number);
      if (item->Source == nullptr) {
        RaiseInvalidColumn("*", item->CorrelationName, "source columns");
      }
      item->ColumnNumber = 1;
      item->CorrelationName = item->Source->CorrelationName;
    } else if (item->ColumnName == "*") {
      if (!item->NameIsDefault) {
        RaiseSqlError("Invalid use of column correlation name '" + item->ResultName + "'" +
                      " for " + "'" + "*" + "'" + " specified in source columns");
      }
      ExpandStar(*item, ResultFields);
      continue;
    } else if (!item->Computed) {
      item->Source = FindSourceColumn(item->CorrelationName, item->ColumnName, number);
      if (item->Source == nullptr || number == 0) {
        RaiseInvalidColumn(item->ColumnName, item->CorrelationName, "source columns");
      }
      item->ColumnNumber = number;
      item->CorrelationName = item->Source->CorrelationName;
    }
    ResultFields.push_back(std::move(item));
  }
  // Each AVG item takes a hidden count column in the result.
  CheckLimit(ResultFields.size() + averages, "result set ");
  if (HasAggregates && HasPlainItems && !HasGroupBy) {
    RaiseSqlError("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  }
  if (HasHaving && !HasGroupBy) {
    RaiseSqlError("A GROUP BY clause must exist in order to use the HAVING clause");
  }
  // HAVING aggregates are matched against the select list while both are
  // still as written.
  const std::vector<THavingReference> having_refs = MatchHavingAggregates();

  int16_t number = 0;
  for (const std::unique_ptr<TResultField>& field : ResultFields) {
    field->ResultFieldNumber = ++number;
    BindSelectItem(*field);
  }
  NameResultFields();
  if (HasHaving) {
    for (auto& [node, field] : having_refs) {
      node->ColumnName = field->ResultName;
      node->SourceText = field->ResultName;
    }
    BindHaving();
  }
}

std::vector<TDataQuery::THavingReference> TDataQuery::MatchHavingAggregates() {
  std::vector<THavingReference> references;
  if (!HasHaving) return references;
  std::vector<TExpToken*> pending{Having.get()};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    if (AggregateKind(*node) == kAggregateNone) {
      for (TExpToken* child : {node->Left, node->Right, node->Third}) {
        if (child != nullptr) pending.push_back(child);
      }
      continue;
    }
    const TResultField* match = nullptr;
    for (const std::unique_ptr<TResultField>& field : ResultFields) {
      const TExpToken& item = *field->Expression;
      if (match == nullptr && field->Aggregate != kAggregateNone && item.Code == node->Code &&
          TokenTreesEqual(item.Left, node->Left)) {
        match = field.get();
      }
    }
    if (match == nullptr) RaiseSqlError("Expression in HAVING clause not found in source columns");
    FreeTokenTree(node->Left);
    node->Kind = kTokenColumn;
    node->Code = 0;
    node->TableName.clear();
    references.emplace_back(node, match);
  }
  return references;
}

void TDataQuery::BindSelectItem(TResultField& field) {
  TExpToken* root = field.Expression.get();
  BindExpression(kErrSql, std::string(), "source columns", false, ResolveSourceColumn, this,
                 nullptr, root);
  if (field.Computed && root->Kind == kTokenColumn) {
    field.Computed = false;
    field.CorrelationName = root->TableName;
    field.ColumnName = root->ColumnName;
    field.ColumnNumber = root->FieldNumber;
    int16_t ignored = 0;
    field.Source = FindSourceColumn(root->TableName, root->ColumnName, ignored);
    if (field.NameIsDefault) field.ResultName = field.ColumnName;
  }
  field.Type = root->Type;
  field.Subtype = root->Subtype;
  field.Size = root->Size();
  field.Scale = root->Scale;
  if (field.Computed && field.Type == kFldBlob) LiveAllowed = false;
  if ((field.Type == kFldString && field.Size >= kMaxStringItemSize) ||
      (field.Type == kFldBytes && field.Size > kMaxFieldSize)) {
    RaiseSqlError("Column expression '" + field.ExpressionText + "'" +
                  " exceeds the maximum allowable field size");
  }
  if (field.Type == kFldBlob) HasBlobResult = true;
}

void TDataQuery::CheckGrouping() {
  if (!HasGroupBy) {
    AggregateOnly = !ResultFields.empty() && !HasPlainItems;
    RecordCountOnly = AggregateOnly && SourceTables.size() == 1 && ResultFields.size() == 1 &&
                      ResultFields.front()->CountAll;
    return;
  }
  // GROUP BY already yields distinct groups.
  Distinct = false;
  CheckColumnList(GroupBy, "GROUP BY");
}

template <typename Field>
void TDataQuery::CheckColumnList(std::vector<std::unique_ptr<Field>>& items, const char* clause) {
  const std::string where = std::string(" specified in ") + clause + " clause";
  CheckLimit(items.size(), std::string(clause) + " clause ");
  const auto count = static_cast<int32_t>(ResultFields.size());
  for (const std::unique_ptr<Field>& item : items) {
    if (item->ColumnName.empty()) {
      const int32_t number = item->ColumnNumber;
      if (number < 1 || number > count ||
          ResultFields[static_cast<size_t>(number - 1)]->Type == kFldBlob) {
        RaiseSqlError("Invalid column number '" + IntToStr(number) + "'" + where);
      }
      continue;
    }
    const TResultField* field = FindResultField(item->CorrelationName, item->ColumnName, false);
    if (field == nullptr) {
      RaiseInvalidColumn(item->ColumnName, item->CorrelationName, std::string(clause) + " clause");
    }
    if constexpr (std::is_same_v<Field, TGroupByField>) {
      if (field->Type == kFldBlob)
        RaiseSqlError("Invalid BLOB column '" + item->ColumnName + "'" + where);
    }
    item->ColumnNumber = field->ResultFieldNumber;
  }
}

void TDataQuery::CheckDistinct() {
  CheckLimit(ResultFields.size(), "DISTINCT clause ");
  for (const std::unique_ptr<TResultField>& field : ResultFields) {
    if (field->Type == kFldBlob) {
      RaiseSqlError("Invalid BLOB column '" + field->ResultName + "'" +
                    " specified in DISTINCT clause");
    }
  }
}

void TDataQuery::BindCondition(TExpToken* condition) {
  TLanguageSwap session_language(Statement.LanguageId(), Statement.SortId());
  BindExpression(kErrSql, std::string(), kConditionContext, true, ResolveSourceColumn, this,
                 nullptr, condition);
  if (condition->Type != kFldBoolean)
    RaiseSqlError("WHERE or JOIN clause must be a boolean expression");
}

void TDataQuery::BindUpdateValue(TExpToken* value) {
  TLanguageSwap session_language(Statement.LanguageId(), Statement.SortId());
  BindExpression(kErrSql, std::string(), "update values", false, ResolveSourceColumn, this, nullptr,
                 value);
}

void TDataQuery::BindHaving() {
  BindExpression(kErrSql, std::string(), "HAVING clause", true, ResolveResultField, this, nullptr,
                 Having.get());
  if (Having->Type != kFldBoolean) RaiseSqlError("HAVING clause must be a boolean expression");
}

}  // namespace jw
