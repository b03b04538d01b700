// The grammar of INSERT, UPDATE and DELETE: target table, target columns,
// VALUES or a SELECT part, SET assignments, WHERE, NOAUTOINC and COMMIT
// INTERVAL.
#include <utility>

#include "engine/expr/expression_parser.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {

void TDataQuery::AddTargetColumn() {
  auto field = std::make_unique<TUpdateField>();
  field->Query = this;
  field->Expression = ClauseExpression(0, kColumnContext, kColumnEmpty, true);
  // A string constant stands for the column of that name.
  const TExpToken& column = *field->Expression;
  field->ColumnName =
      ShortString(column.Kind == kTokenColumn ? column.ColumnName : column.SourceText);
  field->CorrelationName = column.TableName;
  UpdateFields.push_back(std::move(field));
}

void TDataQuery::AddValue() {
  auto value = std::make_unique<TUpdateValue>();
  value->Query = this;
  value->Expression =
      ClauseExpression(kParseParameters, "value expression", "Value expression is empty");
  value->SourceText = ExpressionText();
  UpdateValues.push_back(std::move(value));
}

void TDataQuery::ParseInsert() {
  TExpressionParser& parser = Parser();
  RequestLive = true;
  parser.NextToken();  // INSERT
  ExpectKeyword("INTO", "INTO keyword expected, instead found '");
  static constexpr const char* kFollowers[] = {"VALUES", "SELECT"};
  TableReference("Table name expected after INTO clause, instead found '", kFollowers, true,
                 "Table name expected after INTO keyword, instead found '");

  if (parser.IsSymbol('(')) {
    parser.NextToken();
    for (;;) {
      AddTargetColumn();
      if (!parser.IsSymbol(',')) break;
      parser.NextToken();
    }
    ExpectSymbol(')', "Right parentheses expected after list of table columns, instead found '");
  } else {
    auto all = std::make_unique<TUpdateField>();
    all->Query = this;
    all->ColumnName.assign(1, '*');  // all columns in table order
    UpdateFields.push_back(std::move(all));
  }

  if (parser.IsKeyword("VALUES")) {
    parser.NextToken();
    ExpectSymbol('(', "Left parentheses expected after VALUES keyword, instead found '");
    AddValue();
    while (parser.IsSymbol(',')) {
      parser.NextToken();
      AddValue();
    }
    ExpectSymbol(')', "Right parentheses expected after list of values, instead found '");
  } else if (parser.IsKeyword("SELECT")) {
    TDataQuery& part = Statement.AddQuery(true);
    part.insert_part_ = true;
    part.ParseStatement();
    part.RequestLive = true;
    SelectPart = &part;
    InsertSelect = true;
  } else {
    RaiseFound("VALUES or SELECT  keyword expected, instead found '");
  }

  EndDataChange("INSERT", true);
}

void TDataQuery::ParseUpdate() {
  TExpressionParser& parser = Parser();
  RequestLive = true;
  parser.NextToken();  // UPDATE
  static constexpr const char* kFollowers[] = {"SET"};
  TableReference("Table name expected, instead found '", kFollowers);
  ExpectKeyword("SET", "SET keyword expected, instead found '");
  for (;;) {
    AddTargetColumn();
    ExpectSymbol('=', "Assignment (=) operator expected after column name, instead found '");
    AddValue();
    if (!parser.IsSymbol(',')) break;
    parser.NextToken();
  }
  WhereClause();
  EndDataChange("UPDATE", true);
}

void TDataQuery::ParseDelete() {
  TExpressionParser& parser = Parser();
  RequestLive = true;
  parser.NextToken();  // DELETE
  ExpectKeyword("FROM", "FROM keyword expected, instead found '");
  static constexpr const char* kFollowers[] = {"WHERE", "NOJOINOPTIMIZE", "COMMIT"};
  TableReference("Table name expected, instead found '", kFollowers);
  WhereClause();
  EndDataChange("DELETE", false);
}

}  // namespace jw
