#include "engine/support/file_handler.h"

#include <algorithm>

#include "engine/support/file_list.h"
#include "platform/rtl/strings.h"

namespace jw {

TFileHandler::~TFileHandler() {
  if (open_) TFileHandler::Close();
}

void TFileHandler::SetName(const std::string& name) {
  name_ = ShortString(name);
}

void TFileHandler::Raise(EngineErrorCode code) const {
  RaiseEngineError(code, name_);
}

void TFileHandler::Check(int32_t result) const {
  if (result < 0) Raise(static_cast<EngineErrorCode>(-result));
}

void TFileHandler::Open() {
  if (open_) return;
  read_only_ = false;
  TAbstractFile* file = nullptr;
  bool read_only = false;
  const int32_t result =
      FileList().OpenFile(name_, in_memory_, temporary_, exclusive_, read_only, file);
  // A file that is not there is named so, whatever else the open met; the
  // look is taken only then, so that an open costs no call for it.
  if (result < 0 && !Exists()) Raise(kErrInvalidPath);
  Check(result);
  read_only_ = read_only;
  TakeOpenedFile(file, result);
}

void TFileHandler::Close() {
  ForgetMappings();
  if (handle_ > 0 && file_ != nullptr) FileList().CloseFile(file_, in_memory_, handle_);
  file_ = nullptr;
  handle_ = 0;
  open_ = false;
}

void TFileHandler::CreateFile(bool must_be_new) {
  TAbstractFile* file = nullptr;
  const int32_t result = FileList().CreateFile(name_, in_memory_, temporary_, file, must_be_new);
  Check(result);
  TakeOpenedFile(file, result);
}

void TFileHandler::TakeOpenedFile(TAbstractFile* file, int32_t handle) {
  file_ = file;
  ForgetMappings();
  handle_ = handle;
  open_ = true;
}

void TFileHandler::ForgetMappings() {
  head_ = nullptr;
  unmapped_heads_ = 0;
  view_.Reset();
  unmapped_reads_ = 0;
}

void TFileHandler::DeleteFile() {
  Check(FileList().DeleteFile(name_, in_memory_));
}

void TFileHandler::RenameFile(const std::string& new_name) {
  Check(FileList().RenameFile(name_, in_memory_, new_name));
  SetName(new_name);
}

void TFileHandler::CopyToFile(const std::string& file_name) {
  if (open_) Check(FileList().CopyOut(file_, handle_, file_name, in_memory_));
}

void TFileHandler::CopyFromFile(const std::string& file_name) {
  view_.Reset();
  if (open_) Check(FileList().CopyIn(file_, handle_, file_name, in_memory_));
}

bool TFileHandler::Exists() {
  return FileList().Exists(name_, in_memory_);
}

int32_t TFileHandler::Read(void* buffer, int32_t length, bool allow_short) {
  if (file_ == nullptr) Raise(kErrRead);
  const int32_t count = file_->Read(handle_, buffer, length);
  if (count < 0 || (count < length && !allow_short)) Raise(kErrRead);
  return count;
}

int32_t TFileHandler::Write(const void* buffer, int32_t length) {
  if (file_ == nullptr) Raise(kErrWrite);
  // Writing no bytes cuts the file: the mapping may reach past the new end.
  if (length == 0) view_.Reset();
  const int32_t count = file_->Write(handle_, buffer, length);
  if (count != length) Raise(kErrWrite);
  return count;
}

void TFileHandler::Flush() {
  if (file_ != nullptr && !file_->Flush(handle_)) Raise(kErrWrite);
}

int64_t TFileHandler::Seek(int64_t offset, int origin) {
  if (file_ == nullptr) return 0;
  return file_->Seek(handle_, offset, origin);
}

int64_t TFileHandler::GetSize() {
  if (file_ == nullptr) return 0;
  TCriticalSectionGuard guard(file_->Lock());
  const int64_t position = file_->Seek(handle_, 0, 1);
  const int64_t size = file_->Seek(handle_, 0, 2);
  file_->Seek(handle_, position, 0);
  return size;
}

OsLockResult TFileHandler::SetRegionLock(int64_t offset, int64_t length, bool lock) {
  if (file_ == nullptr) return OsLockResult::Failed;
  if (lock) return file_->LockRegion(offset, length);
  return file_->UnlockRegion(offset, length) ? OsLockResult::Taken : OsLockResult::Failed;
}

OsLockResult TFileHandler::SetByteLocks(const std::vector<int64_t>& offsets, bool lock) {
  if (file_ == nullptr) return OsLockResult::Failed;
  if (lock) return file_->LockBytes(offsets);
  return file_->UnlockBytes(offsets) ? OsLockResult::Taken : OsLockResult::Failed;
}

const uint8_t* TFileHandler::MapHead(int32_t length) {
  if (file_ == nullptr || in_memory_) return nullptr;
  head_ = file_->MapHead(length);
  head_length_ = length;
  return head_;
}

int32_t TFileHandler::ReadMapped(int64_t offset, uint8_t* buffer, int32_t length) {
  if (file_ == nullptr || in_memory_ || offset < 0 || length <= 0) return 0;
  if (!view_.Mapped() && unmapped_reads_ < kReadsBeforeMapping) {
    ++unmapped_reads_;
    return 0;
  }
  if (offset + length > view_.Length() && !view_.Refused()) file_->RefreshView(view_);
  const int64_t count = std::min<int64_t>(length, view_.Length() - offset);
  if (count <= 0 || !view_.Copy(offset, buffer, count)) return 0;
  return static_cast<int32_t>(count);
}

void TFileHandler::EnterFileLock() {
  if (file_ != nullptr) file_->Lock().Enter();
}

void TFileHandler::LeaveFileLock() {
  if (file_ != nullptr) file_->Lock().Leave();
}

}  // namespace jw
