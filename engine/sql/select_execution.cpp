// SELECT execution into a result table: the per-run reset, the row
// combination loop with progress and the row limit, the building of each
// result row, and the sorts for DISTINCT, GROUP BY and ORDER BY.
#include "engine/sql/select_execution.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>

#include "engine/core/data_session.h"
#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/sql/blob_values.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/table_join.h"
#include "engine/support/field_types.h"
#include "engine/support/value_bytes.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

// The value of a result column in a result record image (context: the
// result cursor).
void ResultColumnValue(void* context, const void* record, TExpToken* node) {
  auto& cursor = *static_cast<TDataCursor*>(context);
  const FieldDescriptor& field = cursor.GetTableFieldDesc(node->FieldNumber);
  const auto* image = static_cast<const uint8_t*>(record);
  if (field.Type == kFldBlob) {
    ReadBlobValue(cursor, node->FieldNumber, image, *node);
    return;
  }
  node->SetValueSize(std::max<int32_t>(field.PhysicalLength, 8));
  bool null = false;
  cursor.GetTableFieldData(node->FieldNumber, image, null, node->Value());
  node->IsNull = null;
}

// 0..100, ties to even; a driving table without records is done.
int32_t Percent(int32_t count, int32_t total) {
  if (total <= 0) return 100;
  const double percent = std::nearbyint(100.0 * count / total);
  return static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
}

// Takes the SQL read lock of every source table when asked and lets go of
// each one taken, also when the run fails.
class TStatementReadLocks {
 public:
  TStatementReadLocks(TDataQuery& query, bool take) {
    if (!take) return;
    try {
      for (const std::unique_ptr<TSourceTable>& table : query.SourceTables) {
        // Listed first: a lock taken before LockForRead raises (while it
        // brings the view up to date) is let go as well.
        locked_.push_back(table->Cursor.get());
        table->Cursor->LockForRead();
      }
    } catch (...) {
      // A constructor that raises runs no destructor.
      Release();
      throw;
    }
  }
  ~TStatementReadLocks() { Release(); }
  TStatementReadLocks(const TStatementReadLocks&) = delete;
  TStatementReadLocks& operator=(const TStatementReadLocks&) = delete;

 private:
  // Lets go of every lock even when one unlock fails: that failure has
  // nothing left to undo, and a destructor must not raise it.
  void Release() noexcept {
    for (TDataCursor* cursor : locked_) {
      try {
        cursor->UnlockForRead();
      } catch (const Exception&) {
      }
    }
  }

  std::vector<TDataCursor*> locked_;
};

// Brings every source cursor up to date with the changes of other cursors
// and processes through its read bracket, as every read of the cursor does:
// the headers on disk are compared with those in memory (under the table's
// read lock when the session asks for strict change detection), and a
// change recomputes the view at once. Without a change the view stands as
// it is; the filters installed next compute theirs in any case. The
// statement read locks do the same as they are taken.
void CatchUp(TDataQuery& query) {
  for (const std::unique_ptr<TSourceTable>& table : query.SourceTables) {
    TDataCursor& cursor = *table->Cursor;
    try {
      cursor.BeginRead();
    } catch (...) {
      cursor.EndRead();
      throw;
    }
    cursor.EndRead();
  }
}

}  // namespace

TSelectExecution::TSelectExecution(TDataQuery& query) : query_(query) {}

TSelectExecution::~TSelectExecution() {
  plan_.reset();
  CloseResultTable();
}

void TSelectExecution::Execute(TSqlProgress progress, void* progress_data) {
  const uint32_t start = GetTickCount();
  query_.ExecutionTime = 0;
  plan_.reset();
  plan_ = std::make_unique<TJoinPlan>(query_);
  TTokenTree condition;
  if (query_.Condition) {
    condition.reset(CopyTokenTree(query_.Condition.get()));
    query_.BindCondition(condition.get());
  }
  plan_->Analyse(std::move(condition));
  // A result table is filled under the read lock of every source table, so
  // that the statement reads one committed state of each while other
  // processes write; a live result is read through its cursor afterwards,
  // and holds the locks here only WITH LOCKS.
  const bool lock = query_.WithLocks || !query_.Live;
  TStatementReadLocks locks(query_, lock);
  if (!lock) CatchUp(query_);
  if (query_.Live) {
    RunLive();
    StopClock(start);
    return;
  }
  PrepareResultTable();
  FindColumnArguments();
  FindColumnCopies();
  plan_->InstallFilters();
  ProduceRows(progress, progress_data);
  SortResult();
  if (query_.HasAvg) {
    // The hidden count columns stay out of the result's field list.
    std::vector<FieldDescriptor> visible;
    for (int32_t i = 1; i <= static_cast<int32_t>(query_.ResultFields.size()); ++i) {
      visible.push_back(result_->GetTableFieldDesc(i));
    }
    result_->SetFieldDescs(visible);
  }
  result_->Refresh();
  result_->First();
  query_.RowsAffected = result_->GetRecordCount();
  StopClock(start);
}

void TSelectExecution::StopClock(uint32_t start) {
  // A tick count that did not move or wrapped gives no time.
  const uint32_t end = GetTickCount();
  if (end > start) query_.ExecutionTime = (end - start) / 1000.0;
}

void TSelectExecution::RunLive() {
  live_ = query_.SourceTables.front()->Cursor.get();
  live_->SetIndexByNumber(query_.IndexNumber);
  plan_->InstallFilters();
  live_->First();
  query_.RowsAffected = live_->GetRecordCount();
}

int32_t TSelectExecution::CountMatches(const TExpToken& value) {
  const FieldDescriptor& field = result_->GetTableFieldDesc(1);
  TTokenTree comparison(GetToken());
  comparison->Kind = kTokenBinary;
  comparison->Code = kOpEqual;
  comparison->SourceText = std::string(1, '=');
  comparison->Type = kFldBoolean;
  comparison->SetValueSize(2);
  TExpToken* column = GetToken();
  column->Kind = kTokenColumn;
  column->ColumnName = field.Name;
  column->FieldNumber = 1;
  column->FieldRef = &field;
  column->Type = field.Type;
  column->Subtype = field.SubType;
  column->SetValueSize(field.Size);
  column->Scale = field.Decimals;
  column->Parent = comparison.get();
  comparison->Left = column;
  comparison->Right = EvaluateToType(column, &value, result_.get(), query_.Statement.SortId(),
                                     query_.Statement.LanguageId(), ResultColumnValue);
  comparison->Right->Parent = comparison.get();
  TTokenTree prepared(PrepareFilter(comparison.get(), result_.get(), ResultColumnValue, true, false,
                                    query_.Statement.SortId(), query_.Statement.LanguageId()));
  if (sub_select_filter_ == nullptr) {
    TCursorFilterOptions options;
    options.PartialMatchingOff = true;
    sub_select_filter_ = result_->AddFilter(nullptr, prepared.get(), nullptr, nullptr, options);
    result_->ActivateFilter(sub_select_filter_);
  } else {
    result_->SetFilterTree(prepared.get(), sub_select_filter_);
  }
  return result_->GetRecordCount();
}

void TSelectExecution::ProduceRows(TSqlProgress progress, void* progress_data) {
  TSourceTable& driving = plan_->Driving();
  TRowLoop loop;
  loop.Progress = progress;
  loop.ProgressData = progress_data;
  loop.Cross = plan_->CrossResidual();
  loop.PerRow = plan_->RowResidual();
  if (query_.AggregateOnly && query_.RecordCountOnly && query_.SourceTables.size() == 1 &&
      loop.Cross == nullptr && loop.PerRow == nullptr) {
    // The filtered record count answers COUNT(*) without visiting a row.
    result_->ClearRecord(row_.data());
    const int32_t count = driving.Cursor->GetRecordCount();
    result_->SetTableFieldData(1, row_.data(), &count);
    StoreRow(row_.data());
    return;
  }
  loop.Accumulator.assign(row_.size(), 0);
  // GROUP BY folds each row into its group here; the grouped sort then
  // meets one record per group, finishes it and orders the groups.
  loop.FoldGroups = FoldsGroupsInMemory();
  loop.Total = driving.Cursor->GetRecordCount();
  if (!query_.AggregateOnly && !loop.FoldGroups) ExpectRows(loop.Total);
  if (!VisitDrivingRecords(loop)) {
    int32_t last_record = -1;
    for (bool found = plan_->First(); found; found = plan_->Next()) {
      const int32_t record = driving.Cursor->CurrentRecordNumber();
      const bool next_record = record != last_record;
      last_record = record;
      if (!TakeCombination(loop, next_record)) break;
    }
  }
  for (std::vector<uint8_t>& group : loop.Groups) StoreRow(group.data());
  if (loop.Progress != nullptr && loop.Counter != loop.Total) {
    bool ignored = false;
    loop.Progress(loop.ProgressData, loop.Total, 100, ignored);
  }
  if (query_.AggregateOnly) {
    FinishGroup(loop.Accumulator.data());
    StoreRow(loop.Accumulator.data());
  }
}

bool TSelectExecution::VisitDrivingRecords(TRowLoop& loop) {
  // Joined tables move with each record of the driving table: only a
  // source table of its own is read in one walk.
  if (query_.SourceTables.size() != 1) return false;
  TSourceTable& driving = plan_->Driving();
  if (driving.RecordBuffer.size() != static_cast<size_t>(driving.Cursor->GetRecordSize())) {
    return false;
  }
  struct TVisit {
    TSelectExecution* Self;
    TRowLoop* Loop;
    std::vector<uint8_t>* Record;
  };
  TVisit visit{this, &loop, &driving.RecordBuffer};
  const auto take = [](void* context, int32_t, const uint8_t* image) {
    auto& v = *static_cast<TVisit*>(context);
    std::memcpy(v.Record->data(), image, v.Record->size());
    return v.Self->TakeCombination(*v.Loop, true);
  };
  return driving.Cursor->VisitVisibleRecords(take, &visit);
}

bool TSelectExecution::TakeCombination(TRowLoop& loop, bool next_record) {
  if (next_record) {
    ++loop.Counter;
    bool abort = false;
    if (loop.Progress != nullptr) {
      loop.Progress(loop.ProgressData, loop.Counter, Percent(loop.Counter, loop.Total), abort);
    }
    if (abort) return false;
  }
  if (loop.Cross != nullptr && !ConditionHolds(query_, loop.Cross)) return true;
  if (loop.PerRow != nullptr && !ConditionHolds(query_, loop.PerRow)) return true;
  if (!query_.AggregateOnly && query_.MaxRowCount >= 0 && loop.Copied >= query_.MaxRowCount) {
    return false;
  }
  ++loop.Copied;
  if (!query_.AggregateOnly && !loop.FoldGroups && BuildRowInMemory()) return true;
  result_->ClearRecord(row_.data());
  BuildRow(row_.data());
  if (query_.AggregateOnly) {
    Fold(row_.data(), loop.Accumulator.data());
  } else if (loop.FoldGroups) {
    const auto [group, added] = loop.GroupOf.try_emplace(GroupKey(row_.data()), loop.Groups.size());
    if (added) {
      loop.Groups.push_back(row_);
    } else {
      Fold(row_.data(), loop.Groups[group->second].data());
    }
  } else {
    StoreRow(row_.data());
  }
  return true;
}

void TSelectExecution::FindColumnArguments() {
  column_arguments_.assign(query_.ResultFields.size(), nullptr);
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    const TResultField& item = *query_.ResultFields[i];
    if (item.Aggregate == kAggregateNone || item.CountAll || !item.Expression) continue;
    const TExpToken* argument = item.Expression->Left;
    if (argument == nullptr || argument->Kind != kTokenColumn) continue;
    // The table the evaluator's column callback would read.
    for (const std::unique_ptr<TSourceTable>& table : query_.SourceTables) {
      if (!SameText(table->CorrelationName, argument->TableName)) continue;
      const uint8_t type = table->Cursor->GetTableFieldDesc(argument->FieldNumber).Type;
      if (type == argument->Type && type != kFldBlob && type != kFldString) {
        column_arguments_[i] = table.get();
      }
      break;
    }
  }
}

void TSelectExecution::FindColumnCopies() {
  column_copies_.assign(query_.ResultFields.size(), TColumnCopy{});
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    const TResultField& item = *query_.ResultFields[i];
    if (item.Computed || item.Aggregate != kAggregateNone) continue;
    const FieldDescriptor& from = item.Source->Cursor->GetTableFieldDesc(item.ColumnNumber);
    const FieldDescriptor& to = result_->GetTableFieldDesc(static_cast<int32_t>(i + 1));
    TColumnCopy& copy = column_copies_[i];
    copy.Source = item.Source;
    copy.From = from.Offset;
    copy.To = to.Offset;
    copy.Length = to.PhysicalLength;
    if (from.IsAutoInc()) {
      copy.Kind = TCopyKind::RecordId;
    } else if (to.Type == kFldString && to.CharCase == kCaseKeep) {
      copy.Kind = TCopyKind::Text;
    } else if (to.Type != kFldBlob && to.Type != kFldBoolean && to.Type != kFldString) {
      copy.Kind = TCopyKind::Bytes;
    }
    // The slots of both records must hold the value where the copy reads
    // and writes it.
    const bool fits =
        copy.Kind == TCopyKind::RecordId ||
        (from.PhysicalLength == to.PhysicalLength &&
         static_cast<size_t>(from.Offset) + 1 + copy.Length <= item.Source->RecordBuffer.size());
    if (!fits || to.Type != from.Type) copy.Kind = TCopyKind::None;
  }
}

void TSelectExecution::BuildRow(uint8_t* image) {
  const uint16_t sort_id = query_.Statement.SortId();
  const uint16_t language_id = query_.Statement.LanguageId();
  uint8_t value[kMaxFieldSize + 8];
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    const TColumnCopy& copy = column_copies_[i];
    if (copy.Kind != TCopyKind::None) {
      // The row starts cleared, which is how a NULL value stands in it.
      const uint8_t* record = copy.Source->RecordBuffer.data();
      const uint8_t* from = record + copy.From;
      uint8_t* to = image + copy.To;
      if (copy.Kind == TCopyKind::RecordId) {
        to[0] = 1;
        std::memcpy(to + 1, record + kRecId, sizeof(int32_t));
      } else if (from[0] != 0 && copy.Kind == TCopyKind::Bytes) {
        to[0] = 1;
        CopyValueBytes(to + 1, from + 1, copy.Length);
      } else if (from[0] != 0) {
        const auto* text = reinterpret_cast<const char*>(from + 1);
        size_t length = strnlen(text, copy.Length - 1);
        while (length > 0 && text[length - 1] == ' ') --length;
        to[0] = length > 0 ? 1 : 0;
        std::memcpy(to + 1, text, length);
      }
      continue;
    }
    const TResultField& item = *query_.ResultFields[i];
    const auto field = static_cast<int32_t>(i + 1);
    // A BLOB field holds a reference into its own table's BLOB file, which
    // a result record must never share: its value is read whole and written
    // into a BLOB of the result's own.
    const bool blob = result_->GetTableFieldDesc(field).Type == kFldBlob;
    if (!item.Computed && item.Aggregate == kAggregateNone && !blob) {
      TDataCursor& source = *item.Source->Cursor;
      std::memset(value, 0,
                  std::max<size_t>(source.GetTableFieldDesc(item.ColumnNumber).PhysicalLength, 8));
      bool null = false;
      source.GetTableFieldData(item.ColumnNumber, item.Source->RecordBuffer.data(), null, value);
      result_->SetTableFieldData(field, image, null ? nullptr : value);
      continue;
    }
    if (item.Aggregate == kAggregateCount && item.CountAll) {
      // COUNT(*) counts every row, whatever its columns hold.
      const int32_t one = 1;
      result_->SetTableFieldData(field, image, &one);
      continue;
    }
    const TExpToken* expression =
        item.Aggregate == kAggregateNone ? item.Expression.get() : item.Expression->Left;
    if (column_arguments_[i] != nullptr) {
      TSourceTable& source = *column_arguments_[i];
      const FieldDescriptor& column = source.Cursor->GetTableFieldDesc(expression->FieldNumber);
      std::memset(value, 0, std::max<size_t>(column.PhysicalLength, 8));
      bool null = false;
      source.Cursor->GetTableFieldData(expression->FieldNumber, source.RecordBuffer.data(), null,
                                       value);
      if (null) continue;
      const int32_t one = 1;
      if (item.Aggregate == kAggregateCount) {
        result_->SetTableFieldData(field, image, &one);
        continue;
      }
      StoreValue(field, image, column.Type, value);
      if (average_counts_[i] != 0) result_->SetTableFieldData(average_counts_[i], image, &one);
      continue;
    }
    TTokenTree result(
        EvaluateExpression(expression, nullptr, &query_, sort_id, language_id, SourceColumnValue));
    if (result->IsNull) continue;
    if (item.Aggregate == kAggregateCount) {
      const int32_t one = 1;
      result_->SetTableFieldData(field, image, &one);
      continue;
    }
    StoreValue(field, image, *result);
    if (average_counts_[i] != 0) {
      const int32_t one = 1;
      result_->SetTableFieldData(average_counts_[i], image, &one);
    }
  }
}

void TSelectExecution::StoreValue(int32_t field, uint8_t* image, const TExpToken& value) {
  const FieldDescriptor& desc = result_->GetTableFieldDesc(field);
  if (desc.Type == kFldBlob) {
    WriteBlobValue(*result_, field, image, value, false);
    return;
  }
  StoreValue(field, image, value.Type, value.Value());
}

void TSelectExecution::StoreValue(int32_t field, uint8_t* image, uint8_t type,
                                  const uint8_t* value) {
  const uint8_t result_type = result_->GetTableFieldDesc(field).Type;
  if (type == result_type) {
    result_->SetTableFieldData(field, image, value);
    return;
  }
  // Only widening meets here: an AVG's float column, a smallint SUM's
  // integer one.
  uint8_t number[8] = {};
  if (result_type == kFldFloat) {
    const double widened = NumberOf(type, value);
    std::memcpy(number, &widened, sizeof widened);
  } else {
    const int32_t widened = IntegerOf(type, value);
    std::memcpy(number, &widened, sizeof widened);
  }
  result_->SetTableFieldData(field, image, number);
}

int32_t TSelectExecution::ResultFieldNumber(const TGroupByField& item) const {
  if (item.ColumnNumber > 0) return item.ColumnNumber;
  const TResultField* field = query_.FindResultField(item.CorrelationName, item.ColumnName, true);
  return field == nullptr ? 0 : field->ResultFieldNumber;
}

void TSelectExecution::SortResult() {
  const std::string run_folder = query_.Statement.Session().GetPrivateDir();
  // Each sort works on the table's records, not through the cursor: the
  // cursor's view is refreshed once, after the last one (Execute).
  const auto sort = [&](TSortRequest& request) {
    request.RunFolder = run_folder;
    WriteResultRows(request);
  };
  const auto key = [&](int32_t field, bool descending) {
    FieldDescriptor desc = result_->GetTableFieldDesc(field);
    desc.Descending = descending ? 1 : 0;
    return desc;
  };
  if (query_.Distinct) {
    TSortRequest request;
    for (int32_t i = 1; i <= static_cast<int32_t>(query_.ResultFields.size()); ++i) {
      request.Fields.push_back(key(i, false));
    }
    request.Distinct = true;
    sort(request);
  } else if (query_.HasGroupBy && !query_.AggregateOnly) {
    TSortRequest request;
    for (const std::unique_ptr<TGroupByField>& item : query_.GroupBy) {
      request.Fields.push_back(key(ResultFieldNumber(*item), false));
    }
    request.StartOrAdd = [this](bool start, TRecord& source, TRecord& target) {
      if (!start) Fold(source.Bytes(), target.Bytes());
    };
    request.Finish = [this](TRecord& record) { FinishGroup(record.Bytes()); };
    request.Keep = [this](TRecord& record) {
      if (!query_.Having) return true;
      TTokenTree result(EvaluateExpression(query_.Having.get(), record.Bytes(), result_.get(),
                                           query_.Statement.SortId(), query_.Statement.LanguageId(),
                                           ResultColumnValue));
      return !result->IsNull && result->Value()[0] != 0;
    };
    sort(request);
  }
  if (query_.HasOrderBy) {
    TSortRequest request;
    for (const std::unique_ptr<TOrderByField>& item : query_.OrderBy) {
      request.Fields.push_back(key(ResultFieldNumber(*item), item->Descending));
    }
    request.CaseInsensitive = query_.OrderByNoCase;
    sort(request);
  }
  if (rows_in_memory_) {
    TSortRequest request;
    sort(request);
  }
}

}  // namespace jw
