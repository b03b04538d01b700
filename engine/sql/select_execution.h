// TSelectExecution: runs a prepared SELECT into its result table. Each run
// makes the table afresh (result_table.cpp), walks the join plan's row
// combinations, copies each qualifying one as a result row, and then lets
// the record sort remove duplicates, group (folding the aggregates of
// aggregates.cpp) and order. An all-aggregate SELECT folds every row into
// one accumulator instead.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/record_sort.h"

namespace jw {

class TDataDirectory;
class TDataQuery;
class TJoinPlan;
struct TGroupByField;

// Called for each new record of the driving table with its running count
// and the percentage done (0..100); setting abort ends the rows there.
using TSqlProgress = void (*)(void* user_data, int32_t count, int32_t percent, bool& abort);

// Numbers in the engine's field encoding of the numeric types (and the
// date and time types, which are numbers too).
double NumberOf(uint8_t type, const uint8_t* value);
void StoreNumber(uint8_t type, double number, uint8_t* value);

class TSelectExecution {
 public:
  explicit TSelectExecution(TDataQuery& query);
  ~TSelectExecution();
  TSelectExecution(const TSelectExecution&) = delete;
  TSelectExecution& operator=(const TSelectExecution&) = delete;

  // Runs the query; the result cursor stands before its first row.
  void Execute(TSqlProgress progress, void* progress_data);
  TDataCursor* ResultCursor() const { return result_.get(); }
  const TJoinPlan* Plan() const { return plan_.get(); }

 private:
  // The result table's layout and creation (result_table.cpp).
  std::vector<FieldDescriptor> ResultColumns();
  void CreateResultTable();
  void CloseResultTable();

  void ProduceRows(TSqlProgress progress, void* progress_data);
  // Builds the current combination into a cleared row image.
  void BuildRow(uint8_t* image);
  void StoreValue(int32_t field, uint8_t* image, const TExpToken& value);
  void SortResult();
  int32_t ResultFieldNumber(const TGroupByField& item) const;

  // Aggregates (aggregates.cpp): folds row into accumulator; every column of
  // a group's first row already holds its own start.
  void Fold(const uint8_t* row, uint8_t* accumulator);
  // Averages become sum / count (0 without values), a count without
  // values 0.
  void FinishGroup(uint8_t* image);

  TDataQuery& query_;
  std::unique_ptr<TJoinPlan> plan_;
  TDataDirectory* directory_ = nullptr;
  std::unique_ptr<TDataCursor> result_;
  std::vector<uint8_t> row_;
  // The hidden count column of each AVG result field (0 for other fields),
  // by result field number - 1.
  std::vector<int32_t> average_counts_;
};

}  // namespace jw
