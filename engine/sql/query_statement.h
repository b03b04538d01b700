// TQueryStatement: one SQL statement text in the engine: its parser, its
// queries (the main query first, then every sub-query in the order parsing
// made it), and its parameter markers in text order with their bound values.
// Prepare parses one statement of a script and reports how far it read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_session.h"
#include "engine/expr/expression_parser.h"
#include "engine/sql/data_change_execution.h"
#include "engine/sql/data_query.h"
#include "engine/sql/select_execution.h"

namespace jw {

// The context name of the statement's own messages and of its parser
// between clauses.
inline constexpr const char* kSqlStatementContext = "SQL statement";

// A parameter value's place in the value buffer of BindParams starts with a
// flag byte, 1 when a value is present. A BLOB value follows as an int32
// length and a pointer to its bytes; every other value follows in the
// engine's record format.
constexpr int32_t kParamFlagSize = 1;

class TQueryStatement {
 public:
  // directory: the open database directory of the session, where tables
  // named without a path lie. The statement parses and binds under the
  // session's language and sort, and opens its tables through the session.
  TQueryStatement(TDataSession& session, TDataDirectory& directory);
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;
  ~TQueryStatement();

  void SetRequestLive(bool live);
  // Asked while a statement opens an encrypted table whose password the
  // session lacks.
  void SetPasswordHandler(TDataCursor::TPasswordHandler handler, void* user_data);
  TDataCursor::TPasswordHandler PasswordHandler() const { return password_handler_; }
  void* PasswordUserData() const { return password_user_data_; }
  void SetMaxRowCount(int32_t count);

  // Parses the first statement of the text (after a ';' the text may hold
  // more) and adds to consumed the characters it read up to and including
  // that ';', so that a script runner can step to the next statement.
  void Parse(const char* text, int32_t& consumed);
  // Parses, then resolves every query against its tables, sub-queries
  // before the queries around them (the last query first).
  void Prepare(const char* text, int32_t& consumed);

  // Gives parameters 0 .. count - 1 the types and values of the field
  // descriptors (kFieldDescriptorSize bytes each) and the value buffer,
  // where each descriptor's offset locates its value. A parameter that an
  // operator typed at prepare (from its other operand) keeps that type: an
  // integer value is converted to it, any other value must be of it.
  void BindParams(int32_t count, const uint8_t* descriptors, const uint8_t* values);
  // Raises engine error 11949 naming the first parameter no BindParams has
  // given a value; execution calls it before running.
  void CheckParamsBound() const;

  // Runs the prepared statement, its sub-selects first; progress (may be
  // nullptr) hears of the main query's rows, or of each record an INSERT ...
  // SELECT, UPDATE or DELETE processes. A SELECT's result stands in
  // ResultCursor until the next run or Prepare: a result table's cursor, or
  // for a live result the source table's own cursor, editable; the
  // statement owns either. Rows affected and the execution time follow
  // every run.
  void Execute(TSqlProgress progress = nullptr, void* progress_data = nullptr);
  TDataCursor* ResultCursor() const;

  int32_t GetRowsAffected() const;
  double GetExecutionTime() const;

  // Appends a sub-query; the statement owns it.
  TDataQuery& AddQuery(bool sub_select);
  // Appends a parameter marker of the text (called by the parser).
  void AddParameter(TExpToken* parameter);

  TDataSession& Session() const { return session_; }
  TDataDirectory& Directory() const { return directory_; }
  const std::string& DirectoryPath() const { return directory_path_; }
  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }
  TExpressionParser& Parser() { return parser_; }
  TDataQuery* MainQuery() const { return queries_.empty() ? nullptr : queries_.front().get(); }
  const std::vector<std::unique_ptr<TDataQuery>>& Queries() const { return queries_; }
  const std::vector<TExpToken*>& Parameters() const { return parameters_; }

 private:
  // The form a parameter took at prepare; type 0 where it took none.
  struct ParamForm {
    uint8_t Type = 0;
    uint8_t Subtype = 0;
    uint8_t Scale = 0;
    int32_t Size = 0;
  };

  void DropExecutions();
  // Gives the bound parameter the form; false when its value cannot take it.
  static bool TakePreparedForm(TExpToken& parameter, const ParamForm& form);

  TDataSession& session_;
  TDataDirectory& directory_;
  std::string directory_path_;
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;
  TExpressionParser parser_;
  std::vector<std::unique_ptr<TDataQuery>> queries_;
  // The markers belong to the query trees; the list only points at them.
  std::vector<TExpToken*> parameters_;
  std::vector<bool> bound_;
  std::vector<ParamForm> prepared_forms_;
  TDataCursor::TPasswordHandler password_handler_ = nullptr;
  void* password_user_data_ = nullptr;
};

}  // namespace jw
