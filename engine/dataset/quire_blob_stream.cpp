#include "engine/dataset/quire_blob_stream.h"

#include <limits>

#include "engine/core/data_cursor.h"
#include "engine/dataset/quire_dataset.h"
#include "engine/support/engine_errors.h"
#include "platform/db/binary_fields.h"
#include "platform/db/db_errors.h"

namespace jw {
namespace {

constexpr int64_t kMaxBlobPosition = std::numeric_limits<int32_t>::max();

}  // namespace

TQuireBlobStream::TQuireBlobStream(TBlobField* field, TBlobStreamMode mode)
    : field_(field),
      dataset_(dynamic_cast<TQuireDataSet*>(field->DataSet())),
      field_no_(field->FieldNo()) {
  if (dataset_ == nullptr) DatabaseErrorFmt(db_text::kFieldNoDataSet, field->DisplayName());
  record_ = dataset_->GetActiveRecordBuffer();
  if (record_ == nullptr) return;
  if (!field->Modified()) {
    uint8_t open_mode = kBlobReadMode;
    if (mode != bmRead) {
      if (field->ReadOnly()) DatabaseErrorFmt(db_text::kFieldReadOnly, field->DisplayName());
      if (dataset_->State() != dsEdit && dataset_->State() != dsInsert) {
        DatabaseError(db_text::kNotEditing, dataset_);
      }
      open_mode = kBlobWriteMode;
    }
    Check(dataset_->Cursor()->OpenBlob(field_no_, record_, kDataSetBlobOwner, false, open_mode));
  }
  opened_ = true;
  if (mode == bmWrite) {
    Check(dataset_->Cursor()->TruncateBlob(field_no_, record_, false, 0));
    written_ = true;
  }
}

TQuireBlobStream::~TQuireBlobStream() {
  if (!opened_) return;
  try {
    // A post or cancel before the stream's end took the BLOB out of the
    // cursor: marked modified then, the field would stand for a BLOB that
    // no longer exists and could not be read at all.
    int32_t size = 0;
    const bool held = dataset_->Cursor()->GetBlobSize(field_no_, record_, false, size) == 0;
    const bool changed = written_ && held;
    if (changed) field_->SetModified(true);
    if (!field_->Modified()) {
      dataset_->Cursor()->CloseBlob(field_no_, record_, kDataSetBlobOwner, false);
    }
    if (changed) dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
  } catch (...) {
    ApplicationHandleException(dataset_);
  }
}

void TQuireBlobStream::Check(int32_t code) const {
  if (code != 0)
    RaiseEngineError(static_cast<EngineErrorCode>(code), dataset_->Cursor()->TableName());
}

void TQuireBlobStream::CheckRange(int64_t position) const {
  if (position < 0 || position > kMaxBlobPosition) throw EStreamError("Invalid stream position");
}

int64_t TQuireBlobStream::Read(void* buffer, int64_t count) {
  if (!opened_ || count <= 0) return 0;
  // A read ends at the last position a BLOB can have.
  const auto length = static_cast<int32_t>(std::min(count, kMaxBlobPosition - position_));
  int32_t bytes_read = 0;
  const int32_t code = dataset_->Cursor()->ReadBlob(field_no_, record_, false, bytes_read, length,
                                                    buffer, position_);
  if (code == 0 || code == kErrEndOfBlob) {
    position_ += bytes_read;
    return bytes_read;
  }
  if (code == kErrInvalidBlobOffset) return bytes_read;
  Check(code);
  return 0;
}

int64_t TQuireBlobStream::Write(const void* buffer, int64_t count) {
  if (!opened_ || count <= 0) return 0;
  if (position_ + count > kMaxBlobPosition) Check(kErrInvalidBlobLength);
  Check(dataset_->Cursor()->WriteBlob(field_no_, record_, false, static_cast<int32_t>(count),
                                      buffer, position_));
  position_ += static_cast<int32_t>(count);
  written_ = true;
  return count;
}

int64_t TQuireBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == soFromCurrent) target = position_ + offset;
  if (origin == soFromEnd) target = Size() + offset;
  CheckRange(target);
  position_ = static_cast<int32_t>(target);
  return position_;
}

void TQuireBlobStream::SetSize(int64_t size) {
  CheckRange(size);
  if (!opened_) return;
  Check(dataset_->Cursor()->TruncateBlob(field_no_, record_, false, static_cast<int32_t>(size)));
  written_ = true;
  if (position_ > size) position_ = static_cast<int32_t>(size);
}

void TQuireBlobStream::Truncate() {
  SetSize(position_);
}

int64_t TQuireBlobStream::Size() {
  if (!opened_) return 0;
  int32_t size = 0;
  Check(dataset_->Cursor()->GetBlobSize(field_no_, record_, false, size));
  return size;
}

}  // namespace jw
