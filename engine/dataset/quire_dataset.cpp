// TQuireDataSet: the cursor, record buffers, navigation, editing, bookmarks
// and field values. Keys, ranges, filters, Locate and Lookup are in
// quire_dataset_keys.cpp.
#include "engine/dataset/quire_dataset.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "engine/core/data_cursor.h"
#include "engine/dataset/dataset_texts.h"
#include "engine/dataset/field_type_map.h"
#include "engine/dataset/quire_blob_stream.h"
#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"
#include "engine/support/value_conversions.h"
#include "platform/db/binary_fields.h"
#include "platform/db/db_errors.h"
#include "platform/db/field.h"

namespace jw {
namespace {

constexpr int kRecordInfoSize = 8;

}  // namespace

void TCursorRelease::operator()(TDataCursor* cursor) const {
  if (Owned) delete cursor;
}

TQuireDataSet::TQuireDataSet(TComponent* owner) : TDataSet(owner) {}

TQuireDataSet::~TQuireDataSet() = default;

void TQuireDataSet::SetAutoDisplayLabels(bool value) {
  if (value == auto_display_labels_) return;
  auto_display_labels_ = value;
  ApplyDisplayLabels();
}

void TQuireDataSet::CheckResult(int32_t code) const {
  if (code == 0) return;
  RaiseEngineError(static_cast<EngineErrorCode>(code), cursor_ ? cursor_->TableName() : "");
}

// Buffers.

int32_t TQuireDataSet::RecordNumberOf(const uint8_t* buffer) const {
  int32_t number = 0;
  std::memcpy(&number, buffer + record_info_offset_, sizeof(number));
  return number;
}

void TQuireDataSet::SetRecordNumberOf(TRecordBuffer buffer, int32_t number) const {
  std::memcpy(buffer + record_info_offset_, &number, sizeof(number));
}

uint8_t& TQuireDataSet::BookmarkFlagOf(TRecordBuffer buffer) const {
  return buffer[record_info_offset_ + 4];
}

void TQuireDataSet::ComputeBufferLayout() {
  record_info_offset_ = static_cast<uint16_t>(record_size_ + CalcFieldsSize());
  bookmark_offset_ = static_cast<uint16_t>(record_info_offset_ + kRecordInfoSize);
  buffer_size_ = static_cast<uint16_t>(bookmark_offset_ + BookmarkSize());
}

TRecordBuffer TQuireDataSet::AllocRecordBuffer() {
  return static_cast<TRecordBuffer>(EngineAlloc(buffer_size_));
}

void TQuireDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  EngineFree(buffer);
}

void TQuireDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + record_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TQuireDataSet::InternalInitRecord(TRecordBuffer buffer) {
  cursor_->InitRecord(buffer);
}

void TQuireDataSet::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  SetRecordNumberOf(buffer, -1);
  BookmarkFlagOf(buffer) = bfInserted;
}

TRecordBuffer TQuireDataSet::GetActiveRecordBuffer() {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
      return ActiveBuffer();
    case dsSetKey:
      return current_key_ + sizeof(TKeyBufferHead);
    case dsCalcFields:
      return CalcBuffer();
    case dsFilter:
      return filter_record_;
    case dsOldValue:
      return ReadOldValues();
    default:
      return nullptr;
  }
}

TRecordBuffer TQuireDataSet::ReadOldValues() {
  // A new record has no stored values: its buffer is not on a record.
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) {
    cursor_->ClearRecord(old_values_);
  } else {
    UpdateCursorPos();
    cursor_->GetCurrentRecord(old_values_);
  }
  return old_values_;
}

// Opening and closing.

void TQuireDataSet::OpenCursor(bool info_query) {
  if (!info_query) {
    cursor_ = CreateCursorHandle();
    if (cursor_ == nullptr) DatabaseError(quire_text::kNoTableHandle, this);
  }
  TDataSet::OpenCursor(info_query);
}

void TQuireDataSet::CloseCursor() {
  TDataSet::CloseCursor();
  if (cursor_ != nullptr) DestroyCursorHandle();
}

TCursorHandle TQuireDataSet::CreateCursorHandle() {
  return nullptr;
}

void TQuireDataSet::DestroyCursorHandle() {
  if (cursor_.get_deleter().Owned) cursor_->Close(true);
  cursor_.reset();
}

TDataCursor* TQuireDataSet::GetLookupCursor(const std::string& field_names, bool case_insensitive) {
  (void)field_names;
  (void)case_insensitive;
  return nullptr;
}

void TQuireDataSet::InternalOpen() {
  record_size_ = static_cast<uint16_t>(cursor_->GetRecordSize());
  SetBookmarkSize(static_cast<uint16_t>(cursor_->GetBookmarkSize()));
  can_modify_ = !cursor_->ReadOnly();
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  ReadIndexInfo();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  ApplyDisplayLabels();
  ReadValueSizes();
  ComputeBufferLayout();
  old_values_ = static_cast<TRecordBuffer>(EngineAlloc(record_size_));
  AllocKeyBuffers();
  cursor_->First();
  AfterCursorOpened();
  CreateFilters();
}

void TQuireDataSet::InternalClose() {
  // Closing an owned cursor drops its filters; a lent cursor stays open
  // with its statement, which must not keep filtering by this dataset's
  // filters (nor call back into it) on its next run.
  if (!cursor_.get_deleter().Owned) {
    if (callback_filter_ != nullptr) cursor_->DropFilter(callback_filter_);
    if (expression_filter_ != nullptr) cursor_->DropFilter(expression_filter_);
  }
  expression_filter_ = nullptr;
  callback_filter_ = nullptr;
  FreeKeyBuffers();
  EngineFree(old_values_);
  value_sizes_.clear();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  index_fields_.clear();
  index_field_count_ = 0;
  key_length_ = 0;
  can_modify_ = false;
  index_case_insensitive_ = false;
}

void TQuireDataSet::InternalInitFieldDefs() {
  if (cursor_ != nullptr) LoadFieldDefs(*cursor_);
}

void TQuireDataSet::LoadFieldDefs(TDataCursor& cursor) {
  TFieldDefs& defs = FieldDefs();
  defs.Clear();
  for (int32_t number = 1; number <= cursor.GetCursorFieldCount(); ++number) {
    const FieldDescriptor& desc = cursor.GetFieldDesc(number);
    if (desc.Hidden != 0) continue;
    TFieldType type = ftUnknown;
    int32_t size = 0;
    if (!FieldTypeOfEngine(desc, type, size)) continue;
    std::string name = desc.Name;
    for (int counter = 1; defs.IndexOf(name) >= 0; ++counter) {
      name = Format("%s_%d", desc.Name, counter);
    }
    TFieldDef& def = defs.Add(name, type, size, desc.Required != 0);
    def.SetFieldNo(number);
    if (type == ftBCD) def.SetPrecision(kEngineBcdPrecision);
  }
}

void TQuireDataSet::ReadValueSizes() {
  const int32_t count = cursor_->GetCursorFieldCount();
  value_sizes_.assign(static_cast<size_t>(count) + 1, std::numeric_limits<int32_t>::max());
  for (int32_t number = 1; number <= count; ++number) {
    const FieldDescriptor& desc = cursor_->GetFieldDesc(number);
    // A BLOB field's value is its engine reference, read through the
    // bounded copy whatever the field's size.
    if (desc.Type == kFldBlob) continue;
    value_sizes_[static_cast<size_t>(number)] =
        desc.IsAutoInc() ? static_cast<int32_t>(sizeof(int32_t)) : desc.PhysicalLength;
  }
}

void TQuireDataSet::ApplyDisplayLabels() {
  if (cursor_ == nullptr || !auto_display_labels_) return;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* field = Fields(i);
    const TFieldKind kind = field->FieldKind();
    if (kind != fkData && kind != fkInternalCalc && kind != fkAggregate) continue;
    if (field->FieldNo() < 1) continue;
    const std::string& description = cursor_->GetFieldDesc(field->FieldNo()).Description;
    if (!description.empty()) field->SetDisplayLabel(description);
  }
}

// Fetching and moving.

TGetResult TQuireDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) {
  int32_t result = 0;
  switch (mode) {
    case gmCurrent:
      result = cursor_->GetCurrentRecord(buffer);
      break;
    case gmNext:
      result = cursor_->GetNextRecord(buffer);
      break;
    case gmPrior:
      result = cursor_->GetPriorRecord(buffer);
      break;
  }
  if (result == kErrBeginningOfFile) return grBOF;
  if (result == kErrEndOfFile) return grEOF;
  if (result != 0) {
    if (check) CheckResult(result);
    return grError;
  }
  BookmarkFlagOf(buffer) = bfCurrent;
  // The number of the record just read, in the same read as its bytes.
  SetRecordNumberOf(buffer, cursor_->RecNoOfLastMove());
  GetCalcFields(buffer);
  cursor_->GetBookmark(buffer + bookmark_offset_);
  return grOK;
}

void TQuireDataSet::InternalFirst() {
  cursor_->First();
}

void TQuireDataSet::InternalLast() {
  cursor_->Last();
}

void TQuireDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  // A bookmark of another size was not made by this cursor's index.
  if (bookmark.size() != BookmarkSize()) DatabaseError(db_text::kRecordNotFound, this);
  cursor_->GotoBookmark(bookmark.data(), false, false);
}

void TQuireDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  cursor_->GotoBookmark(buffer + bookmark_offset_, false, false);
}

void TQuireDataSet::InternalRefresh() {
  cursor_->Refresh();
}

void TQuireDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + bookmark_offset_, BookmarkSize());
}

void TQuireDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + bookmark_offset_, data, BookmarkSize());
}

TBookmarkFlag TQuireDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(BookmarkFlagOf(buffer));
}

void TQuireDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  BookmarkFlagOf(buffer) = flag;
}

bool TQuireDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (cursor_ == nullptr || bookmark.size() != BookmarkSize()) return false;
  CursorPosChanged();
  return cursor_->GotoBookmark(bookmark.data(), false, false);
}

int TQuireDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  const bool has_a = !a.empty();
  const bool has_b = !b.empty();
  if (!has_a || !has_b) return has_a == has_b ? 0 : (has_a ? -1 : 1);
  if (cursor_ == nullptr || a.size() != BookmarkSize() || b.size() != BookmarkSize()) return 0;
  return cursor_->CompareBookmarks(a.data(), b.data());
}

int TQuireDataSet::GetRecNo() const {
  CheckActive();
  const TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || RecordCountInBuffers() == 0) return -1;
  return RecordNumberOf(buffer);
}

int TQuireDataSet::GetRecordCount() const {
  CheckActive();
  return cursor_->GetRecordCount();
}

void TQuireDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == RecNo()) return;
  DoBeforeScroll();
  cursor_->SetRecNo(value);
  Resync({rmCenter});
  DoAfterScroll();
}

// Editing.

void TQuireDataSet::InternalEdit() {
  CheckResult(cursor_->GetCurrentRecord(ActiveBuffer(), true));
}

// The post stores the BLOBs the record's streams wrote and puts their chains
// into the record; the buffers the streams left open are then done with, as
// after a cancel. Left open, each post would keep one until the cursor's
// limit of open BLOBs refused the next write.
void TQuireDataSet::InternalPost() {
  if (State() == dsEdit) {
    cursor_->ModifyRecord(ActiveBuffer(), true, true);
  } else {
    cursor_->InsertRecord(ActiveBuffer(), true);
  }
  cursor_->FreeBlobs(true);
}

void TQuireDataSet::InternalCancel() {
  if (State() == dsEdit) cursor_->UnlockRecord(0);
  cursor_->FreeBlobs(true);
}

void TQuireDataSet::InternalDelete() {
  cursor_->DeleteRecord(ActiveBuffer(), true);
}

void TQuireDataSet::DoOnNewRecord() {
  if (copy_on_append_) {
    UpdateCursorPos();
    cursor_->CopyCurrentRecord(ActiveBuffer());
  }
  TDataSet::DoOnNewRecord();
}

void TQuireDataSet::Post() {
  TDataSet::Post();
  if (State() == dsSetKey) EndKeyEdit(true);
}

void TQuireDataSet::Cancel() {
  TDataSet::Cancel();
  if (State() == dsSetKey) EndKeyEdit(false);
}

// Field values.

bool TQuireDataSet::GetFieldData(TField* field, void* buffer) {
  const TRecordBuffer record = GetActiveRecordBuffer();
  if (record == nullptr) return false;
  if (field->FieldNo() > 0) {
    const auto number = static_cast<size_t>(field->FieldNo());
    if (buffer != nullptr && number < value_sizes_.size() &&
        value_sizes_[number] <= field->DataSize()) {
      bool null = false;
      cursor_->GetFieldData(field->FieldNo(), record, null, buffer);
      return !null;
    }
    // The engine writes its own value size, which may exceed the field's
    // (a BLOB reference behind a field of data size 0).
    std::array<uint8_t, 264> value;
    // Only the bytes handed on need a defined start; clearing the whole
    // array cost more than the rest of a field read.
    const auto size = static_cast<size_t>(
        std::clamp<int32_t>(field->DataSize(), 0, static_cast<int32_t>(value.size())));
    std::memset(value.data(), 0, size);
    bool null = false;
    cursor_->GetFieldData(field->FieldNo(), record, null,
                          buffer != nullptr ? value.data() : nullptr);
    if (buffer != nullptr && !null) std::memcpy(buffer, value.data(), size);
    return !null;
  }
  const TDataSetState state = State();
  if (state != dsBrowse && state != dsEdit && state != dsInsert && state != dsCalcFields) {
    return false;
  }
  const uint8_t* slot = record + record_size_ + field->Offset();
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TQuireDataSet::SetFieldData(TField* field, const void* buffer) {
  const TDataSetState state = State();
  if (!IsWriteState(state)) DatabaseError(db_text::kNotEditing, this);
  if (state == dsSetKey &&
      (field->FieldNo() < 0 || (index_field_count_ > 0 && !GetIsIndexField(field)))) {
    DatabaseErrorFmt(quire_text::kFieldNotIndexed, field->DisplayName());
  }
  const TRecordBuffer record = GetActiveRecordBuffer();
  if (field->FieldNo() < 1) {
    uint8_t* slot = record + record_size_ + field->Offset();
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(slot + 1, buffer, static_cast<size_t>(field->DataSize()));
  } else {
    if (state == dsCalcFields) DatabaseError(db_text::kNotEditing, this);
    if (field->ReadOnly() && state != dsSetKey && state != dsFilter) {
      DatabaseErrorFmt(db_text::kFieldReadOnly, field->DisplayName());
    }
    field->Validate(buffer);
    if (field->FieldKind() != fkInternalCalc) {
      cursor_->SetFieldData(field->FieldNo(), record, false, buffer);
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
  }
}

void TQuireDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  if (field->DataType() != ftBCD) {
    TDataSet::DataConvert(field, source, dest, to_native);
    return;
  }
  if (to_native) {
    Currency value;
    std::memcpy(&value, source, sizeof(value));
    const int64_t bcd = CurrencyToBcd(field->Size(), value);
    std::memcpy(dest, &bcd, sizeof(bcd));
  } else {
    int64_t bcd = 0;
    std::memcpy(&bcd, source, sizeof(bcd));
    const Currency value = BcdToCurrency(bcd);
    std::memcpy(dest, &value, sizeof(value));
  }
}

void TQuireDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  if (state == dsOldValue) DatabaseErrorFmt(db_text::kFieldReadOnly, field->DisplayName());
  TDataSet::SetStateFieldValue(state, field, value);
}

// BLOBs.

std::unique_ptr<TStream> TQuireDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  auto* blob = dynamic_cast<TBlobField*>(field);
  if (blob == nullptr) DatabaseErrorFmt(db_text::kUnsupportedFieldType, field->DisplayName());
  return std::make_unique<TQuireBlobStream>(blob, mode);
}

void TQuireDataSet::CloseBlob(TField* field) {
  const TRecordBuffer record = ActiveBuffer();
  if (cursor_ == nullptr || record == nullptr || field->FieldNo() < 1) return;
  cursor_->CloseBlob(field->FieldNo(), record, kDataSetBlobOwner, false);
}

}  // namespace jw
