// The target columns of INSERT and UPDATE resolved in the target table (the
// query's first source table): "*" of INSERT stands for every column in table
// order, INSERT ... SELECT takes one value per result field of its SELECT
// part, and targets and values must pair up.
#include <algorithm>
#include <string>

#include "engine/expr/expression_tokens.h"
#include "engine/expr/expression_types.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/sql_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"

namespace jw {

void TDataQuery::AddSelectPartValues() {
  // The SELECT part was resolved before this query; its result fields are
  // read by reference to the result.
  for (const std::unique_ptr<TResultField>& field : SelectPart->ResultFields) {
    auto value = std::make_unique<TUpdateValue>();
    value->Query = this;
    value->SourceText = field->ExpressionText;
    value->Expression.reset(GetToken());
    TExpToken& node = *value->Expression;
    node.Kind = kTokenColumn;
    node.SourceText = field->ResultName;
    node.ColumnName = field->ResultName;
    node.FieldNumber = field->ResultFieldNumber;
    node.Type = field->Type;
    node.Subtype = field->Subtype;
    node.SetValueSize(field->Size);
    node.Scale = field->Scale;
    UpdateValues.push_back(std::move(value));
  }
}

void TDataQuery::ResolveTargets() {
  TSourceTable& target = *SourceTables.front();
  TDataCursor& cursor = *target.Cursor;
  if (Kind == kSqlInsert) {
    cursor.SetIndexByNumber(0);
    if (SelectPart != nullptr) AddSelectPartValues();
  }
  std::vector<std::unique_ptr<TUpdateField>> targets;
  const auto add_target = [&](std::unique_ptr<TUpdateField> field, int16_t number) {
    const FieldDescriptor& column = cursor.GetCursorFieldDesc(number);
    field->Source = &target;
    field->ColumnNumber = number;
    field->ColumnName = column.Name;
    field->CorrelationName = target.CorrelationName;
    field->Type = column.Type;
    field->Subtype = column.SubType;
    field->Size = column.PhysicalLength;
    field->Scale = column.PhysicalDecimals;
    HasBlobTarget = HasBlobTarget || column.Type == kFldBlob;
    targets.push_back(std::move(field));
  };
  for (std::unique_ptr<TUpdateField>& field : UpdateFields) {
    if (field->ColumnName == "*" && Kind == kSqlInsert) {
      for (int16_t number = 1; number <= cursor.GetCursorFieldCount(); ++number) {
        auto column = std::make_unique<TUpdateField>();
        column->Query = this;
        add_target(std::move(column), number);
      }
      continue;
    }
    int16_t number = 0;
    if (field->ColumnName == "*" ||
        FindSourceColumn(field->CorrelationName, field->ColumnName, number) != &target ||
        number == 0) {
      RaiseInvalidColumn(field->ColumnName, field->CorrelationName, "table columns");
    }
    add_target(std::move(field), number);
  }
  UpdateFields = std::move(targets);
  if (UpdateFields.size() != UpdateValues.size()) {
    RaiseSqlError("The number of values must match the number of table columns");
  }
  if (SelectPart == nullptr) CheckUpdateValues();
}

void TDataQuery::CheckUpdateValues() {
  for (const std::unique_ptr<TUpdateValue>& value : UpdateValues) {
    BindUpdateValue(value->Expression.get());
  }
  TLanguageSwap session_language(Statement.LanguageId(), Statement.SortId());
  for (size_t i = 0; i < UpdateFields.size(); ++i) {
    const TUpdateField& column = *UpdateFields[i];
    TExpToken& node = *UpdateValues[i]->Expression;
    if (node.Kind != kTokenConstant || node.IsParameter || node.IsNull ||
        node.Type == column.Type) {
      continue;
    }
    const bool date_column =
        column.Type == kFldDate || column.Type == kFldTime || column.Type == kFldTimeStamp;
    if (date_column && node.Type == kFldString) {
      node.SetValueSize(std::max<int32_t>(node.Size(), column.Size));
      if (!TextToDateTimeValue(node.Value(), column.Type)) {
        RaiseSqlError("Date, time, or timestamp expression expected, instead found '" +
                      UpdateValues[i]->SourceText + "' in update values");
      }
      node.Type = column.Type;
      node.Subtype = column.Subtype;
      node.SetValueSize(column.Size);
      node.Scale = column.Scale;
    } else if (!IsValidOperandTypes(kOpEqual, column.Type, column.Subtype, node.Subtype,
                                    node.Type)) {
      RaiseSqlError("Type mismatch between column '" + column.ColumnName + "' and constant '" +
                    UpdateValues[i]->SourceText + "' in update values");
    }
  }
}

}  // namespace jw
