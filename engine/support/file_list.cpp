#include "engine/support/file_list.h"

#include "engine/support/engine_heap.h"
#include "engine/support/engine_strings.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

bool IsMemoryFile(const TAbstractFile& file) {
  return dynamic_cast<const TMemoryFile*>(&file) != nullptr;
}

// Disk file names follow the Linux file system, which tells case apart; a
// memory file has no file system behind it, and its name matches without
// regard to case, as table names do. Blanks and control characters around
// either name do not count.
bool SameEntryName(const std::string& a, const std::string& b, bool in_memory) {
  const std::string trimmed_a = Trim(a);
  const std::string trimmed_b = Trim(b);
  return in_memory ? SameText(trimmed_a, trimmed_b) : trimmed_a == trimmed_b;
}

// The copy buffer, released on every path.
class CopyBuffer {
 public:
  CopyBuffer() : data_(EngineAlloc(kCopyBufferSize)) {}
  ~CopyBuffer() { EngineFree(data_); }
  void* Data() const { return data_; }

 private:
  void* data_;
};

// Moves the source handle's contents, from its start, to the target handle
// at its position. 0, or the negated code of a failed read or write.
int32_t CopyContents(TAbstractFile& source, int32_t source_handle, TAbstractFile& target,
                     int32_t target_handle) {
  const CopyBuffer buffer;
  source.Seek(source_handle, 0, 0);
  int32_t count;
  do {
    count = source.Read(source_handle, buffer.Data(), kCopyBufferSize);
    if (count < 0) return -static_cast<int32_t>(kErrRead);
    if (count > 0 && target.Write(target_handle, buffer.Data(), count) != count) {
      return -static_cast<int32_t>(kErrWrite);
    }
  } while (count == kCopyBufferSize);
  return 0;
}

}  // namespace

TAbstractFile* TFileList::Find(const std::string& name, bool in_memory) {
  for (const auto& file : files_) {
    if (IsMemoryFile(*file) == in_memory && SameEntryName(file->Name(), name, in_memory)) {
      return file.get();
    }
  }
  return nullptr;
}

TAbstractFile* TFileList::Add(const std::string& name, bool in_memory) {
  std::unique_ptr<TAbstractFile> file;
  if (in_memory) {
    file = std::make_unique<TMemoryFile>();
  } else {
    file = std::make_unique<TPhysicalFile>();
  }
  file->SetName(name);
  files_.push_back(std::move(file));
  return files_.back().get();
}

void TFileList::Remove(TAbstractFile* file) {
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (it->get() == file) {
      files_.erase(it);
      return;
    }
  }
}

int32_t TFileList::CreateFile(const std::string& name, bool in_memory, bool temporary,
                              TAbstractFile*& file, bool must_be_new) {
  TCriticalSectionGuard guard(lock_);
  file = nullptr;
  if (Trim(BaseFileName(name)).empty()) return -static_cast<int32_t>(kErrInvalidPath);
  TAbstractFile* entry = Find(name, in_memory);
  if (entry != nullptr && entry->HandleCount() > 0) return -static_cast<int32_t>(kErrAccessDenied);
  if (entry != nullptr && in_memory && must_be_new) return -static_cast<int32_t>(kErrTableExists);
  if (entry == nullptr) entry = Add(name, in_memory);
  entry->SetExclusive(true);
  entry->SetTemporary(temporary);
  if (!in_memory) static_cast<TPhysicalFile*>(entry)->SetMustBeNew(must_be_new);
  const int32_t result = entry->CreateFile();
  if (result < 0) {
    // A disk entry without a file behind it must not make Exists true.
    if (!in_memory) Remove(entry);
    return result;
  }
  file = entry;
  return result;
}

int32_t TFileList::OpenFile(const std::string& name, bool in_memory, bool temporary, bool exclusive,
                            bool& read_only, TAbstractFile*& file) {
  TCriticalSectionGuard guard(lock_);
  file = nullptr;
  TAbstractFile* entry = Find(name, in_memory);
  if (entry != nullptr && entry->HandleCount() > 0) {
    if (entry->Exclusive() || exclusive) return -static_cast<int32_t>(kErrAccessDenied);
  } else if (entry == nullptr && in_memory) {
    return -static_cast<int32_t>(kErrInvalidPath);
  } else {
    if (entry == nullptr) entry = Add(name, in_memory);
    entry->SetExclusive(exclusive);
    entry->SetTemporary(temporary);
  }
  const int32_t result = entry->OpenFile();
  read_only = entry->ReadOnlyAttributeFound();
  if (result < 0) {
    if (!in_memory && entry->HandleCount() == 0) Remove(entry);
    return result;
  }
  file = entry;
  return result;
}

int32_t TFileList::CloseFile(TAbstractFile* file, bool in_memory, int32_t handle) {
  TCriticalSectionGuard guard(lock_);
  TAbstractFile* entry = nullptr;
  for (const auto& f : files_) {
    if (f.get() == file && IsMemoryFile(*f) == in_memory) entry = f.get();
  }
  if (entry == nullptr || entry->HandleCount() == 0) return -static_cast<int32_t>(kErrInvalidPath);
  entry->CloseHandle(handle);
  if (entry->HandleCount() > 0) return 0;
  if (!in_memory || entry->Temporary()) Remove(entry);
  return 0;
}

int32_t TFileList::RenameFile(const std::string& name, bool in_memory,
                              const std::string& new_name) {
  TCriticalSectionGuard guard(lock_);
  TAbstractFile* entry = Find(name, in_memory);
  if (entry != nullptr) {
    if (entry->HandleCount() > 0) return -static_cast<int32_t>(kErrAccessDenied);
    return entry->Rename(new_name);
  }
  if (in_memory) return -static_cast<int32_t>(kErrInvalidPath);
  TPhysicalFile transient;
  transient.SetName(name);
  return transient.Rename(new_name);
}

int32_t TFileList::DeleteFile(const std::string& name, bool in_memory) {
  TCriticalSectionGuard guard(lock_);
  TAbstractFile* entry = Find(name, in_memory);
  if (entry != nullptr) {
    if (entry->HandleCount() > 0) return -static_cast<int32_t>(kErrAccessDenied);
    const int32_t result = entry->Delete();
    Remove(entry);
    return result;
  }
  if (in_memory) return -static_cast<int32_t>(kErrInvalidPath);
  TPhysicalFile transient;
  transient.SetName(name);
  return transient.Delete();
}

bool TFileList::Exists(const std::string& name, bool in_memory) {
  TCriticalSectionGuard guard(lock_);
  if (Find(name, in_memory) != nullptr) return true;
  return !in_memory && FileExists(name);
}

int32_t TFileList::CopyOut(TAbstractFile* source, int32_t source_handle,
                           const std::string& target_name, bool in_memory) {
  TCriticalSectionGuard guard(lock_);
  TAbstractFile* target = nullptr;
  const int32_t target_handle = CreateFile(target_name, in_memory, false, target);
  if (target_handle < 0) return target_handle;
  const int32_t result = CopyContents(*source, source_handle, *target, target_handle);
  target->CloseHandle(target_handle);
  if (result < 0) {
    // A partial copy must not stay behind, where it would pass for a whole one.
    target->Delete();
    Remove(target);
  }
  return result;
}

int32_t TFileList::CopyIn(TAbstractFile* target, int32_t target_handle,
                          const std::string& source_name, bool in_memory) {
  TCriticalSectionGuard guard(lock_);
  bool read_only = false;
  TAbstractFile* source = nullptr;
  const int32_t source_handle = OpenFile(source_name, in_memory, false, true, read_only, source);
  if (source_handle < 0) return source_handle;
  target->Seek(target_handle, 0, 0);
  int32_t result = CopyContents(*source, source_handle, *target, target_handle);
  // The target ends where the source ends.
  if (result == 0 && target->Write(target_handle, nullptr, 0) != 0) {
    result = -static_cast<int32_t>(kErrWrite);
  }
  source->CloseHandle(source_handle);
  return result;
}

int32_t TFileList::FileCount() {
  TCriticalSectionGuard guard(lock_);
  return static_cast<int32_t>(files_.size());
}

void TFileList::FreeClosedFiles() {
  TCriticalSectionGuard guard(lock_);
  std::erase_if(
      files_, [](const std::unique_ptr<TAbstractFile>& file) { return file->HandleCount() == 0; });
}

TFileList& FileList() {
  // Never destroyed: a handler with static storage, made before the first
  // call here, closes its file after every static object made later is gone.
  static TFileList* const registry = new TFileList;
  return *registry;
}

void InitFileList() {
  FileList();
}

void DoneFileList() {
  FileList().FreeClosedFiles();
}

}  // namespace jw
