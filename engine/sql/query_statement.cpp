#include "engine/sql/query_statement.h"

#include <chrono>
#include <cstring>

#include "engine/core/data_file_format.h"
#include "engine/expr/expression_types.h"
#include "engine/sql/sql_subselect_hooks.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/strings.h"

namespace jw {

TQueryStatement::TQueryStatement(TDataSession& session, TDataDirectory& directory)
    : session_(session),
      directory_(directory),
      directory_path_(directory.Path()),
      language_id_(session.LanguageId()),
      sort_id_(session.SortId()),
      parser_(this) {
  queries_.push_back(std::make_unique<TDataQuery>(*this, false));
}

TQueryStatement::~TQueryStatement() {
  DropExecutions();
  while (!queries_.empty()) queries_.pop_back();
}

// The main query's filters may ask its sub-selects, so the runs go from the
// main query on, before any query goes.
void TQueryStatement::DropExecutions() {
  for (const std::unique_ptr<TDataQuery>& query : queries_) query->Execution.reset();
}

void TQueryStatement::SetRequestLive(bool live) {
  queries_.front()->RequestLive = live;
}

void TQueryStatement::SetPasswordHandler(TDataCursor::TPasswordHandler handler, void* user_data) {
  password_handler_ = handler;
  password_user_data_ = user_data;
}

void TQueryStatement::SetMaxRowCount(int32_t count) {
  queries_.front()->MaxRowCount = count;
}

void TQueryStatement::Prepare(const char* text, int32_t& consumed) {
  Parse(text, consumed);
  for (auto query = queries_.rbegin(); query != queries_.rend(); ++query) (*query)->Resolve();
  for (const TExpToken* parameter : parameters_) {
    prepared_forms_.push_back(
        {parameter->Type, parameter->Subtype, parameter->Scale, parameter->Size()});
  }
}

void TQueryStatement::Parse(const char* text, int32_t& consumed) {
  EnsureSqlSubSelectHooks();
  DropExecutions();
  while (queries_.size() > 1) queries_.pop_back();
  parameters_.clear();
  bound_.clear();
  prepared_forms_.clear();
  parser_.SetErrorCode(kErrSql);
  parser_.SetContextName(kSqlStatementContext);
  parser_.SetText(text);
  parser_.NextToken();
  try {
    queries_.front()->ParseStatement();
  } catch (...) {
    // A failed statement keeps no sub-query that points into its trees.
    while (queries_.size() > 1) queries_.pop_back();
    parameters_.clear();
    bound_.clear();
    throw;
  }
  // A statement ends with its ';', which the parser has just read: the
  // next statement of a script starts right after it.
  consumed += parser_.IsSymbol(';') ? parser_.GetTokenOffset() + 1 : parser_.GetTokenOffset();
}

void TQueryStatement::AddParameter(TExpToken* parameter) {
  parameters_.push_back(parameter);
  bound_.push_back(false);
}

TDataQuery& TQueryStatement::AddQuery(bool sub_select) {
  queries_.push_back(std::make_unique<TDataQuery>(*this, sub_select));
  return *queries_.back();
}

namespace {

// A string or a text BLOB: the operators take either as text.
bool IsTextForm(uint8_t type, uint8_t subtype) {
  return type == kFldString || (type == kFldBlob && subtype == kSubTypeTextBlob);
}

}  // namespace

// The operators around the parameter were typed for this form at prepare
// and evaluate by it: a value of another type would be read in the wrong
// layout. Text is text in either form; an integer converts to any numeric
// form it fits; a NULL value takes the form as it is.
bool TQueryStatement::TakePreparedForm(TExpToken& parameter, const ParamForm& form) {
  if (parameter.Type == form.Type) return true;
  if (!parameter.IsNull && IsTextForm(parameter.Type, parameter.Subtype) &&
      IsTextForm(form.Type, form.Subtype)) {
    return true;
  }
  if (!parameter.IsNull) {
    const bool numeric = IsIntegerType(form.Type) || form.Type == kFldFloat || form.Type == kFldBcd;
    if (!IsIntegerType(parameter.Type) || !numeric) return false;
    static_assert(kTokenValueInitial >= kValueBufferSize, "conversions need a value buffer");
    if (!ConvertFieldValue(parameter.Type, parameter.Size(), parameter.Scale, parameter.Value(),
                           form.Scale, form.Size, form.Type)) {
      return false;
    }
  }
  parameter.Type = form.Type;
  parameter.Subtype = form.Subtype;
  parameter.SetValueSize(form.Size);
  parameter.Scale = form.Scale;
  return true;
}

void TQueryStatement::BindParams(int32_t count, const uint8_t* descriptors, const uint8_t* values) {
  for (int32_t i = 0; i < count; ++i) {
    if (i >= static_cast<int32_t>(parameters_.size())) {
      RaiseEngineError(kErrSql, std::string(), std::string(), std::string(),
                       "Internal parameter error");
    }
    FieldDescriptor field;
    field.DecodeFrom(descriptors + static_cast<size_t>(i) * kFieldDescriptorSize);
    TExpToken& parameter = *parameters_[i];
    const uint8_t* value = values + field.Offset;
    parameter.Type = field.Type;
    parameter.Subtype = field.SubType;
    parameter.IsNull = value[0] == 0;
    // Text (a string, a text BLOB) is read up to a zero byte, and a string
    // becomes an index key that way: the value is followed by zeros (room
    // for one at least), never by the bytes of an earlier binding.
    const auto take = [&parameter](const uint8_t* bytes, int32_t length) {
      parameter.SetValueSize(length + 1);
      std::memset(parameter.Value(), 0, static_cast<size_t>(parameter.ValueCapacity()));
      parameter.SetValueSize(length);
      if (length > 0) std::memcpy(parameter.Value(), bytes, static_cast<size_t>(length));
    };
    if (field.Type == kFldBlob) {
      int32_t length = 0;
      const uint8_t* bytes = nullptr;
      std::memcpy(&length, value + kParamFlagSize, sizeof length);
      std::memcpy(&bytes, value + kParamFlagSize + sizeof length, sizeof bytes);
      if (length < 0 || (length > 0 && bytes == nullptr)) length = 0;
      take(bytes, length);
      parameter.Scale = 0;
    } else {
      take(value + kParamFlagSize, field.PhysicalLength);
      parameter.Scale = field.PhysicalDecimals;
    }
    const ParamForm& form = i < static_cast<int32_t>(prepared_forms_.size())
                                ? prepared_forms_[static_cast<size_t>(i)]
                                : ParamForm();
    if (form.Type != 0 && !TakePreparedForm(parameter, form)) {
      // Its value no longer stands: a run must not take it for bound.
      bound_[i] = false;
      RaiseEngineError(kErrSql, std::string(), std::string(), std::string(),
                       "Type mismatch between parameter " + IntToStr(i + 1) +
                           " and the expression it stands in");
    }
    bound_[i] = true;
  }
}

void TQueryStatement::CheckParamsBound() const {
  for (size_t i = 0; i < bound_.size(); ++i) {
    if (!bound_[i]) {
      RaiseEngineError(
          kErrSql, std::string(), std::string(), std::string(),
          "Parameter " + IntToStr(static_cast<int32_t>(i + 1)) + " has not been bound to a value");
    }
  }
}

void TQueryStatement::Execute(TSqlProgress progress, void* progress_data) {
  CheckParamsBound();
  TDataQuery& main = *queries_.front();
  const auto start = std::chrono::steady_clock::now();
  // Sub-selects run first: the SELECT part of INSERT ... SELECT leaves its
  // rows in a result table, which the INSERT then reads.
  for (auto query = queries_.rbegin(); query != queries_.rend(); ++query) {
    TDataQuery& run = **query;
    if (run.Kind != kSqlSelect) continue;
    if (!run.Execution) run.Execution = std::make_unique<TSelectExecution>(run);
    run.Execution->Execute(&run == &main ? progress : nullptr, progress_data);
  }
  if (main.Kind == kSqlInsert || main.Kind == kSqlUpdate || main.Kind == kSqlDelete) {
    TDataChangeExecution(main).Execute(progress, progress_data);
  } else if (main.Kind != kSqlSelect) {
    main.ExecuteDefinition();
  }
  main.ExecutionTime =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TDataCursor* TQueryStatement::ResultCursor() const {
  const TDataQuery* query = MainQuery();
  return query == nullptr || !query->Execution ? nullptr : query->Execution->ResultCursor();
}

int32_t TQueryStatement::GetRowsAffected() const {
  return queries_.empty() ? 0 : queries_.front()->RowsAffected;
}

double TQueryStatement::GetExecutionTime() const {
  return queries_.empty() ? 0 : queries_.front()->ExecutionTime;
}

}  // namespace jw
