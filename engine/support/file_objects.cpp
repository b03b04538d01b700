#include "engine/support/file_objects.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/support/engine_heap.h"

namespace jw {

EngineErrorCode EngineCodeFromOsError(OsFileError error) {
  switch (error) {
    case OsFileError::NotFound:
      return kErrInvalidPath;
    case OsFileError::TooManyFiles:
      return kErrTooManyFiles;
    case OsFileError::AccessDenied:
      return kErrAccessDenied;
    case OsFileError::BadHandle:
      return kErrInvalidHandle;
    case OsFileError::NoMemory:
      return kErrOutOfMemory;
    case OsFileError::NoDevice:
      return kErrDeviceAccess;
    case OsFileError::CrossDevice:
      return kErrTableMoved;
    case OsFileError::None:
    case OsFileError::Exists:
    case OsFileError::Other:
      break;
  }
  return kErrUnknownOsError;
}

namespace {

int32_t Negated(OsFileError error) {
  return -static_cast<int32_t>(EngineCodeFromOsError(error));
}

}  // namespace

// TAbstractFile

TAbstractFile::HandleRecord* TAbstractFile::FindRecord(int32_t id) {
  const int32_t index = FindHandle(id);
  return index < 0 ? nullptr : &handles_[index];
}

bool TAbstractFile::WriteFits(int64_t position, int32_t length) {
  return position >= 0 && length >= 0 && position + length <= kMaxFileEnd;
}

int32_t TAbstractFile::FindHandle(int32_t id) {
  TCriticalSectionGuard guard(lock_);
  for (size_t i = 0; i < handles_.size(); ++i) {
    if (handles_[i].id == id) return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t TAbstractFile::CreateFile() {
  TCriticalSectionGuard guard(lock_);
  size_ = 0;
  return AddHandle();
}

int32_t TAbstractFile::OpenFile() {
  TCriticalSectionGuard guard(lock_);
  return AddHandle();
}

int32_t TAbstractFile::AddHandle() {
  int32_t id = 1;
  while (FindHandle(id) >= 0) ++id;
  handles_.push_back(HandleRecord{id, 0});
  return id;
}

void TAbstractFile::CloseHandle(int32_t id) {
  TCriticalSectionGuard guard(lock_);
  const int32_t index = FindHandle(id);
  if (index >= 0) handles_.erase(handles_.begin() + index);
}

int32_t TAbstractFile::Rename(const std::string& new_name) {
  TCriticalSectionGuard guard(lock_);
  name_ = new_name;
  return 0;
}

int32_t TAbstractFile::Delete() {
  return 0;
}

int32_t TAbstractFile::Read(int32_t id, void*, int32_t length) {
  TCriticalSectionGuard guard(lock_);
  HandleRecord* handle = FindRecord(id);
  if (handle == nullptr || handle->position < 0 || handle->position > size_ || length <= 0) {
    return 0;
  }
  const auto count = static_cast<int32_t>(std::min<int64_t>(length, size_ - handle->position));
  handle->position += count;
  return count;
}

int32_t TAbstractFile::Write(int32_t id, const void*, int32_t length) {
  TCriticalSectionGuard guard(lock_);
  HandleRecord* handle = FindRecord(id);
  if (handle == nullptr) return 0;
  if (!WriteFits(handle->position, length)) return -1;
  if (length == 0) {
    size_ = handle->position;
    return 0;
  }
  handle->position += length;
  size_ = std::max(size_, handle->position);
  return length;
}

bool TAbstractFile::Flush(int32_t) {
  return true;
}

int64_t TAbstractFile::Seek(int32_t id, int64_t offset, int origin) {
  TCriticalSectionGuard guard(lock_);
  HandleRecord* handle = FindRecord(id);
  if (handle == nullptr) return 0;
  switch (origin) {
    case 0:
      handle->position = offset;
      break;
    case 1:
      handle->position += offset;
      break;
    default:
      handle->position = size_;
      break;
  }
  return handle->position;
}

OsLockResult TAbstractFile::AddRange(int64_t offset, int64_t length) {
  if (!LockRangeAllowed(offset, length)) return OsLockResult::Failed;
  const int64_t last = offset + length - 1;
  const auto after = ranges_.upper_bound(offset);
  if (after != ranges_.end() && after->first <= last) return OsLockResult::Busy;
  if (after != ranges_.begin() && std::prev(after)->second >= offset) return OsLockResult::Busy;
  ranges_.emplace_hint(after, offset, last);
  return OsLockResult::Taken;
}

bool TAbstractFile::RemoveRange(int64_t offset, int64_t length) {
  const auto it = ranges_.find(offset);
  if (it == ranges_.end() || it->second != offset + length - 1) return false;
  ranges_.erase(it);
  return true;
}

bool TAbstractFile::HeldWithin(int64_t first, int64_t last) const {
  if (first > last) return false;
  // The ranges never overlap, so the last one to start by `last` ends
  // latest of those that could reach into first .. last.
  const auto after = ranges_.upper_bound(last);
  return after != ranges_.begin() && std::prev(after)->second >= first;
}

OsLockResult TAbstractFile::LockRegion(int64_t offset, int64_t length) {
  TCriticalSectionGuard guard(lock_);
  return AddRange(offset, length);
}

bool TAbstractFile::UnlockRegion(int64_t offset, int64_t length) {
  TCriticalSectionGuard guard(lock_);
  return RemoveRange(offset, length);
}

OsLockResult TAbstractFile::LockBytes(const std::vector<int64_t>& offsets) {
  TCriticalSectionGuard guard(lock_);
  for (size_t i = 0; i < offsets.size(); ++i) {
    const OsLockResult result = AddRange(offsets[i], 1);
    if (result == OsLockResult::Taken) continue;
    for (size_t k = i; k-- > 0;) RemoveRange(offsets[k], 1);
    return result;
  }
  return OsLockResult::Taken;
}

bool TAbstractFile::UnlockBytes(const std::vector<int64_t>& offsets) {
  TCriticalSectionGuard guard(lock_);
  bool all = true;
  for (const int64_t offset : offsets) {
    if (!RemoveRange(offset, 1)) all = false;
  }
  return all;
}

// TMemoryFile

TMemoryFile::~TMemoryFile() {
  EngineFree(data_);
}

int32_t TMemoryFile::CreateFile() {
  TCriticalSectionGuard guard(Lock());
  GrowBuffer(0, 4096, data_, capacity_);
  return TAbstractFile::CreateFile();
}

int32_t TMemoryFile::Read(int32_t id, void* buffer, int32_t length) {
  TCriticalSectionGuard guard(Lock());
  const int32_t count = TAbstractFile::Read(id, buffer, length);
  if (count > 0) {
    const int64_t end = FindRecord(id)->position;
    std::memcpy(buffer, static_cast<char*>(data_) + end - count, static_cast<size_t>(count));
  }
  return count;
}

int32_t TMemoryFile::Write(int32_t id, const void* buffer, int32_t length) {
  TCriticalSectionGuard guard(Lock());
  HandleRecord* handle = FindRecord(id);
  if (handle == nullptr) return 0;
  if (!WriteFits(handle->position, length)) return -1;
  const int64_t start = handle->position;
  const int64_t old_size = size_;
  // Grow first, so that an exhausted heap leaves size and position alone.
  const int64_t end = start + length;
  // A buffer outgrown at least doubles, so that a file written at its end
  // a page at a time is copied a bounded number of times, not once a page.
  const int64_t wanted =
      end > capacity_ ? std::max(end, std::min(2 * int64_t{capacity_}, kMaxFileEnd)) : end;
  if (end > 0) GrowBuffer(static_cast<int32_t>(wanted), 4096, data_, capacity_);
  // A gap between the old end and the position reads back as zeros, also
  // where the buffer still holds bytes of a truncated end.
  if (start > old_size) {
    std::memset(static_cast<char*>(data_) + old_size, 0, static_cast<size_t>(start - old_size));
  }
  const int32_t count = TAbstractFile::Write(id, buffer, length);
  if (length == 0) {
    // Truncation releases the buffer only at size 0.
    if (size_ == 0) GrowBuffer(0, 4096, data_, capacity_);
    return 0;
  }
  std::memcpy(static_cast<char*>(data_) + start, buffer, static_cast<size_t>(length));
  return count;
}

const uint8_t* TAbstractFile::MapHead(int32_t) {
  return nullptr;
}

bool TAbstractFile::RefreshView(TOsFileView&) {
  return false;
}

// TPhysicalFile

int32_t TPhysicalFile::CreateFile() {
  TCriticalSectionGuard guard(Lock());
  const bool must_be_new = must_be_new_;
  must_be_new_ = false;
  const OsFileError error = os_file_.Create(Name(), must_be_new);
  if (error == OsFileError::Exists) return -static_cast<int32_t>(kErrTableExists);
  if (error != OsFileError::None) return Negated(error);
  position_ = 0;
  delete_on_close_ = Temporary();
  return TAbstractFile::CreateFile();
}

int32_t TPhysicalFile::OpenFile() {
  TCriticalSectionGuard guard(Lock());
  if (HandleCount() == 0) {
    read_only_found_ = false;
    bool read_only = false;
    OsFileError error = OsFileReadOnly(Name(), read_only);
    if (error != OsFileError::None) return Negated(error);
    if (read_only) {
      read_only_ = true;
      read_only_found_ = true;
    }
    error = os_file_.Open(Name(), !read_only_, Exclusive());
    if (error != OsFileError::None) return Negated(error);
    position_ = 0;
    delete_on_close_ = Temporary();
  }
  return TAbstractFile::OpenFile();
}

void TPhysicalFile::CloseHandle(int32_t id) {
  TCriticalSectionGuard guard(Lock());
  TAbstractFile::CloseHandle(id);
  if (HandleCount() > 0 || !os_file_.IsOpen()) return;
  os_file_.Close();
  // Closing the descriptor released every lock it held.
  ClearRanges();
  if (delete_on_close_) OsDeleteFile(Name());
  delete_on_close_ = false;
}

int32_t TPhysicalFile::Rename(const std::string& new_name) {
  TCriticalSectionGuard guard(Lock());
  const OsFileError error = OsRenameFile(Name(), new_name);
  if (error != OsFileError::None) return Negated(error);
  return TAbstractFile::Rename(new_name);
}

int32_t TPhysicalFile::Delete() {
  TCriticalSectionGuard guard(Lock());
  const OsFileError error = OsDeleteFile(Name());
  return error == OsFileError::None ? 0 : Negated(error);
}

const uint8_t* TPhysicalFile::MapHead(int32_t length) {
  TCriticalSectionGuard guard(Lock());
  return os_file_.MapHead(length);
}

bool TPhysicalFile::RefreshView(TOsFileView& view) {
  TCriticalSectionGuard guard(Lock());
  return os_file_.RefreshView(view);
}

int32_t TPhysicalFile::Read(int32_t, void* buffer, int32_t length) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen() || length < 0) return -1;
  const int64_t count = os_file_.ReadAt(position_, buffer, length);
  if (count < 0) return -1;
  position_ += count;
  return static_cast<int32_t>(count);
}

int32_t TPhysicalFile::Write(int32_t, const void* buffer, int32_t length) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen() || !WriteFits(position_, length)) return -1;
  if (length == 0) return os_file_.Truncate(position_) ? 0 : -1;
  if (os_file_.WriteAt(position_, buffer, length) != length) return -1;
  position_ += length;
  return length;
}

bool TPhysicalFile::Flush(int32_t) {
  TCriticalSectionGuard guard(Lock());
  return os_file_.IsOpen() && os_file_.Sync();
}

int64_t TPhysicalFile::Seek(int32_t, int64_t offset, int origin) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen()) return 0;
  switch (origin) {
    case 0:
      position_ = offset;
      break;
    case 1:
      position_ += offset;
      break;
    default: {
      const int64_t size = os_file_.Size();
      if (size >= 0) position_ = size;
      break;
    }
  }
  return position_;
}

OsLockResult TPhysicalFile::LockRegion(int64_t offset, int64_t length) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen()) return OsLockResult::Failed;
  const OsLockResult in_process = AddRange(offset, length);
  if (in_process != OsLockResult::Taken) return in_process;
  const OsLockResult result = os_file_.LockRange(offset, length);
  if (result != OsLockResult::Taken) RemoveRange(offset, length);
  return result;
}

bool TPhysicalFile::UnlockRegion(int64_t offset, int64_t length) {
  TCriticalSectionGuard guard(Lock());
  // Only a range held exactly so reaches the descriptor, so an unlock can
  // never release more than was locked.
  if (!os_file_.IsOpen() || !RemoveRange(offset, length)) return false;
  if (os_file_.UnlockRange(offset, length)) return true;
  AddRange(offset, length);
  return false;
}

// Each byte is locked by a call of its own: a lock over a wider span, even
// for a moment, would show another process records nobody asked for as in
// use, and one that tries them without retries would be refused. A failure
// gives back the bytes taken before it.
OsLockResult TPhysicalFile::LockBytes(const std::vector<int64_t>& offsets) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen()) return OsLockResult::Failed;
  for (size_t i = 0; i < offsets.size(); ++i) {
    OsLockResult result = AddRange(offsets[i], 1);
    if (result == OsLockResult::Taken) {
      result = os_file_.LockRange(offsets[i], 1);
      if (result == OsLockResult::Taken) continue;
      RemoveRange(offsets[i], 1);
    }
    for (size_t k = i; k-- > 0;) {
      os_file_.UnlockRange(offsets[k], 1);
      RemoveRange(offsets[k], 1);
    }
    return result;
  }
  return OsLockResult::Taken;
}

// Each stretch of the bytes with nothing else of this process's held
// between them goes in one call, which walks the descriptor's locks once.
bool TPhysicalFile::UnlockBytes(const std::vector<int64_t>& offsets) {
  TCriticalSectionGuard guard(Lock());
  if (!os_file_.IsOpen()) return false;
  bool all = true;
  std::vector<int64_t> removed;
  removed.reserve(offsets.size());
  for (const int64_t offset : offsets) {
    if (RemoveRange(offset, 1)) {
      removed.push_back(offset);
    } else {
      all = false;
    }
  }
  size_t begin = 0;
  while (begin < removed.size()) {
    size_t end = begin + 1;
    while (end < removed.size() && removed[end] > removed[end - 1] &&
           !HeldWithin(removed[end - 1] + 1, removed[end] - 1)) {
      ++end;
    }
    if (!os_file_.UnlockRange(removed[begin], removed[end - 1] - removed[begin] + 1)) {
      all = false;
      for (size_t k = begin; k < end; ++k) AddRange(removed[k], 1);
    }
    begin = end;
  }
  return all;
}

}  // namespace jw
