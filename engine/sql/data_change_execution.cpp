#include "engine/sql/data_change_execution.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/sql/blob_values.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/sql/sql_errors.h"
#include "engine/sql/table_join.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "engine/support/value_conversions.h"

namespace jw {
namespace {

TInterimCommitHook interim_commit_hook = nullptr;

// A column of the cursor's record image; a BLOB column is read whole.
void CursorColumnValue(void* context, const void* record, TExpToken* node) {
  auto& cursor = *static_cast<TDataCursor*>(context);
  const FieldDescriptor& field = cursor.GetCursorFieldDesc(node->FieldNumber);
  const auto* image = static_cast<const uint8_t*>(record);
  if (field.Type == kFldBlob) {
    ReadBlobValue(cursor, field.Number, image, *node);
    return;
  }
  node->SetValueSize(std::max<int32_t>(field.PhysicalLength, 8));
  bool null = false;
  cursor.GetFieldData(node->FieldNumber, image, null, node->Value());
  node->IsNull = null;
}

// A value node the evaluator returned, given back to the pool on every path.
struct TEvaluated {
  TExpToken* node;
  ~TEvaluated() { ReleaseToken(node); }
};

int32_t Percent(int64_t count, int64_t total) {
  if (total <= 0) return 100;
  return static_cast<int32_t>(std::clamp<int64_t>((count * 100 + total / 2) / total, 0, 100));
}

}  // namespace

void SetInterimCommitHook(TInterimCommitHook hook) {
  interim_commit_hook = hook;
}

TDataChangeExecution::TDataChangeExecution(TDataQuery& query)
    : query_(query), target_(*query.SourceTables.front()), cursor_(*target_.Cursor) {}

void TDataChangeExecution::Execute(TSqlProgress progress, void* progress_data) {
  query_.RowsAffected = 0;
  if (query_.Kind == kSqlInsert && query_.SelectPart == nullptr) {
    InsertValues();
  } else if (query_.Kind == kSqlInsert) {
    InsertRows(progress, progress_data);
  } else {
    ChangeRecords(progress, progress_data);
  }
}

void TDataChangeExecution::InsertRows(TSqlProgress progress, void* progress_data) {
  // The rows were read into the SELECT part's result table before the first
  // insert, so a SELECT from the target never sees the rows it adds.
  TDataCursor& rows = *query_.SelectPart->Execution->ResultCursor();
  std::vector<uint8_t> row(static_cast<size_t>(rows.GetRecordSize()));
  uint8_t* image = target_.RecordBuffer.data();
  rows.First();
  Process(rows.GetRecordCount(), progress, progress_data, [&] {
    if (rows.GetNextRecord(row.data()) != 0) return;
    cursor_.InitRecord(image);
    try {
      AssignValues(row.data(), &rows, false);
      cursor_.InsertRecord(image, false);
    } catch (...) {
      cursor_.FreeBlobs(false);
      throw;
    }
  });
}

void TDataChangeExecution::InsertValues() {
  uint8_t* image = target_.RecordBuffer.data();
  cursor_.InitRecord(image);
  try {
    AssignValues(nullptr, nullptr, false);
    cursor_.InsertRecord(image, false);
  } catch (...) {
    cursor_.FreeBlobs(false);
    throw;
  }
  query_.RowsAffected = 1;
}

std::vector<int32_t> TDataChangeExecution::QualifyingRecords(TFilter*& filter) {
  cursor_.SetIndexByNumber(kNaturalOrder);
  filter = nullptr;
  if (query_.Condition) {
    // The condition becomes the cursor's filter, which reads an indexed
    // comparison from its index (bound parameters count as constants)
    // instead of testing every record.
    query_.BindCondition(query_.Condition.get());
    const TQueryStatement& statement = query_.Statement;
    TTokenTree prepared(PrepareFilter(query_.Condition.get(), &query_, SourceColumnValue, true,
                                      false, statement.SortId(), statement.LanguageId()));
    TCursorFilterOptions options;
    options.PartialMatchingOff = true;
    filter = cursor_.AddFilter(nullptr, prepared.get(), nullptr, nullptr, options);
  }
  std::vector<int32_t> numbers;
  // The statement's read lock over the collection: the files are checked
  // for other writers' changes once. The view's bitmap names the records
  // the condition passes, so none is read before it is changed.
  cursor_.LockForRead();
  try {
    if (filter != nullptr) cursor_.ActivateFilter(filter);
    numbers = cursor_.VisibleRecordNumbers();
  } catch (...) {
    DropFilter(filter);
    // The error on its way is the one to report.
    try {
      cursor_.UnlockForRead();
    } catch (const EQuireEngineError&) {
    }
    throw;
  }
  // An UPDATE's changes must never alter the view being walked: its filter
  // goes before the first change. A DELETE keeps it until its transaction
  // has begun, to leave alone a record another writer changed meanwhile.
  if (query_.Kind != kSqlDelete) DropFilter(filter);
  cursor_.UnlockForRead();
  return numbers;
}

void TDataChangeExecution::DropFilter(TFilter*& filter) {
  if (filter == nullptr) return;
  cursor_.DropFilter(filter);
  filter = nullptr;
}

void TDataChangeExecution::ChangeRecords(TSqlProgress progress, void* progress_data) {
  // The records are chosen before any changes, so that a changed record
  // that moves in the table is never met again.
  TFilter* filter = nullptr;
  const std::vector<int32_t> numbers = QualifyingRecords(filter);
  const auto interval = static_cast<size_t>(CommitInterval());
  // Which of the records a DELETE's filter still passes once no other
  // writer can change the table; empty when every one is to be changed.
  std::vector<bool> passing;
  size_t next = 0;
  try {
    Process(static_cast<int32_t>(numbers.size()), progress, progress_data, [&] {
      if (next == 0) {
        // Another writer may have changed the table between the collection
        // and the start of the transaction: the view catches up first, so
        // that a record a DELETE's filter no longer passes is left alone.
        cursor_.LockForRead();
        cursor_.UnlockForRead();
        // The transaction's semaphore keeps every other writer out from
        // here on, so the view stays as it is now. The filter goes: the
        // cursor, sent to the nearest record after each delete, then reads
        // a window of the table's records, the next ones to delete among
        // them, instead of each record to delete by a read of its own.
        if (filter != nullptr) {
          passing = StillPassing(numbers);
          DropFilter(filter);
        }
      }
      if (next % interval == 0) {
        // The records up to the next commit are locked together, instead
        // of each under a read lock and header check of its own; each
        // stays locked to that commit, as the change of it would keep it.
        // Their changes then run under one write lock, which the commit
        // ends, instead of taking the writers' ranges once a record. Without
        // a commit the last group's lock goes first, so that no reader
        // waits on it while a busy record is waited for.
        const auto first = numbers.begin() + static_cast<ptrdiff_t>(next);
        const auto last =
            numbers.begin() + static_cast<ptrdiff_t>(std::min(next + interval, numbers.size()));
        cursor_.ReleaseKeptWriteLock();
        cursor_.LockRecordsForTransaction({first, last});
        cursor_.KeepWriteLock();
      }
      if (passing.empty() || passing[next]) ChangeRecord(numbers[next]);
      ++next;
    });
  } catch (...) {
    // The error on its way is the one to report.
    try {
      cursor_.ReleaseKeptWriteLock();
    } catch (const EQuireEngineError&) {
    }
    try {
      DropFilter(filter);
    } catch (const EQuireEngineError&) {
    }
    throw;
  }
  DropFilter(filter);
  // A caller's transaction goes on without it.
  cursor_.ReleaseKeptWriteLock();
}

std::vector<bool> TDataChangeExecution::StillPassing(const std::vector<int32_t>& numbers) {
  const std::vector<int32_t> visible = cursor_.VisibleRecordNumbers();
  std::vector<bool> passing(numbers.size());
  auto shown = visible.begin();
  for (size_t i = 0; i < numbers.size(); ++i) {
    shown = std::lower_bound(shown, visible.end(), numbers[i]);
    passing[i] = shown != visible.end() && *shown == numbers[i];
  }
  return passing;
}

int32_t TDataChangeExecution::CommitInterval() const {
  const TTableOptions& options = query_.Options;
  if (options.CommitIntervalGiven) return options.CommitInterval;
  return std::clamp(kCommitBytes / std::max(cursor_.GetRecordSize(), 1), 1, kMaxCommitInterval);
}

template <typename Step>
void TDataChangeExecution::Process(int32_t total, TSqlProgress progress, void* progress_data,
                                   Step step) {
  TDataDirectory& directory = *target_.Directory;
  const TTableOptions& options = query_.Options;
  const bool own = !directory.InTransaction();
  const bool commits = own || options.CommitIntervalGiven;
  const int32_t interval = CommitInterval();
  if (own) directory.StartTransaction();
  int32_t count = 0;
  try {
    bool abort = false;
    while (count < total) {
      if (progress != nullptr) {
        progress(progress_data, count + 1, Percent(count + 1, total), abort);
        if (abort) break;
      }
      step();
      ++count;
      if (!own) query_.RowsAffected = count;
      if (commits && count % interval == 0) {
        directory.Commit(false);
        cursor_.SaveChangeCounters();
        query_.RowsAffected = count;
        if (interim_commit_hook != nullptr) interim_commit_hook(count);
      }
    }
    if (progress != nullptr && count != total) progress(progress_data, total, 100, abort);
    if (own) directory.Commit(true);
  } catch (...) {
    if (own) directory.Rollback();
    throw;
  }
  query_.RowsAffected = count;
}

void TDataChangeExecution::ChangeRecord(int32_t number) {
  uint8_t* image = target_.RecordBuffer.data();
  uint8_t bookmark[kNaturalBookmarkSize];
  std::memcpy(bookmark, &number, sizeof bookmark);
  // A record another writer deleted meanwhile is no longer there to change.
  if (!cursor_.GotoBookmark(bookmark, false, false)) return;
  if (cursor_.GetCurrentRecord(image) != 0) return;
  if (query_.Kind == kSqlDelete) {
    cursor_.DeleteRecord(image, false);
    return;
  }
  // Locking checks the record against the image just read.
  if (cursor_.GetCurrentRecord(image, true) != 0) return;
  try {
    AssignValues(image, &cursor_, true);
    cursor_.ModifyRecord(image, true, false);
  } catch (...) {
    cursor_.FreeBlobs(false);
    // The failure is what the caller needs to hear of; a lock the failed
    // modification already let go is not a second fault.
    try {
      cursor_.UnlockRecord(number);
    } catch (const EQuireEngineError&) {
    }
    throw;
  }
}

void TDataChangeExecution::AssignValues(const uint8_t* record, TDataCursor* source, bool update) {
  const TQueryStatement& statement = query_.Statement;
  for (size_t i = 0; i < query_.UpdateFields.size(); ++i) {
    TEvaluated value{EvaluateExpression(query_.UpdateValues[i]->Expression.get(), record, source,
                                        statement.SortId(), statement.LanguageId(),
                                        source != nullptr ? CursorColumnValue : nullptr)};
    StoreValue(static_cast<int32_t>(i), *value.node, update);
  }
}

void TDataChangeExecution::StoreValue(int32_t index, const TExpToken& value, bool update) {
  const TUpdateField& column = *query_.UpdateFields[static_cast<size_t>(index)];
  uint8_t* image = target_.RecordBuffer.data();
  const int32_t number = column.ColumnNumber;
  if (value.IsNull) {
    cursor_.SetFieldData(number, image, false, nullptr);
    return;
  }
  if (column.Type == kFldBlob) {
    WriteBlobValue(cursor_, number, image, value, update);
    return;
  }
  std::vector<uint8_t>& buffer = value_buffer_;
  buffer.assign(static_cast<size_t>(std::max({kValueBufferSize, column.Size, value.Size()}) + 1),
                0);
  std::memcpy(buffer.data(), value.Value(), static_cast<size_t>(value.Size()));
  if (value.Type != column.Type &&
      !ConvertFieldValue(value.Type, value.Size(), value.Scale, buffer.data(), column.Scale,
                         column.Size, column.Type)) {
    RaiseSqlError("Type mismatch between column " + column.ColumnName + " and constant value " +
                  query_.UpdateValues[static_cast<size_t>(index)]->SourceText +
                  (update ? " in UPDATE statement" : " in INSERT statement"));
  }
  // A longer text is cut to the column, which keeps its terminator.
  if (column.Type == kFldString && column.Size > 0)
    buffer[static_cast<size_t>(column.Size) - 1] = 0;
  cursor_.SetFieldData(number, image, false, buffer.data());
}

}  // namespace jw
