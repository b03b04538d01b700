// TSelectExecution: runs a prepared SELECT into its result table. The first
// run makes the table and later runs empty it (result_table.cpp); each run
// walks the join plan's row combinations, copies each qualifying one as a
// result row, and then lets the record sort remove duplicates, group
// (folding the aggregates of aggregates.cpp) and order. An all-aggregate
// SELECT folds every row into one accumulator instead. A live result copies
// nothing: its table's own cursor walks the chosen index with the
// conditions as its filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/record_sort.h"

namespace jw {

class TDataDirectory;
class TDataQuery;
class TJoinPlan;
struct TGroupByField;
struct TResultField;
struct TSourceTable;

// Called for each new record of the driving table with its running count
// and the percentage done (0..100); setting abort ends the rows there.
using TSqlProgress = void (*)(void* user_data, int32_t count, int32_t percent, bool& abort);

// Numbers in the engine's field encoding of the numeric types (and the
// date and time types, which are numbers too). A BCD amount reads as its
// value; it is stored with its column's scale, which the aggregates handle
// themselves.
double NumberOf(uint8_t type, const uint8_t* value);
// A smallint, word, integer, date or time value widened to 32 bits.
int32_t IntegerOf(uint8_t type, const uint8_t* value);

// The column a select item gives a result: a plain column keeps its source
// column's type without its checks, defaults or numbering; an aggregate or
// computed item is typed after its expression (result_table.cpp).
FieldDescriptor ResultColumnOf(const TResultField& item);

// The most bytes of result rows kept in memory before the result table.
constexpr size_t kResultRowsInMemoryBytes = size_t{64} << 20;

// For tests: while it lives, at most max_bytes of result rows stay in
// memory, so that a small result goes into its table part way.
class TScopedResultRowsLimit {
 public:
  explicit TScopedResultRowsLimit(size_t max_bytes);
  ~TScopedResultRowsLimit();
  TScopedResultRowsLimit(const TScopedResultRowsLimit&) = delete;
  TScopedResultRowsLimit& operator=(const TScopedResultRowsLimit&) = delete;

 private:
  size_t previous_;
};

class TSelectExecution {
 public:
  explicit TSelectExecution(TDataQuery& query);
  ~TSelectExecution();
  TSelectExecution(const TSelectExecution&) = delete;
  TSelectExecution& operator=(const TSelectExecution&) = delete;

  // Runs the query; the result cursor stands before its first row.
  void Execute(TSqlProgress progress, void* progress_data);
  // The result table's cursor, or a live result's source table cursor,
  // which the source table owns.
  TDataCursor* ResultCursor() const { return live_ != nullptr ? live_ : result_.get(); }
  // For IN (SELECT ...): filters the result to the rows whose first column
  // equals the outer value (NULL equals NULL, as = has it) and counts them.
  int32_t CountMatches(const TExpToken& value);
  const TJoinPlan* Plan() const { return plan_.get(); }

 private:
  // How a plain column's value goes from its source record into a result
  // row, with the bytes Read/WriteField would give: a fixed-size value and
  // its null byte as they are (the byte made 0 or 1), a text up to its end
  // without trailing blanks, the record id of an auto-increment column.
  enum class TCopyKind : uint8_t { None, Bytes, Text, RecordId };
  struct TColumnCopy {
    TCopyKind Kind = TCopyKind::None;
    const TSourceTable* Source = nullptr;
    int32_t From = 0;
    int32_t To = 0;
    size_t Length = 0;
  };

  // Where a result column lies in a row image. A plain column (any type
  // but strings, BLOBs and booleans) is stored as its value's bytes behind
  // its null byte, which the aggregates read and write in place.
  struct TResultSlot {
    int32_t Offset = 0;
    size_t Length = 0;
    uint8_t Type = 0;
    uint8_t Decimals = 0;
    bool Plain = false;
  };

  // The result table's layout and creation (result_table.cpp).
  std::vector<FieldDescriptor> ResultColumns();
  // Creates the result table on the first run and empties it on later ones.
  void PrepareResultTable();
  void CreateResultTable();
  void CloseResultTable();
  // Adds a result row. The rows of a result without BLOB columns stay in
  // memory while they fit in kResultRowsInMemoryBytes and go to the table
  // in one pass, already sorted, grouped or made distinct: a result table
  // is this statement's own, and nobody sees it before it is complete. A
  // row that no longer fits sends every row so far, and each later one,
  // into the table as inserts, for the record sort to order.
  void StoreRow(uint8_t* image);
  // Builds the current combination as the next result row in memory, in
  // its place there (StoreRow without the copy); false, building nothing,
  // when the rows no longer stay in memory.
  bool BuildRowInMemory();
  // Makes room in memory for about count rows, as far as they may stay.
  void ExpectRows(int32_t count);
  // Sorts the result by the request: the rows in memory into the table,
  // else the table's records; then builds the status index of the records
  // written.
  void WriteResultRows(TSortRequest& request);

  void RunLive();
  // The execution time since the tick count start.
  void StopClock(uint32_t start);
  // The state of one run's row loop.
  struct TRowLoop {
    TSqlProgress Progress = nullptr;
    void* ProgressData = nullptr;
    const TExpToken* Cross = nullptr;
    const TExpToken* PerRow = nullptr;
    bool FoldGroups = false;
    // Records of the driving table met, its record count, rows copied.
    int32_t Counter = 0;
    int32_t Total = 0;
    int32_t Copied = 0;
    std::vector<uint8_t> Accumulator;
    std::unordered_map<std::string, size_t> GroupOf;
    std::vector<std::vector<uint8_t>> Groups;
  };
  void ProduceRows(TSqlProgress progress, void* progress_data);
  // A single source table's rows come from one walk over its visible
  // records when its cursor can hand them so (VisitVisibleRecords), in
  // the order its moves would meet them; false when the plan must walk.
  bool VisitDrivingRecords(TRowLoop& loop);
  // Takes the current combination (next_record: the driving table's record
  // is a new one, counted for progress); false ends the rows.
  bool TakeCombination(TRowLoop& loop, bool next_record);
  // The row's group columns (null flags and values) as a key.
  std::string GroupKey(const uint8_t* row) const;
  // For each result field, the source table whose column an aggregate
  // takes as it is (its value is read straight from the record buffer
  // rather than through the evaluator), else nullptr.
  void FindColumnArguments();
  // For each result field, how its value is copied from its source record
  // when it is a plain column, else TCopyKind::None.
  void FindColumnCopies();
  // Builds the current combination into a cleared row image.
  void BuildRow(uint8_t* image);
  void StoreValue(int32_t field, uint8_t* image, const TExpToken& value);
  // A value of a non-BLOB type, converted to the field's numeric type when
  // the two differ.
  void StoreValue(int32_t field, uint8_t* image, uint8_t type, const uint8_t* value);
  void SortResult();
  int32_t ResultFieldNumber(const TGroupByField& item) const;

  // Aggregates (aggregates.cpp): folds row into accumulator; every column of
  // a group's first row already holds its own start.
  void Fold(const uint8_t* row, uint8_t* accumulator);
  // Folds a non-NULL value into a non-NULL total of the column by the
  // item's aggregate.
  void FoldValue(const TResultField& item, const TResultSlot& slot, const uint8_t* value,
                 uint8_t* total) const;
  // Adds a SUM's, COUNT's or AVG's value into its total in the column's
  // type.
  void AddValue(const TResultField& item, const TResultSlot& slot, const uint8_t* value,
                uint8_t* total) const;
  void AddAmount(const TResultField& item, int32_t decimals, const uint8_t* value,
                 uint8_t* total) const;
  // Whether the rows of a GROUP BY fold into their groups as they come, so
  // that the result table takes one record per group: the groups must be
  // told apart by their bytes exactly as the grouped sort tells them apart
  // (integer group columns), and no BLOB may be left behind by a row that
  // is never stored.
  bool FoldsGroupsInMemory() const;
  // Averages become sum / count (0 without values), a count without
  // values 0.
  void FinishGroup(uint8_t* image);

  TDataQuery& query_;
  std::unique_ptr<TJoinPlan> plan_;
  TDataDirectory* directory_ = nullptr;
  std::unique_ptr<TDataCursor> result_;
  TDataCursor* live_ = nullptr;
  std::vector<uint8_t> row_;
  // The result rows kept in memory, while rows_in_memory_.
  std::vector<uint8_t> rows_;
  bool rows_in_memory_ = false;
  // The hidden count column of each AVG result field (0 for other fields),
  // by result field number - 1.
  std::vector<int32_t> average_counts_;
  // By result table field number - 1, hidden columns too.
  std::vector<TResultSlot> result_slots_;
  std::vector<TSourceTable*> column_arguments_;
  std::vector<TColumnCopy> column_copies_;
  TFilter* sub_select_filter_ = nullptr;
};

}  // namespace jw
