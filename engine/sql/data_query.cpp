// TDataQuery's dispatch by the first word of a statement, and the clause
// helpers that every statement kind shares: keywords, expressions under a
// clause's context name, integer options, table references, LANGUAGE,
// COMMIT INTERVAL and the end of a statement.
#include "engine/sql/data_query.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/expr/expression_parser.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/support/engine_strings.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"
#include "engine/support/locale_list.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {

TClauseContext::TClauseContext(TExpressionParser& parser, const char* context) : parser_(parser) {
  parser_.SetContextName(context);
}

TClauseContext::~TClauseContext() {
  parser_.SetContextName(kSqlStatementContext);
}

TDataQuery::TDataQuery(TQueryStatement& statement, bool sub_select)
    : Statement(statement), SubSelect(sub_select) {}

TDataQuery::~TDataQuery() = default;

TExpressionParser& TDataQuery::Parser() const {
  return Statement.Parser();
}

void TDataQuery::Reset() {
  Execution.reset();
  Kind = 0;
  RowsAffected = 0;
  ExecutionTime = 0;
  Distinct = HasAggregates = HasAvg = HasComputed = HasJoins = NoJoinOptimize = false;
  HasCondition = HasHaving = HasOrderBy = OrderByNoCase = HasGroupBy = false;
  IntoMemory = InsertSelect = WithLocks = false;
  HasPlainItems = AggregateOnly = RecordCountOnly = HasBlobResult = HasBlobTarget = false;
  LiveAllowed = true;
  Live = false;
  IndexNumber = kNaturalOrder;
  SelectPart = nullptr;
  ResultTableName.clear();
  SecondName.clear();
  Joins.clear();
  SourceTables.clear();
  ResultFields.clear();
  UpdateFields.clear();
  UpdateValues.clear();
  OrderBy.clear();
  GroupBy.clear();
  CreateFields.clear();
  CreateIndexes.clear();
  Condition.reset();
  Having.reset();
  Options = TTableOptions();
}

void TDataQuery::ParseStatement() {
  if (Executed) return;
  TLanguageSwap session_language(Statement.LanguageId(), Statement.SortId());
  Reset();
  Dispatch();
}

void TDataQuery::Dispatch() {
  TExpressionParser& parser = Parser();
  const char* kTableOrIndex = "TABLE or INDEX keyword expected, instead found '";
  if (parser.IsKeyword("SELECT")) {
    Kind = kSqlSelect;
    ParseSelect();
  } else if (parser.IsKeyword("INSERT")) {
    Kind = kSqlInsert;
    ParseInsert();
  } else if (parser.IsKeyword("UPDATE")) {
    Kind = kSqlUpdate;
    ParseUpdate();
  } else if (parser.IsKeyword("DELETE")) {
    Kind = kSqlDelete;
    ParseDelete();
  } else if (parser.IsKeyword("CREATE")) {
    parser.NextToken();
    if (parser.IsKeyword("TABLE")) {
      Kind = kSqlCreateTable;
      ParseCreateTable();
    } else if (IsAnyKeyword(
                   {"INDEX", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"})) {
      Kind = kSqlCreateIndex;
      ParseCreateIndex();
    } else {
      RaiseFound(kTableOrIndex);
    }
  } else if (parser.IsKeyword("ALTER")) {
    parser.NextToken();
    if (!parser.IsKeyword("TABLE")) RaiseFound("TABLE keyword expected, instead found '");
    Kind = kSqlAlterTable;
    ParseAlterTable();
  } else if (parser.IsKeyword("DROP")) {
    parser.NextToken();
    if (parser.IsKeyword("TABLE")) {
      Kind = kSqlDropTable;
      ParseDropTable();
    } else if (parser.IsKeyword("INDEX")) {
      Kind = kSqlDropIndex;
      ParseDropIndex();
    } else {
      RaiseFound(kTableOrIndex);
    }
  } else {
    RaiseFound(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead "
        "found '");
  }
}

void TDataQuery::RaiseFound(const std::string& prefix) const {
  Parser().RaiseParseError(prefix + QuotedText(Parser().GetTokenText()) + "'");
}

void TDataQuery::ExpectKeyword(const char* word, const std::string& prefix) {
  if (!Parser().IsKeyword(word)) RaiseFound(prefix);
  Parser().NextToken();
}

void TDataQuery::ExpectSymbol(uint8_t symbol, const std::string& prefix) {
  if (!Parser().IsSymbol(symbol)) RaiseFound(prefix);
  Parser().NextToken();
}

bool TDataQuery::IsAnyKeyword(std::initializer_list<const char*> words) const {
  for (const char* word : words) {
    if (Parser().IsKeyword(word)) return true;
  }
  return false;
}

bool TDataQuery::IsName() const {
  const TExpressionParser& parser = Parser();
  return parser.IsSymbol(kClassIdentifier) || parser.IsSymbol(kClassBracketed) ||
         parser.IsSymbol(kClassString);
}

TTokenTree TDataQuery::ClauseExpression(uint8_t flags, const char* context,
                                        const char* empty_message, bool primary) {
  TExpressionParser& parser = Parser();
  // Nothing that could start an expression stands before the clause's end.
  if (parser.IsSymbol(kClassEnd) || parser.IsSymbol(',') || parser.IsSymbol(')') ||
      parser.IsSymbol(';')) {
    parser.RaiseParseError(empty_message);
  }
  TClauseContext clause(parser, context);
  parser.MarkExpressionStart();
  return TTokenTree(primary ? parser.ParsePrimary(flags) : parser.ParseExpression(flags));
}

std::string TDataQuery::ExpressionText() const {
  return ShortString(Parser().GetExpressionText());
}

int32_t TDataQuery::IntegerOption(const char* context, const char* empty_message) {
  TTokenTree tree = ClauseExpression(0, context, empty_message);
  const TExpToken* node = tree.get();
  int32_t sign = 1;
  if (node->Kind == kTokenUnary && (node->Code == kOpNegate || node->Code == kOpPlusSign)) {
    sign = node->Code == kOpNegate ? -1 : 1;
    node = node->Left;
  }
  if (node->Kind != kTokenConstant || node->Type != kFldInteger || node->IsNull) return 0;
  int32_t value = 0;
  std::memcpy(&value, node->Value(), sizeof value);
  // -2147483648 as a negated constant would overflow; its magnitude is a float.
  return static_cast<int32_t>(sign * static_cast<int64_t>(value));
}

TSourceTable& TDataQuery::AddSourceTable(const std::string& written_name, bool memory,
                                         bool at_front) {
  auto table = std::make_unique<TSourceTable>();
  table->Query = this;
  table->Memory = memory;
  // A name written on another system may separate its folders with '\'.
  std::string name = written_name;
  for (char& c : name) c = c == '\\' ? '/' : c;
  table->TableName = ShortString(ExtractFileName(name));
  if (memory) {
    table->DirectoryPath = kMemoryDirectory;
  } else if (!ExtractFilePath(name).empty()) {
    table->DirectoryPath = ShortString(ExtractFilePath(name));
  } else {
    table->DirectoryPath = Statement.DirectoryPath();
  }
  table->CorrelationName = ShortString(BaseFileName(table->TableName));
  int16_t number = 1;
  for (const auto& other : SourceTables) number = std::max<int16_t>(number, other->Number + 1);
  table->Number = number;
  TSourceTable& added = *table;
  SourceTables.insert(at_front ? SourceTables.begin() : SourceTables.end(), std::move(table));
  return added;
}

TSourceTable& TDataQuery::TableReference(const std::string& name_message,
                                         std::span<const char* const> not_correlations,
                                         bool correlation, const char* memory_message) {
  TExpressionParser& parser = Parser();
  bool memory = false;
  std::string message = name_message;
  if (parser.IsKeyword("MEMORY")) {
    memory = true;
    message = memory_message;
    parser.NextToken();
  }
  if (!parser.IsSymbol(kClassIdentifier) && !parser.IsSymbol(kClassString)) RaiseFound(message);
  const std::string name = parser.GetTokenText();
  parser.NextToken();
  TSourceTable& table = AddSourceTable(name, memory, false);
  if (!correlation) return table;
  if (parser.IsKeyword("AS")) {
    parser.NextToken();
    if (!parser.IsSymbol(kClassIdentifier) && !parser.IsSymbol(kClassString)) {
      RaiseFound("Symbol or string expected after AS keyword, instead found '");
    }
  } else if (parser.IsSymbol(kClassIdentifier)) {
    for (const char* word : not_correlations) {
      if (parser.IsKeyword(word)) return table;
    }
  } else if (!parser.IsSymbol(kClassString)) {
    return table;
  }
  table.CorrelationName = ShortString(parser.GetTokenText());
  parser.NextToken();
  return table;
}

void TDataQuery::Terminate(const char* statement_name) {
  TExpressionParser& parser = Parser();
  // The ';' stays the current token: the statement's Prepare counts it as
  // read and the next statement of a script starts after it.
  if (parser.IsSymbol(';') || parser.IsSymbol(kClassEnd)) return;
  RaiseFound(std::string("End of ") + statement_name + " statement expected, instead found '");
}

void TDataQuery::LanguageClause(TTableOptions& options) {
  TExpressionParser& parser = Parser();
  if (!parser.IsKeyword("LANGUAGE")) return;
  parser.NextToken();
  const std::string language = parser.GetTokenText();
  if (!LocaleNameExists(language)) {
    parser.RaiseParseError("Invalid language constant '" + QuotedText(language) + "'" +
                           " specified after LANGUAGE keyword");
  }
  parser.NextToken();
  const uint16_t language_id = LocaleNameToLanguageID(language);
  options.LanguageId = language_id;
  options.SortId = 0;
  options.LanguageGiven = true;
  if (!parser.IsKeyword("SORT")) return;
  parser.NextToken();
  const std::string sort = parser.GetTokenText();
  if (!SortNameExists(language_id, sort)) {
    parser.RaiseParseError("Invalid sort constant '" + QuotedText(sort) + "'" +
                           " specified after SORT keyword");
  }
  parser.NextToken();
  options.SortId = SortNameToSortID(language_id, sort);
  options.SortGiven = true;
}

void TDataQuery::EncryptionClause(TTableOptions& options) {
  TExpressionParser& parser = Parser();
  if (!parser.IsKeyword("ENCRYPTED")) return;
  parser.NextToken();
  ExpectKeyword("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  options.Password = ShortString(parser.GetTokenText());
  options.Encrypted = !options.Password.empty();
  options.EncryptionGiven = true;
  parser.NextToken();
}

void TDataQuery::EndDataChange(const char* statement_name, bool no_auto_inc_allowed) {
  TExpressionParser& parser = Parser();
  if (no_auto_inc_allowed && parser.IsKeyword("NOAUTOINC")) {
    Options.NoAutoInc = true;
    parser.NextToken();
  }
  if (parser.IsKeyword("COMMIT")) {
    parser.NextToken();
    ExpectKeyword("INTERVAL", "INTERVAL keyword expected after COMMIT keyword, instead found '");
    const int32_t interval = IntegerOption("commit interval", "Commit interval is empty");
    if (interval < 1) {
      parser.RaiseParseError("COMMIT INTERVAL specified (" + IntToStr(interval) +
                             ") is invalid, it must be " + "greater than 0");
    }
    Options.CommitInterval = interval;
    Options.CommitIntervalGiven = true;
  }
  Terminate(statement_name);
}

}  // namespace jw
