// TDataCursor's life: options, open with the password loop, close, the
// read bracket with change detection, and the choice of the current index.
#include "engine/core/data_cursor.h"

#include "engine/core/cursor_read_scope.h"

#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/filter.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {

TDataCursor::TDataCursor(TDataDirectory* directory) : directory_(directory) {
  visible_ = GetRecordsBitmap();
  range_bitmap_ = GetRecordsBitmap();
  live_ = GetRecordsBitmap();
}

TDataCursor::~TDataCursor() {
  try {
    Close(true);
  } catch (const Exception&) {
    // A destructor never throws; the table is released all the same.
  }
  ReleaseRecordsBitmap(visible_);
  ReleaseRecordsBitmap(range_bitmap_);
  ReleaseRecordsBitmap(live_);
}

void TDataCursor::Raise(EngineErrorCode code, const std::string& field,
                        const std::string& index) const {
  RaiseEngineError(code, table_name_, field, index);
}

void TDataCursor::CheckClosed() const {
  if (open_) Raise(kErrTableInUse);
}

// ---- options ----

void TDataCursor::SetOption(bool& option, bool value) {
  CheckClosed();
  option = value;
}

void TDataCursor::SetTableName(const std::string& name) {
  CheckClosed();
  std::string trimmed = Trim(name);
  // Whatever extension the caller gave, the data file's is the one meant.
  if (!trimmed.empty()) trimmed = ChangeFileExt(trimmed, kTableFileExts.Data);
  table_name_ = trimmed;
}

void TDataCursor::SetExclusive(bool value) {
  SetOption(exclusive_, value);
}

void TDataCursor::SetSharedExclusive(bool value) {
  SetOption(shared_exclusive_, value);
}

void TDataCursor::SetReadOnly(bool value) {
  SetOption(read_only_, value);
}

void TDataCursor::SetInMemory(bool value) {
  SetOption(in_memory_, value);
}

void TDataCursor::SetNaturalOrder(bool value) {
  if (value != natural_order_) SetOption(natural_order_, value);
}

void TDataCursor::SetTemporaryTable(bool value) {
  if (value != temporary_) SetOption(temporary_, value);
}

void TDataCursor::SetKeepAutoInc(bool value) {
  // Before the open the wish is kept; the open drops it for a table
  // without an auto-increment field.
  if (!open_ || has_auto_inc_ || !value) keep_auto_inc_ = value;
}

void TDataCursor::SetPasswordHandler(TPasswordHandler handler, void* user_data) {
  password_handler_ = handler;
  password_user_data_ = user_data;
}

// ---- open and close ----

void TDataCursor::Open() {
  if (open_) return;
  TDataTable* table = nullptr;
  // A missing index file is made anew; the status index is rebuilt below.
  const int32_t result = directory_->OpenTable(table_name_, table, exclusive_, in_memory_,
                                               temporary_, shared_exclusive_, true);
  if (result < 0) Raise(static_cast<EngineErrorCode>(-result));
  table_ = table;
  open_ = true;
  try {
    file_read_only_ = table_->ReadOnly();
    if (file_read_only_) read_only_ = true;
    if (table_->CursorCount() == 1) {
      // The first cursor checks the headers, inside a transaction too.
      const bool locked = !table_->StrictChangeDetection();
      if (locked) table_->LockForRead();
      try {
        table_->VerifyHeaders();
      } catch (...) {
        if (locked) table_->UnlockForRead();
        throw;
      }
      if (locked) table_->UnlockForRead();
    }
    const TDataFile& data = table_->DataFile();
    if (data.Encrypted()) AskPassword(data.Password());
    language_id_ = static_cast<uint16_t>(data.LanguageId());
    sort_id_ = static_cast<uint16_t>(data.SortId());
    GetCharOrderMap(language_id_, sort_id_, order_map_);
    TakeFieldList();
    SaveChangeCounters();
    ResetPosition();
    if (table_->Repair()) {
      RebuildStatusIndex();
    } else if (table_->CursorCount() == 1 && table_->DataFile().WriteInterrupted()) {
      RepairInterruptedWrite();
    }
    // Standing on no record, the cursor goes to the first one of the index.
    SelectIndex(natural_order_ ? kNaturalOrder : 0);
  } catch (...) {
    Close(true);
    throw;
  }
}

void TDataCursor::AskPassword(const std::string& password) {
  const TDataSession* session = directory_->Session();
  while (session == nullptr || !session->HasPassword(password)) {
    if (password_handler_ == nullptr || !password_handler_(password_user_data_, *this)) {
      Raise(kErrPasswordRequired);
    }
  }
}

void TDataCursor::TakeFieldList() {
  const TDataFile& data = table_->DataFile();
  fields_.clear();
  derived_.clear();
  has_auto_inc_ = has_validity_checks_ = has_defaults_ = has_derived_ = false;
  for (int32_t i = 1; i <= data.FieldCount(); ++i) {
    const FieldDescriptor& field = data.FieldDesc(i);
    fields_.push_back(field);
    has_auto_inc_ = has_auto_inc_ || field.IsAutoInc();
    has_validity_checks_ = has_validity_checks_ || field.Required != 0 || !field.Minimum.empty() ||
                           !field.Maximum.empty();
    has_defaults_ = has_defaults_ || !field.Default.empty();
  }
  if (!has_auto_inc_) keep_auto_inc_ = false;
  record_size_ = data.RecordSize();
  current_.assign(static_cast<size_t>(record_size_), 0);
}

void TDataCursor::ResetPosition() {
  position_ = 0;
  record_number_ = 0;
  bof_ = eof_ = true;
  range_active_ = false;
  range_start_ = 1;
  range_end_ = table_->IndexFile().LiveCount();
  filtered_count_ = 0;
  bitmap_view_ = false;
}

void TDataCursor::Close(bool discard) {
  if (!open_) return;
  blob_buffers_.clear();
  filters_.clear();
  bitmap_view_ = false;
  visible_->SetRecordCount(0);
  range_bitmap_->SetRecordCount(0);
  live_->SetRecordCount(0);
  live_count_ = -1;
  range_active_ = false;
  range_start_key_.clear();
  range_end_key_.clear();
  position_ = record_number_ = range_start_ = range_end_ = filtered_count_ = 0;
  bof_ = eof_ = true;
  fields_.clear();
  derived_.clear();
  current_.clear();
  key_.clear();
  language_id_ = sort_id_ = 0;
  record_size_ = 0;
  TDataTable* table = table_;
  table_ = nullptr;
  open_ = false;
  read_locked_ = false;
  resync_pending_ = false;
  password_handler_ = nullptr;
  password_user_data_ = nullptr;
  index_progress_ = nullptr;
  index_progress_user_data_ = nullptr;
  restructure_progress_ = nullptr;
  restructure_progress_user_data_ = nullptr;
  data_loss_ = nullptr;
  data_loss_user_data_ = nullptr;
  const int32_t result = directory_->CloseTable(table, discard);
  if (result < 0) Raise(static_cast<EngineErrorCode>(-result));
}

void TDataCursor::Refresh() {
  bool changed = table_->LockForRead();
  read_locked_ = true;
  try {
    changed = (WatchesChanges() && (changed || CountersMoved())) || resync_pending_;
    if (changed) SaveChangeCounters();
    resync_pending_ = false;
    // Without a reported change the view is recomputed all the same.
    Resynchronise();
  } catch (...) {
    EndRead();
    throw;
  }
  EndRead();
}

// ---- change detection ----

bool TDataCursor::CountersMoved() const {
  if (table_->DataFile().ChangeCounter() != data_counter_) return true;
  if (table_->IndexFile().ChangeCounter() != index_counter_) return true;
  return table_->BlobFileInUse() && table_->BlobFile().ChangeCounter() != blob_counter_;
}

void TDataCursor::SaveChangeCounters() {
  data_counter_ = table_->DataFile().ChangeCounter();
  index_counter_ = table_->IndexFile().ChangeCounter();
  blob_counter_ = table_->BlobFileInUse() ? table_->BlobFile().ChangeCounter() : 0;
}

// The files ask before they read from disk, possibly in the middle of a
// walk whose pages are pinned: only the counters in memory are compared
// here, and the walk starts again; the next read bracket resynchronises.
bool TDataCursor::TableFilesChanged() {
  ++file_reads_;
  if (!WatchesChanges() || !CountersMoved()) return false;
  SaveChangeCounters();
  resync_pending_ = true;
  return true;
}

bool TDataCursor::BeginRead() {
  bool changed = false;
  if (table_->StrictChangeDetection()) {
    read_locked_ = true;
    changed = table_->LockForRead();
  } else if (WatchesChanges() && !table_->InTransaction() && !HoldsReadLock()) {
    // Other processes' writes show only in the headers on disk; inside a
    // transaction nobody else writes, and the headers in memory are ahead.
    // Nor does anybody while this table holds a read lock: the headers were
    // compared when it was taken, and a scan under a statement lock reads
    // no header per record.
    table_->DetectChanges();
  }
  changed = (WatchesChanges() && (changed || CountersMoved())) || resync_pending_;
  if (!changed) return false;
  SaveChangeCounters();
  resync_pending_ = false;
  try {
    Resynchronise();
  } catch (...) {
    EndRead();
    throw;
  }
  return true;
}

bool TDataCursor::HoldsReadLock() const {
  const TTableLockState& state = table_->LockState();
  return state.StatementReadLock || state.OperationReadLock;
}

void TDataCursor::EndRead() {
  if (!read_locked_) return;
  read_locked_ = false;
  table_->UnlockForRead();
}

void TDataCursor::Resynchronise() {
  std::vector<uint8_t> bookmark(static_cast<size_t>(GetBookmarkSize()), 0);
  GetBookmark(bookmark.data());
  RecomputeView();
  GotoBookmark(bookmark.data(), true, true);
}

// ---- index choice ----

uint8_t TDataCursor::GetIndexCount() const {
  return static_cast<uint8_t>(table_->IndexFile().SecondaryCount());
}

bool TDataCursor::NaturalOrderInForce() const {
  return index_number_ == kNaturalOrder ||
         (index_number_ == kPrimarySlot && !table_->HasPrimaryIndex());
}

void TDataCursor::SetIndexByName(const std::string& name) {
  if (SameText(name, index_name_) && !NaturalOrderInForce()) return;
  const TIndexFile& index = table_->IndexFile();
  for (int32_t n = 0; n <= index.SecondaryCount(); ++n) {
    if (n == kPrimarySlot && !table_->HasPrimaryIndex()) continue;
    if (SameText(index.IndexDesc(n).Name, name)) {
      SetIndexByNumber(static_cast<uint8_t>(n));
      return;
    }
  }
  Raise(kErrInvalidIndexName, "", name);
}

void TDataCursor::SetIndexByNumber(uint8_t number) {
  if (number == index_number_) return;
  const bool known = number == kNaturalOrder || number == kStatusSlot ||
                     number <= table_->IndexFile().SecondaryCount();
  if (!known) Raise(kErrInvalidIndexName, "", std::to_string(number));
  TCursorReadScope read(*this);
  SelectIndex(number);
}

void TDataCursor::SelectIndex(uint8_t number) {
  const int32_t record = CurrentRecordNumber();
  index_number_ = number;
  CopyIndexFields();
  UpdateBitmapView();
  RecomputeView();
  if (record == 0) {
    First();
    return;
  }
  // Back to the same record in the new order.
  if (NaturalOrderInForce()) {
    if (visible_->IsSet(record)) {
      StandOnNumber(record, visible_->CountSetBefore(record) + 1);
    } else {
      First();
    }
    return;
  }
  std::vector<uint8_t> key(static_cast<size_t>(key_length_));
  BuildKey(current_.data(), key.data());
  if (!SearchKey(key.data(), true, false)) First();
}

void TDataCursor::CopyIndexFields() {
  range_active_ = false;
  if (NaturalOrderInForce()) {
    slot_ = kPrimarySlot;
    key_length_ = 0;
    index_name_.clear();
    order_ = TIndexKeyOrder();
  } else {
    const TIndexFile& index = table_->IndexFile();
    const IndexDescriptor& desc = index.IndexDesc(index_number_);
    slot_ = index_number_;
    index_name_ = desc.Name;
    key_length_ = desc.KeyLength;
    order_ = index.KeyOrder(index_number_);
  }
  key_.assign(static_cast<size_t>(key_length_), 0);
  range_start_key_.assign(static_cast<size_t>(key_length_), 0x00);
  range_end_key_.assign(static_cast<size_t>(key_length_), 0xFF);
}

}  // namespace jw
