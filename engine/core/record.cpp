#include "engine/core/record.h"

#include <algorithm>
#include <cstring>

#include "engine/core/data_file.h"
#include "engine/support/scrambler.h"

namespace jw {

TRecord::TRecord(TDataFile* file) : file_(file) {
  SetSize(file != nullptr ? file->RecordSize() : 0);
}

TRecord::TRecord(TDataFile* file, uint8_t* storage, int32_t capacity)
    : bytes_(storage), file_(file), capacity_(capacity) {
  SetSize(file != nullptr ? file->RecordSize() : 0);
}

void TRecord::SetSize(int32_t size) {
  // Even a record of an empty definition keeps its 9-byte head addressable.
  const int32_t bytes = std::max(size, kRecordHeadSize);
  if (bytes == size_) return;
  if (bytes > capacity_) {
    own_bytes_ = std::make_unique<uint8_t[]>(static_cast<size_t>(bytes));
    bytes_ = own_bytes_.get();
    capacity_ = bytes;
  }
  size_ = bytes;
  std::memset(bytes_, 0, static_cast<size_t>(bytes));
}

void TRecord::ReserveKey(int32_t length) {
  if (length > static_cast<int32_t>(key_.size())) key_.resize(length);
}

void TRecord::SetRecordNumber(int32_t number) {
  if (number == record_number_) return;
  record_number_ = number;
  if (bytes_[kRecStatus] == kRecordLive) PutInt32(&bytes_[kRecNumber], number);
}

void TRecord::InitNew(bool with_id) {
  std::memset(bytes_, 0, static_cast<size_t>(size_));
  if (with_id) PutInt32(&bytes_[kRecId], file_->NextAutoInc());
  PutInt32(&bytes_[kRecNumber], record_number_);
  modified_ = false;
}

void TRecord::LoadFrom(uint8_t* raw) {
  file_->DecodeRecordImage(raw, record_number_);
  std::memcpy(bytes_, raw, static_cast<size_t>(std::min(file_->RecordSize(), size_)));
  modified_ = false;
}

void TRecord::StoreTo(uint8_t* out) {
  const int32_t size = file_->RecordSize();
  std::memcpy(out, bytes_, size);
  if (file_->Encrypted()) ScrambleBuffer(out, size, kRecordSeed.K1, kRecordSeed.K2);
  modified_ = false;
}

void TRecord::SetStatus(uint8_t status) {
  bytes_[kRecStatus] = status;
  modified_ = true;
}

int32_t TRecord::GetLiveRecordNumber() const {
  return bytes_[kRecStatus] != kRecordLive ? GetInt32(&bytes_[kRecNumber]) : 0;
}

int32_t TRecord::RecordId() const {
  return GetInt32(&bytes_[kRecId]);
}

void TRecord::SetRecordId(int32_t id) {
  PutInt32(&bytes_[kRecId], id);
  modified_ = true;
}

void TRecord::SetLinkNumber(int32_t number) {
  PutInt32(&bytes_[kRecNumber], number);
  modified_ = true;
}

void TRecord::Assign(const TRecord& other) {
  file_ = other.file_;
  modified_ = other.Modified();
  record_number_ = other.record_number_;
  std::memcpy(bytes_, other.bytes_, static_cast<size_t>(std::min(size_, other.size_)));
}

bool TRecord::SameBytes(const uint8_t* bytes) const {
  return std::memcmp(bytes_, bytes, static_cast<size_t>(size_)) == 0;
}

void TRecord::SetFieldBytes(const uint8_t* bytes) {
  std::memcpy(bytes_ + kRecordHeadSize, bytes + kRecordHeadSize,
              static_cast<size_t>(size_ - kRecordHeadSize));
  modified_ = true;
}

}  // namespace jw
