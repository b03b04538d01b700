// The result table of a SELECT: one column per result field, typed after
// its source column or its expression, then one hidden count column per
// AVG; where the table lies and under which name; and its cursor.
#include <algorithm>
#include <string>

#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/core/index_rebuild.h"
#include "engine/sql/data_query.h"
#include "engine/sql/query_statement.h"
#include "engine/sql/select_execution.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

constexpr const char* kAverageCountName = "Sys__Avg__Count";

size_t rows_in_memory_limit = kResultRowsInMemoryBytes;

// A result column holds values only: no checks, defaults or numbering of
// its source column come with it.
FieldDescriptor PlainColumn(const FieldDescriptor& source) {
  FieldDescriptor field;
  field.Type = source.Type;
  field.SubType = source.IsAutoInc() ? 0 : source.SubType;
  field.Size = source.Size;
  field.Decimals = source.Decimals;
  return field;
}

FieldDescriptor ComputedColumn(const TResultField& item) {
  FieldDescriptor field;
  if (item.Aggregate == kAggregateAvg) {
    field.Type = kFldFloat;
    return field;
  }
  field.Type = item.Type;
  field.SubType = item.Type == kFldInteger && item.Subtype == kSubTypeAutoInc ? 0 : item.Subtype;
  if (item.Aggregate == kAggregateSum && item.Type == kFldSmallInt) field.Type = kFldInteger;
  if (item.Aggregate == kAggregateCount) field.Type = kFldInteger;
  if (field.Type == kFldString) field.Size = static_cast<uint8_t>(item.Size - 1);
  if (field.Type == kFldBytes) field.Size = static_cast<uint8_t>(item.Size);
  if (field.Type == kFldBcd) field.Decimals = item.Scale;
  return field;
}

}  // namespace

FieldDescriptor ResultColumnOf(const TResultField& item) {
  const bool plain = !item.Computed && item.Aggregate == kAggregateNone;
  return plain ? PlainColumn(item.Source->Cursor->GetTableFieldDesc(item.ColumnNumber))
               : ComputedColumn(item);
}

std::vector<FieldDescriptor> TSelectExecution::ResultColumns() {
  std::vector<FieldDescriptor> columns;
  average_counts_.assign(query_.ResultFields.size(), 0);
  for (const std::unique_ptr<TResultField>& item : query_.ResultFields) {
    FieldDescriptor field = ResultColumnOf(*item);
    field.Name = item->ResultName;
    field.Number = static_cast<int16_t>(columns.size() + 1);
    columns.push_back(field);
  }
  for (size_t i = 0; i < query_.ResultFields.size(); ++i) {
    if (query_.ResultFields[i]->Aggregate != kAggregateAvg) continue;
    FieldDescriptor count;
    count.Number = static_cast<int16_t>(columns.size() + 1);
    count.Name = kAverageCountName + IntToStr(count.Number);
    count.Type = kFldInteger;
    count.Hidden = 1;
    average_counts_[i] = count.Number;
    columns.push_back(count);
  }
  return columns;
}

void TSelectExecution::PrepareResultTable() {
  if (!result_) {
    CreateResultTable();
  } else {
    // A prepared SELECT keeps its result table between runs: each run
    // starts from an empty table without the previous run's sub-select
    // filter.
    if (sub_select_filter_ != nullptr) result_->DropFilter(sub_select_filter_);
    sub_select_filter_ = nullptr;
    result_->EmptyTable();
  }
  rows_.clear();
  result_slots_.clear();
  // A BLOB value is written into the result's BLOB file as its row is
  // built, and only an insert posts it.
  rows_in_memory_ = true;
  for (int32_t field = 1; field <= result_->GetFieldCount(); ++field) {
    const FieldDescriptor& desc = result_->GetTableFieldDesc(field);
    TResultSlot& slot = result_slots_.emplace_back();
    slot.Offset = desc.Offset;
    slot.Length = static_cast<size_t>(desc.PhysicalLength);
    slot.Type = desc.Type;
    slot.Decimals = desc.Decimals;
    slot.Plain = desc.Type != kFldString && desc.Type != kFldBlob && desc.Type != kFldBoolean &&
                 !desc.IsAutoInc();
    if (desc.Type == kFldBlob) rows_in_memory_ = false;
  }
}

void TSelectExecution::StoreRow(uint8_t* image) {
  if (rows_in_memory_ && rows_.size() + row_.size() <= rows_in_memory_limit) {
    rows_.insert(rows_.end(), image, image + row_.size());
    return;
  }
  if (rows_in_memory_) {
    rows_in_memory_ = false;
    for (size_t at = 0; at < rows_.size(); at += row_.size()) {
      result_->InsertRecord(rows_.data() + at, false);
    }
    std::vector<uint8_t>().swap(rows_);
  }
  result_->InsertRecord(image, false);
}

bool TSelectExecution::BuildRowInMemory() {
  const size_t size = row_.size();
  if (!rows_in_memory_ || rows_.size() + size > rows_in_memory_limit) return false;
  const size_t at = rows_.size();
  // The new row comes cleared, as BuildRow needs it.
  rows_.resize(at + size);
  try {
    BuildRow(rows_.data() + at);
  } catch (...) {
    rows_.resize(at);
    throw;
  }
  return true;
}

void TSelectExecution::ExpectRows(int32_t count) {
  if (!rows_in_memory_ || count <= 0) return;
  const size_t rows = std::min(static_cast<size_t>(count), rows_in_memory_limit / row_.size());
  rows_.reserve(rows * row_.size());
}

void TSelectExecution::WriteResultRows(TSortRequest& request) {
  TDataTable& table = *result_->Table();
  std::vector<TStatusKey> status_keys;
  request.StatusKeys = &status_keys;
  if (!rows_in_memory_) {
    // The status keys the result's inserts made name the records by their
    // numbers before the sort: the status index starts again from the
    // records as the sort numbered them.
    SortTableRecords(table, request);
    RestartStatusIndex(table, *result_, status_keys);
    return;
  }
  // The table was emptied for this run and its index file with it.
  rows_in_memory_ = false;
  LoadTableRecords(table, request, rows_);
  std::vector<uint8_t>().swap(rows_);
  BuildStatusIndex(table.IndexFile(), *result_, status_keys);
}

void TSelectExecution::CreateResultTable() {
  TDataSession& session = query_.Statement.Session();
  const std::string& into = query_.ResultTableName;
  const bool memory = query_.IntoMemory || into.empty();
  std::string name = ExtractFileName(into);
  std::string path = ExtractFilePath(into);
  if (memory) {
    directory_ = session.OpenDirectory(kMemoryDatabaseName, std::string());
  } else {
    if (path.empty()) path = session.GetPrivateDir();
    directory_ = session.OpenDirectory(path, path);
  }
  if (into.empty()) name = directory_->GetTempTableName(true);

  TTableDefinition definition;
  definition.Fields = ResultColumns();
  definition.LanguageId = static_cast<int16_t>(query_.Options.LanguageId);
  definition.SortId = static_cast<int16_t>(query_.Options.SortId);
  definition.BlobBlockSize = query_.Options.BlobBlockSize;
  definition.Description = query_.Options.Description;
  definition.Password = query_.Options.Password;
  definition.Encrypted = query_.Options.Encrypted;
  definition.UserMajor = static_cast<int16_t>(query_.Options.UserMajorVersion);
  definition.UserMinor = static_cast<int16_t>(query_.Options.UserMinorVersion);

  result_ = std::make_unique<TDataCursor>(directory_);
  result_->SetTableName(name);
  result_->SetInMemory(memory);
  result_->SetExclusive(true);
  // A table named after INTO that exists already is refused (13060), never
  // replaced: a SELECT must not destroy rows it was not asked to touch. A
  // generated name's file was made empty to reserve the name. A run that
  // fails here keeps no cursor of it: the next run tries again.
  try {
    result_->CreateTable(definition, into.empty(), true);
  } catch (...) {
    CloseResultTable();
    throw;
  }
  result_->SetTemporaryTable(into.empty());
  result_->SetResultSet(true);
  result_->SetNaturalOrder(true);
  try {
    // The statement's own password opens its table, whether the session
    // knows it or not (CreateTable stored it trimmed).
    const TLentPassword lent(definition.Encrypted ? &session : nullptr, definition.Password);
    result_->Open();
  } catch (...) {
    // The table is this run's own, made but never filled: left behind, it
    // would take the name from the next run.
    try {
      result_->DeleteTable();
    } catch (const Exception&) {
      // The failure that got here is the one the caller hears of.
    }
    CloseResultTable();
    throw;
  }
  // The result is written in one pass and mostly read in order: its caches
  // keep their fixed sizes, and every run's emptying drops no more.
  result_->Table()->SetCacheBudgetBytes(0);
  row_.assign(static_cast<size_t>(result_->GetRecordSize()), 0);
}

TScopedResultRowsLimit::TScopedResultRowsLimit(size_t max_bytes) : previous_(rows_in_memory_limit) {
  rows_in_memory_limit = max_bytes;
}

TScopedResultRowsLimit::~TScopedResultRowsLimit() {
  rows_in_memory_limit = previous_;
}

void TSelectExecution::CloseResultTable() {
  if (result_) {
    result_->Close(true);
    result_.reset();
  }
  if (directory_ != nullptr) {
    query_.Statement.Session().CloseDirectory(directory_);
    directory_ = nullptr;
  }
}

}  // namespace jw
