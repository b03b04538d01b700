// TDataQuery: one SQL statement or sub-select as parsed: its kind, flags,
// tables, select list, targets and values, conditions, ORDER BY and GROUP
// BY items, definitions and table options. ParseStatement reads it with the
// owning statement's parser; the grammar of each statement kind lives in
// select_grammar.cpp, data_change_grammar.cpp and table_definition_grammar.cpp.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/expr/expression_tokens.h"
#include "engine/sql/sql_parse_tree.h"

namespace jw {

class TExpressionParser;
class TQueryStatement;
class TSelectExecution;

// Statement kinds.
constexpr uint8_t kSqlSelect = 1;
constexpr uint8_t kSqlInsert = 2;
constexpr uint8_t kSqlUpdate = 3;
constexpr uint8_t kSqlDelete = 4;
constexpr uint8_t kSqlCreateTable = 5;
constexpr uint8_t kSqlAlterTable = 6;
constexpr uint8_t kSqlDropTable = 7;
constexpr uint8_t kSqlCreateIndex = 8;
constexpr uint8_t kSqlDropIndex = 9;

// Join kinds of an ON condition, marked on its comparisons.
constexpr uint8_t kJoinInner = 1;
constexpr uint8_t kJoinLeft = 2;
constexpr uint8_t kJoinRight = 3;

// The context of WHERE and JOIN ... ON conditions.
inline constexpr const char* kConditionContext = "WHERE or JOIN clause";

// The context and the empty message of a column name.
inline constexpr const char* kColumnContext = "table column";
inline constexpr const char* kColumnEmpty = "Table column name is empty";

// Sets the parser's context name to a clause's for a scope, then back to the
// statement's own, also when the clause fails.
class TClauseContext {
 public:
  TClauseContext(TExpressionParser& parser, const char* context);
  ~TClauseContext();
  TClauseContext(const TClauseContext&) = delete;
  TClauseContext& operator=(const TClauseContext&) = delete;

 private:
  TExpressionParser& parser_;
};

class TDataQuery {
 public:
  // sub_select: a sub-select or the SELECT part of INSERT ... SELECT, which
  // ends at the first token that does not continue its grammar.
  TDataQuery(TQueryStatement& statement, bool sub_select);
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;
  ~TDataQuery();

  // Parses one statement from the parser's current token under the
  // session's language settings, after resetting every clause. Does nothing
  // once the query has been executed.
  void ParseStatement();
  // Binds the parsed statement to its tables (name_resolution.cpp): opens
  // every source table, then for a SELECT expands, names and binds the
  // select list and checks GROUP BY, ORDER BY, DISTINCT and HAVING. Every
  // fault raises engine error 11949; tables opened stay open until the
  // statement goes.
  void Resolve();

  // The data definition statements (table_definition_exec.cpp): Resolve
  // makes the target's exclusive cursor, ExecuteDefinition runs the
  // statement on it, and the target is closed again on every path.
  void PrepareDefinition();
  void ExecuteDefinition();

  // Binds a WHERE, JOIN ... ON or residual condition of the resolved query
  // against its source tables under the session's language; it must be
  // boolean. Execution binds each condition before it runs.
  void BindCondition(TExpToken* condition);

  // Binds a value of INSERT VALUES or UPDATE SET under the session's
  // language; its columns are the target's own.
  void BindUpdateValue(TExpToken* value);

  // The source table of a column reference: with a correlation name the
  // first table of that name (the column "*" or empty names the table
  // itself, number 0); without one the first table holding the column, or
  // the first table for "*" or empty. Names compare without regard to case;
  // nullptr when nothing matches.
  TSourceTable* FindSourceColumn(const std::string& correlation, const std::string& column,
                                 int16_t& number) const;
  // The result field of an ORDER BY, GROUP BY or HAVING reference;
  // aggregate fields answer to their column name only with_aggregates.
  TResultField* FindResultField(const std::string& correlation, const std::string& column,
                                bool with_aggregates) const;

  TQueryStatement& Statement;
  const bool SubSelect;
  bool Executed = false;
  uint8_t Kind = 0;
  double ExecutionTime = 0;  // seconds
  bool RequestLive = false;
  int32_t RowsAffected = 0;
  int32_t MaxRowCount = -1;  // -1: no limit

  bool Distinct = false;
  bool HasAggregates = false;
  bool HasAvg = false;
  bool HasComputed = false;  // a select item that is not a plain column
  bool HasJoins = false;     // a JOIN, or more than one table in FROM
  bool NoJoinOptimize = false;
  bool HasCondition = false;  // WHERE or JOIN ... ON
  bool HasHaving = false;
  bool HasOrderBy = false;
  bool OrderByNoCase = false;
  bool HasGroupBy = false;
  bool HasPlainItems = false;    // a select item that is not an aggregate
  bool AggregateOnly = false;    // every result field an aggregate, no GROUP BY
  bool RecordCountOnly = false;  // COUNT(*) alone over one table
  bool HasBlobResult = false;
  bool LiveAllowed = true;  // no computed BLOB item
  // The result is the source table's own cursor, decided at prepare
  // (live_result.cpp); IndexNumber is then the index it walks.
  bool Live = false;
  bool HasBlobTarget = false;  // an INSERT or UPDATE target column is a BLOB
  uint8_t IndexNumber = kNaturalOrder;
  // INTO MEMORY of a SELECT; the MEMORY of a data definition's target.
  bool IntoMemory = false;
  bool InsertSelect = false;
  bool WithLocks = false;
  // The SELECT part of an INSERT ... SELECT (a later query of the statement).
  TDataQuery* SelectPart = nullptr;

  std::string ResultTableName;  // after INTO; empty: a generated name
  std::string SecondName;       // the index of CREATE INDEX and DROP INDEX

  // The target of INSERT, UPDATE, DELETE and the data definition
  // statements is SourceTables[0].
  std::vector<std::unique_ptr<TSourceTable>> SourceTables;
  std::vector<std::unique_ptr<TResultField>> ResultFields;
  std::vector<std::unique_ptr<TUpdateField>> UpdateFields;
  std::vector<std::unique_ptr<TUpdateValue>> UpdateValues;
  std::vector<std::unique_ptr<TOrderByField>> OrderBy;
  std::vector<std::unique_ptr<TGroupByField>> GroupBy;
  std::vector<std::unique_ptr<TCreateField>> CreateFields;
  std::vector<std::unique_ptr<TCreateIndex>> CreateIndexes;
  // WHERE and every JOIN ... ON condition, joined by AND.
  TTokenTree Condition;
  // Each JOIN in the order written: its kind and the table its ON
  // condition matches, the joined one (of a RIGHT JOIN, the table before it).
  struct TJoinClause {
    uint8_t Kind = 0;
    TSourceTable* Target = nullptr;
  };
  std::vector<TJoinClause> Joins;
  TTokenTree Having;
  TTableOptions Options;
  // The run of a SELECT with its result table; made by the first run. It
  // goes before the source tables whose cursors it filters.
  std::unique_ptr<TSelectExecution> Execution;

 private:
  void Reset();
  void Dispatch();
  TExpressionParser& Parser() const;

  // Clause helpers (data_query.cpp).
  [[noreturn]] void RaiseFound(const std::string& prefix) const;
  void ExpectKeyword(const char* word, const std::string& prefix);
  void ExpectSymbol(uint8_t symbol, const std::string& prefix);
  bool IsAnyKeyword(std::initializer_list<const char*> words) const;
  bool IsName() const;  // a word, bracketed name or quoted string
  // An expression under a clause's context name; empty_message when the
  // clause holds no expression at all. ExpressionText then gives its text.
  TTokenTree ClauseExpression(uint8_t flags, const char* context, const char* empty_message,
                              bool primary = false);
  std::string ExpressionText() const;
  // A constant integer (a sign allowed); any other expression gives 0.
  int32_t IntegerOption(const char* context, const char* empty_message);
  TSourceTable& TableReference(const std::string& name_message,
                               std::span<const char* const> not_correlations,
                               bool correlation = true,
                               const char* memory_message = "Table name expected, instead found '");
  TSourceTable& AddSourceTable(const std::string& written_name, bool memory, bool at_front);
  void Terminate(const char* statement_name);
  void LanguageClause(TTableOptions& options);
  void EncryptionClause(TTableOptions& options);
  // NOAUTOINC where allowed, COMMIT INTERVAL and the end of INSERT, UPDATE
  // or DELETE.
  void EndDataChange(const char* statement_name, bool no_auto_inc_allowed);

  // SELECT (select_grammar.cpp).
  void ParseSelect();
  void SelectItem();
  void ClassifyItem(TResultField& field);
  void FromClause();
  void JoinClauses();
  void WhereClause();
  void AddCondition(TTokenTree condition);
  template <typename Field>
  void ColumnList(std::vector<std::unique_ptr<Field>>& items, const std::string& message);

  // INSERT, UPDATE, DELETE (data_change_grammar.cpp).
  void ParseInsert();
  void ParseUpdate();
  void ParseDelete();
  void AddTargetColumn();
  void AddValue();

  // Name resolution (name_resolution.cpp).
  // A cursor on the table, closed, in the table's directory (opened in the
  // session the first time).
  TDataCursor& CreateTableCursor(TSourceTable& table);
  // Opens the cursor with the statement's password handler.
  void OpenWithPasswordHandler(TDataCursor& cursor) const;
  void OpenSourceTables();
  void CheckSelectList();
  void ExpandStar(const TResultField& item, std::vector<std::unique_ptr<TResultField>>& fields);
  void BindSelectItem(TResultField& field);
  // A HAVING aggregate turned into a reference to the select-list
  // aggregate it matched; named once the result names are made.
  using THavingReference = std::pair<TExpToken*, const TResultField*>;
  // Each aggregate must match a select-list aggregate of the same function
  // over an equal argument tree; its argument tree is freed.
  std::vector<THavingReference> MatchHavingAggregates();
  void CheckGrouping();
  template <typename Field>
  void CheckColumnList(std::vector<std::unique_ptr<Field>>& items, const char* clause);
  void CheckDistinct();
  void BindHaving();
  // Target columns of INSERT and UPDATE (target_resolution.cpp).
  void ResolveTargets();
  void AddSelectPartValues();
  // Binds the values of INSERT VALUES and UPDATE, then checks each constant
  // of another type than its column's: a date, time or timestamp text must
  // parse, any other constant must be assignable to the column.
  void CheckUpdateValues();
  // Result names (result_names.cpp): the default name of each field still
  // unnamed, then every name made unique.
  void NameResultFields();
  // Live results (live_result.cpp). A SELECT asked for live over one table
  // without DISTINCT, grouping or HAVING, whose ORDER BY an index serves,
  // becomes live: its table's cursor takes the select list as its field
  // list.
  void DecideLive();
  // The first index, primary first, whose leading segments are the ORDER
  // BY columns in their directions; false when none is or an item is
  // computed.
  bool OrderByIndex(uint8_t& number) const;
  // By result field: whether the item is a plain column listed before.
  std::vector<bool> RepeatedColumns() const;
  void MakeLiveFieldList();

  // CREATE, ALTER, DROP (table_definition_grammar.cpp).
  void ParseCreateTable();
  void ParseCreateIndex();
  void ParseAlterTable();
  void ParseDropTable();
  void ParseDropIndex();
  void DefinitionTable(const std::string& name_message);
  bool StartsPrimaryKey() const;
  TCreateIndex& PrimaryKeyClause();
  void IndexModifiers(TCreateIndex& index);
  void IndexColumns(TCreateIndex& index);
  void Compression(TCreateIndex& index);
  TCreateField& ColumnDefinition(bool type_required);
  void ColumnName(TCreateField& field, bool type_required);
  void ColumnAttributes(TCreateField& field, bool at_allowed);
  void TableOptions(bool alter);
  void AlterChange();
  void ExecuteCreateTable();
  void ExecuteCreateIndex();
  void ExecuteDropIndex();
  void ExecuteAlterTable();
  // ALTER TABLE's column changes in order: an added column takes the next
  // free field number; the names of dropped columns are collected.
  void ApplyColumnChanges(std::vector<FieldDescriptor>& fields,
                          std::vector<std::string>& dropped) const;
  // ALTER TABLE's primary key changes: index 0 made anew or cleared.
  void ApplyKeyChanges(TTableDefinition& definition, const std::string& table) const;

  // The SELECT part of an INSERT, whose FROM tables may not take the
  // INSERT's own words as correlation names.
  bool insert_part_ = false;
};

}  // namespace jw
