// TQuireQuery: the dataset over the result of one SQL statement. It keeps
// the statement's lines, turns their named parameters into markers, prepares
// the statement on its database's engine directory (holding the database
// while prepared), binds the parameter values, runs the statement and shows
// the result cursor that the statement keeps. A statement that returns no
// rows runs once through Open and leaves the query closed, with its rows
// affected. TQuireQueryDataLink takes unbound parameter values from a master
// dataset's current record and runs the query again when that record moves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/quire_db_dataset.h"
#include "engine/dataset/quire_params.h"
#include "platform/db/data_link.h"
#include "platform/rtl/string_list.h"

namespace jw {

class TQueryStatement;
class TQuireQuery;

using TQueryProgressEvent = std::function<void(TQuireQuery* sender, int32_t current_record,
                                               uint16_t percent_done, bool& abort_query)>;

// The in-use reason that a query prepared while closed holds its database
// by, until it is unprepared.
constexpr uint8_t kUsePrepared = 1;

class TQuireQueryDataLink : public TDataLink {
 public:
  explicit TQuireQueryDataLink(TQuireQuery& query) : query_(query) {}

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void RecordChanged(TField* field) override;

 private:
  void Rerun();

  TQuireQuery& query_;
};

class TQuireQuery : public TQuireDBDataSet {
 public:
  explicit TQuireQuery(TComponent* owner);
  ~TQuireQuery() override;

  std::string EngineVersion() const;
  TStrings& SQL() { return sql_; }
  // Closes and unprepares the query when the text differs.
  void SetSQL(const TStrings& lines);
  TStrings& SQLScript() { return sql_script_; }
  void SetSQLScript(const TStrings& lines);
  TQuireParams& Params() { return params_; }
  // Takes the values of the parameters of the same names.
  void SetParams(const TQuireParams& params) { params_.AssignValues(params); }
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value) { request_live_ = value; }
  int32_t MaxRowCount() const { return max_row_count_; }
  void SetMaxRowCount(int32_t count);
  TDataSource* DataSource() const { return data_link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  TDataSource* GetDataSource() const override { return DataSource(); }

  bool Prepared() const { return prepared_; }
  void SetPrepared(bool prepared);
  int32_t RowsAffected() const { return rows_affected_; }
  double ExecutionTime() const { return execution_time_; }

  TQueryProgressEvent OnQueryProgress;

  // Both unprepare first.
  void SetDatabaseName(const std::string& name) override;
  void SetSessionName(const std::string& name) override;
  void CloseForDatabase() override;
  void SetDatabaseInUse(uint8_t reason, bool in_use) override;
  // The inherited properties and "Data", kept as read.
  void DefineProperties(TFiler& filer) override;

 protected:
  void OpenCursor(bool info_query) override;
  TCursorHandle CreateCursorHandle() override;

 private:
  friend class TQuireQueryDataLink;

  void SQLChanged();
  // Prepares and takes the unbound parameters' values from the data
  // source's current record.
  void PrepareToRun();
  void PrepareQuery(const std::string& text);
  void BindParamValues();
  void ExecuteQuery();
  static void Progress(void* user_data, int32_t count, int32_t percent, bool& abort);

  std::unique_ptr<TQueryStatement> statement_;
  TStringList sql_;
  TStringList sql_script_;
  bool prepared_ = false;
  TQuireParams params_;
  std::string text_;
  TQuireQueryDataLink data_link_;
  bool request_live_ = false;
  int32_t max_row_count_ = -1;
  int32_t rows_affected_ = 0;
  double execution_time_ = 0;
  std::vector<uint8_t> kept_data_;
  bool param_check_ = true;
};

}  // namespace jw
