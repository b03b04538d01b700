// The grammar of the data definition statements: CREATE TABLE with its
// column definitions, primary key clause and table options, CREATE INDEX,
// ALTER TABLE with its ADD, REDEFINE and DROP changes, DROP TABLE and DROP
// INDEX. The checks that need no table are made here; the rest when the
// statement runs against its table.
#include <cstdint>
#include <utility>

#include "engine/expr/expression_binder.h"
#include "engine/expr/expression_parser.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

struct NamedCode {
  const char* name;
  uint8_t code;
};

constexpr NamedCode kCompressions[] = {{"FULL", kCompressFull},
                                       {"DUPBYTE", kCompressDupByte},
                                       {"TRAILBYTE", kCompressTrailByte},
                                       {"NONE", kCompressNone}};

constexpr NamedCode kCharCases[] = {
    {"UPPER", kCaseUpper}, {"LOWER", kCaseLower}, {"NOCHANGE", kCaseKeep}};

// The attribute words of a column definition, and the table options that
// may follow a REDEFINE: none of them starts a second column definition.
constexpr const char* kNotANewColumn[] = {
    "AT",       "DESCRIPTION", "NOT",      "DEFAULT",   "MIN",  "MINIMUM", "MAX",     "MAXIMUM",
    "CHARCASE", "BLOB",        "LANGUAGE", "ENCRYPTED", "USER", "LAST",    "NOBACKUP"};

}  // namespace

void TDataQuery::DefinitionTable(const std::string& name_message) {
  const TSourceTable& table = TableReference(name_message, {}, false);
  IntoMemory = table.Memory;
}

bool TDataQuery::StartsPrimaryKey() const {
  return IsAnyKeyword(
      {"CONSTRAINT", "PRIMARY", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"});
}

void TDataQuery::IndexModifiers(TCreateIndex& index) {
  TExpressionParser& parser = Parser();
  if (parser.IsKeyword("UNIQUE")) {
    index.Unique = true;
    parser.NextToken();
  }
  if (IsAnyKeyword({"ASC", "ASCENDING"})) {
    parser.NextToken();
  } else if (IsAnyKeyword({"DESC", "DESCENDING"})) {
    index.Descending = true;
    parser.NextToken();
  }
  if (parser.IsKeyword("NOCASE")) {
    index.CaseInsensitive = true;
    parser.NextToken();
  }
}

void TDataQuery::IndexColumns(TCreateIndex& index) {
  TExpressionParser& parser = Parser();
  ExpectSymbol('(', "Left parentheses expected after KEY keyword, instead found '");
  for (;;) {
    const TTokenTree column =
        ClauseExpression(0, "index column", "Index column name is empty", true);
    // A string constant stands for the column of that name.
    index.ColumnNames.push_back(
        ShortString(column->Kind == kTokenColumn ? column->ColumnName : column->SourceText));
    if (!parser.IsSymbol(',')) break;
    parser.NextToken();
  }
  ExpectSymbol(')', "Right parentheses expected after primary key clause, instead found '");
  if (index.ColumnNames.size() > kMaxIndexColumns) {
    RaiseEngineError(kErrIndexLimits, SourceTables.front()->TableName, std::string(), index.Name);
  }
}

void TDataQuery::Compression(TCreateIndex& index) {
  TExpressionParser& parser = Parser();
  if (!parser.IsKeyword("COMPRESS")) return;
  parser.NextToken();
  for (const NamedCode& mode : kCompressions) {
    if (parser.IsKeyword(mode.name)) {
      index.Compression = mode.code;
      parser.NextToken();
      return;
    }
  }
  RaiseFound(
      "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead "
      "found '");
}

TCreateIndex& TDataQuery::PrimaryKeyClause() {
  TExpressionParser& parser = Parser();
  auto index = std::make_unique<TCreateIndex>();
  index->Query = this;
  if (parser.IsKeyword("CONSTRAINT")) {
    parser.NextToken();
    parser.NextToken();  // the constraint's name, which the table does not keep
  }
  IndexModifiers(*index);
  ExpectKeyword("PRIMARY", "PRIMARY keyword expected, instead found '");
  ExpectKeyword("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  IndexColumns(*index);
  Compression(*index);
  CreateIndexes.push_back(std::move(index));
  return *CreateIndexes.back();
}

void TDataQuery::ColumnName(TCreateField& field, bool type_required) {
  TExpressionParser& parser = Parser();
  TTokenTree column = ClauseExpression(0, kColumnContext, kColumnEmpty, true);
  // The data type hangs its arguments on the name's node, so the name must be
  // a bare column or a string, never an expression with operands of its own.
  const bool is_string = column->Kind == kTokenConstant && column->Type == kFldString;
  if (column->Kind != kTokenColumn && !is_string) {
    parser.RaiseParseError("Table column name expected, instead found '" +
                           QuotedText(column->SourceText) + "'");
  }
  field.ColumnName = ShortString(is_string ? column->SourceText : column->ColumnName);
  column->Type = 0;
  {
    TClauseContext clause(parser, kColumnContext);
    parser.ParseDataType(column.get(), 0, !type_required);
    if (column->Type != 0) {
      CheckCastArguments(kErrSql, std::string(), kColumnContext, column.get());
    }
  }
  if (column->Type == 0) return;
  field.Type = column->Type;
  field.Subtype = column->Subtype;
  field.Scale = column->Scale;
  if (column->Type == kFldString) field.Size = static_cast<uint8_t>(column->Size() - 1);
  if (column->Type == kFldBytes) field.Size = static_cast<uint8_t>(column->Size());
}

void TDataQuery::ColumnAttributes(TCreateField& field, bool at_allowed) {
  TExpressionParser& parser = Parser();
  if (parser.IsSymbol(',')) return;
  auto text_attribute = [&parser](std::string& value, bool& given) {
    parser.NextToken();
    value = ShortString(parser.GetTokenText());
    given = true;
    parser.NextToken();
  };
  if (at_allowed && parser.IsKeyword("AT")) {
    parser.NextToken();
    const int32_t at = IntegerOption("column position", "column position is empty");
    field.At = static_cast<int16_t>(at < INT16_MIN ? INT16_MIN : at > INT16_MAX ? INT16_MAX : at);
    field.AtGiven = true;
  }
  if (parser.IsKeyword("DESCRIPTION")) text_attribute(field.Description, field.DescriptionGiven);
  if (parser.IsKeyword("NOT")) {
    parser.NextToken();
    ExpectKeyword("NULL", "NULL keyword expected after NOT keyword, instead found '");
    field.Required = true;
    field.RequiredGiven = true;
  }
  if (parser.IsKeyword("DEFAULT")) text_attribute(field.Default, field.DefaultGiven);
  if (IsAnyKeyword({"MIN", "MINIMUM"})) text_attribute(field.Minimum, field.MinimumGiven);
  if (IsAnyKeyword({"MAX", "MAXIMUM"})) text_attribute(field.Maximum, field.MaximumGiven);
  if (parser.IsKeyword("CHARCASE")) {
    parser.NextToken();
    for (const NamedCode& mode : kCharCases) {
      if (parser.IsKeyword(mode.name)) {
        field.CharCase = mode.code;
        field.CharCaseGiven = true;
        parser.NextToken();
        return;
      }
    }
    RaiseFound(
        "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
  }
}

TCreateField& TDataQuery::ColumnDefinition(bool type_required) {
  auto field = std::make_unique<TCreateField>();
  field->Query = this;
  ColumnName(*field, type_required);
  CreateFields.push_back(std::move(field));
  return *CreateFields.back();
}

void TDataQuery::TableOptions(bool alter) {
  TExpressionParser& parser = Parser();
  if (parser.IsKeyword("DESCRIPTION")) {
    parser.NextToken();
    Options.Description = ShortString(parser.GetTokenText());
    Options.DescriptionGiven = true;
    parser.NextToken();
  }
  if (parser.IsKeyword("BLOB")) {
    parser.NextToken();
    ExpectKeyword("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    ExpectKeyword("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    Options.BlobBlockSize = IntegerOption("BLOB block size", "BLOB block size is empty");
    Options.BlobBlockSizeGiven = true;
  }
  LanguageClause(Options);
  EncryptionClause(Options);
  auto version = [this](const char* part, const char* message, int32_t& value, bool& given) {
    ExpectKeyword(part, message);
    ExpectKeyword("VERSION", std::string("VERSION keyword expected after ") + part +
                                 " keyword, instead found '");
    value = IntegerOption("user version number", "User version number is empty");
    given = true;
  };
  // USER MINOR VERSION may stand without USER MAJOR VERSION before it.
  if (parser.IsKeyword("USER")) {
    parser.NextToken();
    if (!parser.IsKeyword("MINOR")) {
      version("MAJOR", "MAJOR keyword expected after USER keyword, instead found '",
              Options.UserMajorVersion, Options.UserMajorVersionGiven);
      if (parser.IsKeyword("USER")) {
        parser.NextToken();
        version("MINOR", "MINOR keyword expected after USER keyword, instead found '",
                Options.UserMinorVersion, Options.UserMinorVersionGiven);
      }
    } else {
      version("MINOR", "MINOR keyword expected after USER keyword, instead found '",
              Options.UserMinorVersion, Options.UserMinorVersionGiven);
    }
  }
  if (!alter) return;
  if (parser.IsKeyword("LAST")) {
    parser.NextToken();
    ExpectKeyword("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    Options.LastAutoInc =
        IntegerOption("next auto-increment number", "Next auto-increment number is empty");
    Options.LastAutoIncGiven = true;
  }
  if (parser.IsKeyword("NOBACKUP")) {
    Options.NoBackup = true;
    parser.NextToken();
  }
}

void TDataQuery::ParseCreateTable() {
  TExpressionParser& parser = Parser();
  parser.NextToken();  // TABLE
  DefinitionTable("Table name expected after CREATE TABLE keywords, instead found '");
  ExpectSymbol('(', "Left parentheses expected before list of table columns, instead found '");
  int16_t position = 0;
  while (!parser.IsSymbol(')') && !parser.IsSymbol(kClassEnd) && !StartsPrimaryKey() &&
         !IsAnyKeyword({"DESCRIPTION", "BLOB", "LANGUAGE", "ENCRYPTED", "USER"})) {
    TCreateField& field = ColumnDefinition(true);
    field.Position = ++position;
    ColumnAttributes(field, false);
    if (!parser.IsSymbol(',')) break;
    parser.NextToken();
  }
  if (StartsPrimaryKey()) PrimaryKeyClause();
  TableOptions(false);
  ExpectSymbol(')', "Right parentheses expected after CREATE TABLE statement, instead found '");
  Terminate("CREATE TABLE");
}

void TDataQuery::ParseCreateIndex() {
  TExpressionParser& parser = Parser();
  auto index = std::make_unique<TCreateIndex>();
  index->Query = this;
  IndexModifiers(*index);
  ExpectKeyword("INDEX", "INDEX keyword expected, instead found '");
  if (!parser.IsSymbol(kClassIdentifier) && !parser.IsSymbol(kClassString)) {
    RaiseFound("Index name expected after INDEX keyword, instead found '");
  }
  index->Name = ShortString(parser.GetTokenText());
  SecondName = index->Name;
  parser.NextToken();
  ExpectKeyword("ON", "ON keyword expected after index name, instead found '");
  DefinitionTable("Table name expected after ON keyword, instead found '");
  IndexColumns(*index);
  Compression(*index);
  CreateIndexes.push_back(std::move(index));
  Terminate("CREATE INDEX");
}

void TDataQuery::AlterChange() {
  TExpressionParser& parser = Parser();
  const bool add = parser.IsKeyword("ADD");
  const bool redefine = parser.IsKeyword("REDEFINE");
  if (parser.IsKeyword("DROP")) {
    parser.NextToken();
    if (parser.IsKeyword("CONSTRAINT") || parser.IsKeyword("PRIMARY")) {
      if (parser.IsKeyword("CONSTRAINT")) {
        parser.NextToken();
        parser.NextToken();  // the constraint's name
      }
      ExpectKeyword("PRIMARY", "PRIMARY keyword expected, instead found '");
      ExpectKeyword("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
      auto index = std::make_unique<TCreateIndex>();
      index->Query = this;
      index->Drop = true;
      CreateIndexes.push_back(std::move(index));
      return;
    }
    if (parser.IsKeyword("COLUMN")) parser.NextToken();
    ColumnDefinition(false).Drop = true;
    return;
  }
  if (!add && !redefine) RaiseFound("ADD, DROP, or REDEFINE keyword expected, instead found '");
  parser.NextToken();
  if (StartsPrimaryKey()) {
    TCreateIndex& index = PrimaryKeyClause();
    index.Add = add;
    index.Redefine = redefine;
    return;
  }
  if (parser.IsKeyword("COLUMN")) parser.NextToken();
  TCreateField& field = ColumnDefinition(add);
  field.Add = add;
  field.Redefine = redefine;
  bool second = false;
  if (redefine && IsName()) {
    second = true;
    for (const char* word : kNotANewColumn) second = second && !parser.IsKeyword(word);
  }
  if (second) {
    // The first definition names the column, the second its new name and type.
    TCreateField renamed;
    ColumnName(renamed, false);
    field.NewColumnName = renamed.ColumnName;
    if (renamed.Type != 0) {
      field.Type = renamed.Type;
      field.Subtype = renamed.Subtype;
      field.Size = renamed.Size;
      field.Scale = renamed.Scale;
    }
  }
  ColumnAttributes(field, true);
}

void TDataQuery::ParseAlterTable() {
  TExpressionParser& parser = Parser();
  parser.NextToken();  // TABLE
  DefinitionTable("Table name expected after ALTER TABLE keywords, instead found '");
  for (;;) {
    AlterChange();
    if (!parser.IsSymbol(',')) break;
    parser.NextToken();
  }
  TableOptions(true);
  Terminate("ALTER TABLE");
}

void TDataQuery::ParseDropTable() {
  Parser().NextToken();  // TABLE
  DefinitionTable("Table name expected after TABLE keyword, instead found '");
  Terminate("DROP TABLE");
}

void TDataQuery::ParseDropIndex() {
  TExpressionParser& parser = Parser();
  parser.NextToken();  // INDEX
  bool memory = false;
  if (parser.IsKeyword("MEMORY")) {
    memory = true;
    parser.NextToken();
  }
  const TTokenTree name =
      ClauseExpression(0, "index name expression", "Index name expression is empty", true);
  // The qualifier as written (a path included) names the table.
  const std::string& text = name->SourceText;
  if (name->Kind != kTokenColumn || name->TableName.empty() ||
      text.size() <= name->ColumnName.size()) {
    parser.RaiseParseError("Table name expected after INDEX keyword, instead found '" +
                           QuotedText(text) + "'");
  }
  AddSourceTable(text.substr(0, text.size() - name->ColumnName.size() - 1), memory, false);
  IntoMemory = memory;
  SecondName = name->ColumnName;
  Terminate("DROP INDEX");
}

}  // namespace jw
