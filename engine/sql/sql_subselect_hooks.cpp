#include "engine/sql/sql_subselect_hooks.h"

#include <string>

#include "engine/expr/expression_parser.h"
#include "engine/expr/subselect_hooks.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/support/engine_errors.h"
#include "engine/support/support_startup.h"

namespace jw {

namespace {

class TSqlSubSelectHooks : public TSubSelectHooks {
 public:
  // Only the SQL engine parses with sub-selects and parameters allowed, so
  // the owner of the parser is always a statement here.
  void* ParseSubSelect(void* owner, TExpressionParser& parser) override {
    auto& statement = *static_cast<TQueryStatement*>(owner);
    // The clause around the sub-select goes on under its own context name.
    const std::string context = parser.ContextName();
    TDataQuery& query = statement.AddQuery(true);
    query.ParseStatement();
    parser.SetContextName(context);
    return &query;
  }

  void AddParameter(void* owner, TExpToken* parameter) override {
    static_cast<TQueryStatement*>(owner)->AddParameter(parameter);
  }

  int32_t SubSelectColumnCount(void* query) override {
    return static_cast<int32_t>(static_cast<TDataQuery*>(query)->ResultFields.size());
  }

  bool BindSubSelectColumn(void* query, TExpToken& node) override {
    const auto& fields = static_cast<TDataQuery*>(query)->ResultFields;
    if (fields.empty() || fields.front()->Type == 0) return false;
    const TResultField& field = *fields.front();
    node.ColumnName = field.ResultName;
    node.Type = field.Type;
    node.Subtype = field.Subtype;
    node.SetValueSize(field.Size);
    node.Scale = field.Scale;
    return true;
  }

  // A sub-select is counted through its result cursor, which only its
  // execution opens.
  int32_t SubSelectRecordCount(void* query, const TExpToken& comparison) override {
    const auto& sub_select = *static_cast<TDataQuery*>(query);
    if (!sub_select.Execution || sub_select.Execution->ResultCursor() == nullptr) {
      RaiseEngineError(kErrSql, std::string(), std::string(), std::string(),
                       "Sub-select query has not been executed");
    }
    return sub_select.Execution->CountMatches(*comparison.Left);
  }
};

TSqlSubSelectHooks& Hooks() {
  static TSqlSubSelectHooks hooks;
  return hooks;
}

void RegisterHooks() {
  SetSubSelectHooks(&Hooks());
}

void UnregisterHooks() {
  if (SubSelectHooks() == &Hooks()) SetSubSelectHooks(nullptr);
}

const bool hooks_registered =
    (RegisterEngineSupportStep("SQL sub-select hooks", RegisterHooks, UnregisterHooks), true);

}  // namespace

void EnsureSqlSubSelectHooks() {
  if (SubSelectHooks() == nullptr) RegisterHooks();
}

}  // namespace jw
