// The grammar of SELECT, clause by clause: the select list and its items,
// INTO, FROM with its joins, WHERE, GROUP BY, HAVING, ORDER BY and the
// options that follow them.
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/expr/expression_parser.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {

uint8_t AggregateKind(const TExpToken& node) {
  if (node.Kind != kTokenFunction) return kAggregateNone;
  switch (node.Code) {
    case kFuncSum:
      return kAggregateSum;
    case kFuncMin:
      return kAggregateMin;
    case kFuncMax:
      return kAggregateMax;
    case kFuncAvg:
      return kAggregateAvg;
    case kFuncCount:
      return kAggregateCount;
    default:
      return kAggregateNone;
  }
}

namespace {

constexpr const char* kConditionEmpty = "WHERE or JOIN clause is empty";

// Whether the tree holds an aggregate anywhere; walks without recursion, as
// a long chain of operators may be deeper than the stack.
bool ContainsAggregate(const TExpToken* root) {
  std::vector<const TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (AggregateKind(*node) != kAggregateNone) return true;
    for (const TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  return false;
}

// The words that continue a SELECT after a table of its FROM list, so none of
// them is taken for a correlation name: those of the grammar, FULL (refused
// as a join of its own), and LANGUAGE and NOJOINOPTIMIZE; the last two
// continue the INSERT around a SELECT part.
constexpr const char* kFromFollowers[] = {
    "LEFT", "RIGHT",     "INNER", "JOIN",     "WHERE",          "ORDER",     "GROUP", "HAVING",
    "WITH", "ENCRYPTED", "FULL",  "LANGUAGE", "NOJOINOPTIMIZE", "NOAUTOINC", "COMMIT"};
constexpr size_t kInsertFollowers = 2;

void CheckDuplicateCorrelation(const TDataQuery& query, const TSourceTable& table) {
  for (const auto& other : query.SourceTables) {
    if (other.get() != &table && SameText(other->CorrelationName, table.CorrelationName)) {
      query.Statement.Parser().RaiseParseError("Duplicate table correlation name '" +
                                               QuotedText(table.CorrelationName) + "'" +
                                               " found in source tables");
    }
  }
}

bool IsComparison(const TExpToken& node) {
  return node.Kind == kTokenBinary && node.Code >= kOpEqual && node.Code <= kOpLessOrEqual;
}

bool ContainsColumn(const TExpToken* root) {
  std::vector<const TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (node->Kind == kTokenColumn) return true;
    for (const TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  return false;
}

// Every node of an ON condition is marked as a join condition of its
// join's kind; each comparison between column expressions, reached through
// AND and OR, takes the kind as its join kind too.
void MarkJoinCondition(TExpToken* root, uint8_t join_kind) {
  std::vector<TExpToken*> pending{root};
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    node->JoinCondition = join_kind;
    for (TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  std::vector<TExpToken*> logical{root};
  while (!logical.empty()) {
    TExpToken* node = logical.back();
    logical.pop_back();
    if (node->Kind == kTokenBinary && (node->Code == kOpAnd || node->Code == kOpOr)) {
      logical.push_back(node->Left);
      logical.push_back(node->Right);
    } else if (IsComparison(*node) && ContainsColumn(node->Left) && ContainsColumn(node->Right)) {
      node->JoinKind = join_kind;
    }
  }
}

}  // namespace

void TDataQuery::ParseSelect() {
  TExpressionParser& parser = Parser();
  parser.NextToken();  // SELECT
  if (parser.IsKeyword("ALL")) parser.NextToken();
  if (parser.IsKeyword("DISTINCT")) {
    Distinct = true;
    parser.NextToken();
  }
  SelectItem();
  while (parser.IsSymbol(',')) {
    parser.NextToken();
    SelectItem();
  }

  if (parser.IsKeyword("INTO")) {
    parser.NextToken();
    const char* message = "Result table name expected in INTO clause, instead found '";
    if (parser.IsKeyword("MEMORY")) {
      IntoMemory = true;
      message = "Result table name expected in INTO MEMORY clause, instead found '";
      parser.NextToken();
    }
    if (!parser.IsSymbol(kClassIdentifier) && !parser.IsSymbol(kClassString)) RaiseFound(message);
    ResultTableName = ShortString(parser.GetTokenText());
    RequestLive = false;
    parser.NextToken();
  }

  FromClause();

  WhereClause();
  if (parser.IsKeyword("GROUP")) {
    parser.NextToken();
    ExpectKeyword("BY", "BY keyword expected after GROUP keyword, instead found '");
    HasGroupBy = true;
    ColumnList(GroupBy,
               "Column name or column number expected in GROUP BY clause, instead found '");
  }
  if (parser.IsKeyword("HAVING")) {
    parser.NextToken();
    Having = ClauseExpression(kParseAggregates, "HAVING clause", "HAVING clause is empty");
    HasHaving = true;
  }
  if (parser.IsKeyword("ORDER")) {
    parser.NextToken();
    ExpectKeyword("BY", "BY keyword expected after ORDER keyword, instead found '");
    HasOrderBy = true;
    ColumnList(OrderBy,
               "Column name or column number expected in ORDER BY clause, instead found '");
    if (parser.IsKeyword("NOCASE")) {
      OrderByNoCase = true;
      parser.NextToken();
    }
  }
  if (parser.IsKeyword("WITH")) {
    parser.NextToken();
    ExpectKeyword("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    WithLocks = true;
  }
  LanguageClause(Options);
  EncryptionClause(Options);
  if (parser.IsKeyword("NOJOINOPTIMIZE")) {
    NoJoinOptimize = true;
    parser.NextToken();
  }
  if (!SubSelect) Terminate("SELECT");
}

void TDataQuery::SelectItem() {
  TExpressionParser& parser = Parser();
  auto field = std::make_unique<TResultField>();
  field->Query = this;
  field->Expression =
      ClauseExpression(kParseAggregates | kParseAllColumns | kParseExtended,
                       "source column expression", "Source column expression is empty");
  field->ExpressionText = ExpressionText();
  ClassifyItem(*field);

  bool named = false;
  if (parser.IsKeyword("AS")) {
    parser.NextToken();
    if (!IsName()) RaiseFound("Symbol or string expected after AS keyword, instead found '");
    named = true;
  } else if (IsName() && !parser.IsKeyword("INTO") && !parser.IsKeyword("FROM")) {
    named = true;
  }
  if (named) {
    std::string name = parser.GetTokenText();
    parser.NextToken();
    if (parser.IsSymbol('.')) {
      parser.NextToken();
      if (!IsName()) {
        RaiseFound("Symbol or string expected after table correlation name, instead found '");
      }
      name = parser.GetTokenText();
      parser.NextToken();
    }
    field->ResultName = ShortString(name);
    field->NameIsDefault = false;
  }
  ResultFields.push_back(std::move(field));
}

void TDataQuery::ClassifyItem(TResultField& field) {
  const TExpToken& node = *field.Expression;
  if (node.Kind == kTokenColumn) {
    field.CorrelationName = node.TableName;
    field.ColumnName = node.ColumnName;
    if (node.ColumnName != "*") field.ResultName = node.ColumnName;
    return;
  }
  const uint8_t aggregate = AggregateKind(node);
  if (aggregate != kAggregateNone) {
    if (ContainsAggregate(node.Left)) {
      Parser().RaiseParseError("Aggregate functions cannot be nested");
    }
    field.Aggregate = aggregate;
    HasAggregates = true;
    HasAvg = HasAvg || aggregate == kAggregateAvg;
    if (node.Left->Kind == kTokenColumn) {
      field.CorrelationName = node.Left->TableName;
      field.ColumnName = node.Left->ColumnName;
      return;
    }
  } else if (ContainsAggregate(&node)) {
    Parser().RaiseParseError("Aggregate functions cannot be used within expressions");
  }
  field.Computed = true;
  HasComputed = true;
}

void TDataQuery::FromClause() {
  TExpressionParser& parser = Parser();
  ExpectKeyword("FROM", "FROM keyword expected, instead found '");
  const std::span<const char* const> words(
      kFromFollowers, std::size(kFromFollowers) - (insert_part_ ? 0 : kInsertFollowers));
  std::string message = "Table name expected after FROM keyword, instead found '";
  for (;;) {
    CheckDuplicateCorrelation(*this, TableReference(message, words));
    JoinClauses();
    if (!parser.IsSymbol(',')) break;
    parser.NextToken();
    HasJoins = true;
    message = "Table name expected, instead found '";
  }
}

void TDataQuery::JoinClauses() {
  TExpressionParser& parser = Parser();
  for (;;) {
    uint8_t kind = 0;
    if (parser.IsKeyword("JOIN")) {
      kind = kJoinInner;
    } else if (parser.IsKeyword("INNER")) {
      kind = kJoinInner;
      parser.NextToken();
      if (!parser.IsKeyword("JOIN")) {
        RaiseFound("JOIN keyword expected after INNER keyword, instead found '");
      }
    } else if (parser.IsKeyword("LEFT") || parser.IsKeyword("RIGHT")) {
      kind = parser.IsKeyword("LEFT") ? kJoinLeft : kJoinRight;
      parser.NextToken();
      if (parser.IsKeyword("OUTER")) parser.NextToken();
      if (!parser.IsKeyword("JOIN")) {
        RaiseFound(kind == kJoinLeft
                       ? "JOIN keyword expected after LEFT or OUTER keyword, instead found '"
                       : "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
      }
    } else if (parser.IsKeyword("FULL")) {
      parser.RaiseParseError(
          "Full outer joins are currently not supported in Quire SQL SELECT statements");
    } else {
      return;
    }
    parser.NextToken();  // JOIN
    HasJoins = true;
    static constexpr const char* kOn[] = {"ON"};
    TSourceTable* before = SourceTables.back().get();
    CheckDuplicateCorrelation(
        *this, TableReference("Table name expected after JOIN keyword, instead found '", kOn));
    Joins.push_back({kind, kind == kJoinRight ? before : SourceTables.back().get()});
    if (kind == kJoinRight) {
      // The right join's table leads: it is the left join of the other side.
      std::unique_ptr<TSourceTable> moved = std::move(SourceTables.back());
      SourceTables.pop_back();
      SourceTables.insert(SourceTables.begin(), std::move(moved));
    }
    ExpectKeyword("ON", "ON keyword expected in JOIN clause, instead found '");
    TTokenTree condition =
        ClauseExpression(kParseExtended | kParseParameters, kConditionContext, kConditionEmpty);
    MarkJoinCondition(condition.get(), kind);
    AddCondition(std::move(condition));
  }
}

void TDataQuery::WhereClause() {
  if (!Parser().IsKeyword("WHERE")) return;
  Parser().NextToken();
  AddCondition(ClauseExpression(kParseExtended | kParseParameters | kParseSubSelects,
                                kConditionContext, kConditionEmpty));
}

void TDataQuery::AddCondition(TTokenTree condition) {
  HasCondition = true;
  if (!Condition) {
    Condition = std::move(condition);
    return;
  }
  TTokenTree node(GetToken());
  node->Kind = kTokenBinary;
  node->Code = kOpAnd;
  node->SourceText = "AND";
  node->Type = kFldBoolean;
  node->Left = Condition.release();
  node->Right = condition.release();
  Condition = std::move(node);
}

template <typename Field>
void TDataQuery::ColumnList(std::vector<std::unique_ptr<Field>>& items,
                            const std::string& message) {
  TExpressionParser& parser = Parser();
  for (;;) {
    auto item = std::make_unique<Field>();
    item->Query = this;
    if (parser.IsSymbol(kClassInteger)) {
      int32_t number = 0;
      if (!TryStrToInt(parser.GetTokenText(), number) || number > INT16_MAX) number = INT16_MAX;
      item->ColumnNumber = static_cast<int16_t>(number);
      parser.NextToken();
    } else if (IsName()) {
      std::string name = parser.GetTokenText();
      parser.NextToken();
      if (parser.IsSymbol('.')) {
        parser.NextToken();
        if (!IsName()) RaiseFound(message);
        item->CorrelationName = ShortString(name);
        name = parser.GetTokenText();
        parser.NextToken();
      }
      item->ColumnName = ShortString(name);
    } else {
      RaiseFound(message);
    }
    if constexpr (std::is_same_v<Field, TOrderByField>) {
      if (parser.IsKeyword("ASC") || parser.IsKeyword("ASCENDING")) {
        parser.NextToken();
      } else if (parser.IsKeyword("DESC") || parser.IsKeyword("DESCENDING")) {
        item->Descending = true;
        parser.NextToken();
      }
    }
    items.push_back(std::move(item));
    if (!parser.IsSymbol(',')) return;
    parser.NextToken();
  }
}

}  // namespace jw
