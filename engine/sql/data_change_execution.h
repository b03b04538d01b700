// TDataChangeExecution: runs a prepared INSERT, UPDATE or DELETE on its
// target table (the query's first source table) through the target's
// cursor. INSERT VALUES stores one record; INSERT ... SELECT reads the rows
// of its SELECT part's result table. UPDATE and DELETE first collect
// the qualifying records, so that each is changed or deleted exactly once
// even when a change moves it, and then work under the statement's own
// transaction (or the caller's) with interim commits every commit interval
// records; a failure with an own transaction rolls back to the last interim
// commit.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/sql/select_execution.h"

namespace jw {

class TDataCursor;
class TDataDirectory;
class TDataQuery;
class TExpToken;
class TFilter;
struct TSourceTable;

// The default commit interval bounds the changes one commit writes to about
// 256 KB of records, and at most 8191 records.
constexpr int32_t kCommitBytes = 262140;
constexpr int32_t kMaxCommitInterval = 8191;

// Observes each interim commit with the count of records processed so far;
// nullptr to stop. Tests count the commits this way.
using TInterimCommitHook = void (*)(int32_t processed);
void SetInterimCommitHook(TInterimCommitHook hook);

class TDataChangeExecution {
 public:
  explicit TDataChangeExecution(TDataQuery& query);
  TDataChangeExecution(const TDataChangeExecution&) = delete;
  TDataChangeExecution& operator=(const TDataChangeExecution&) = delete;

  // Sets the query's rows affected.
  void Execute(TSqlProgress progress, void* progress_data);

 private:
  void InsertValues();
  // INSERT ... SELECT over the rows of the SELECT part's result.
  void InsertRows(TSqlProgress progress, void* progress_data);
  // UPDATE and DELETE over the collected records.
  void ChangeRecords(TSqlProgress progress, void* progress_data);
  // Records between commits: COMMIT INTERVAL's, else the default.
  int32_t CommitInterval() const;
  // Runs step total times under the transaction and commit scheme, with
  // progress before each step; sets rows affected.
  template <typename Step>
  void Process(int32_t total, TSqlProgress progress, void* progress_data, Step step);
  // The physical numbers of the target's records that pass the condition,
  // in natural order; the condition's filter, still active for a DELETE
  // until its transaction has begun, else nullptr.
  std::vector<int32_t> QualifyingRecords(TFilter*& filter);
  // Drops the filter, when there is one, and forgets it.
  void DropFilter(TFilter*& filter);
  // For each of the numbers (ascending), whether the cursor's view shows it.
  std::vector<bool> StillPassing(const std::vector<int32_t>& numbers);
  void ChangeRecord(int32_t number);
  // Stores every value, evaluated over the record of source (nullptr: no
  // record), into the target's record buffer; an UPDATE value sees the
  // assignments made before it, and update truncates BLOB columns before
  // writing them.
  void AssignValues(const uint8_t* record, TDataCursor* source, bool update);
  void StoreValue(int32_t column, const TExpToken& value, bool update);

  TDataQuery& query_;
  TSourceTable& target_;
  TDataCursor& cursor_;
  // A value on its way into the record, converted to its column's type;
  // one buffer for every value of the statement.
  std::vector<uint8_t> value_buffer_;
};

}  // namespace jw
