#include "engine/core/data_table.h"

#include <array>

#include "engine/support/engine_strings.h"
#include "engine/support/file_list.h"
#include "engine/support/file_objects.h"
#include "platform/os/os_file.h"

namespace jw {

TDataTable::TDataTable(TTableDirectory* directory)
    : directory_(directory),
      data_(std::make_unique<TDataFile>(this)),
      index_(std::make_unique<TIndexFile>(this, data_.get())),
      blob_(std::make_unique<TBlobFile>(this, data_.get())) {
  held_.SetRecordCount(kTableBitmapRecords);
  cursor_locked_.SetRecordCount(kTableBitmapRecords);
  deferred_.SetRecordCount(kTableBitmapRecords);
}

TDataTable::~TDataTable() {
  // Whatever cursors still count, the files close now, without their
  // unwritten changes.
  try {
    if (open_) CloseFiles(true);
  } catch (const Exception&) {
  }
}

void TDataTable::Raise(EngineErrorCode code) const {
  RaiseEngineError(code, name_);
}

void TDataTable::SetName(const std::string& name) {
  const std::string forced = ForceFileExt(name, kTableFileExts.Data);
  if (forced != name_) name_ = forced;
}

bool TDataTable::ForceBufferFlush() const {
  return directory_ != nullptr && directory_->ForceBufferFlush();
}

bool TDataTable::StrictChangeDetection() const {
  return directory_ != nullptr && directory_->StrictChangeDetection();
}

bool TDataTable::HasPrimaryIndex() const {
  return !index_->IsOpen() || !index_->NoPrimaryIndex();
}

void TDataTable::BodyWriteStarting() {
  data_->MarkWriteInProgress(syncing_write_back_);
}

void TDataTable::RecordsWriteStarting() {
  if (BlobFileInUse()) blob_->FlushBlocks(false);
}

bool TDataTable::HasBlobFields() const {
  return data_->IsOpen() && data_->BlobFieldCount() > 0;
}

bool TDataTable::BlobFileInUse() const {
  return HasBlobFields() && blob_->IsOpen();
}

// ---- names ----

std::array<TFileHandler*, 3> TDataTable::Files() const {
  return {data_.get(), index_.get(), blob_.get()};
}

std::string TDataTable::BasePath(const std::string& name) const {
  if (in_memory_ || directory_ == nullptr) return name;
  return directory_->Path() + name;
}

TTableFileNames TDataTable::FileNames() const {
  return TableFileNames(BasePath(name_), kTableFileExts);
}

void TDataTable::SetFileNames() {
  const TTableFileNames names = FileNames();
  data_->SetName(names.Data);
  index_->SetName(names.Index);
  blob_->SetName(names.Blob);
  for (TFileHandler* file : Files()) {
    file->SetExclusive(exclusive_);
    file->SetInMemory(in_memory_);
    file->SetTemporary(temporary_);
  }
}

bool TDataTable::FileExists(const std::string& path) const {
  return FileList().Exists(path, in_memory_);
}

void TDataTable::ProbeFree(const std::vector<std::string>& paths) const {
  // The file layer refuses each delete or rename on its own; asking for all
  // files first keeps an operation from stopping half done. A memory file
  // has no other process, and the registry refuses one that is open here.
  if (in_memory_) return;
  for (const std::string& path : paths) {
    const OsFileError error = OsProbeFileFree(path);
    if (error == OsFileError::None || error == OsFileError::NotFound) continue;
    Raise(EngineCodeFromOsError(error));
  }
}

// ---- open and close ----

void TDataTable::Open(bool repair_index) {
  cursor_count_ = 1;
  if (open_) return;
  repair_ = false;
  open_ = true;
  try {
    SetFileNames();
    data_->Open();
    OpenIndexFile(repair_index);
    if (data_->BlobFieldCount() > 0) {
      blob_->SetBlockSize(data_->BlobBlockSize());
      blob_->Open();
    }
  } catch (...) {
    const bool made_index = repair_;
    cursor_count_ = 0;
    ReleaseAndClose();
    // A new index file left behind would open next time as a sound, empty
    // one; without it the next open repairs again.
    if (made_index) {
      try {
        index_->DeleteFile();
      } catch (const EQuireEngineError&) {
        // The first failure is the one the caller hears of.
      }
    }
    throw;
  }
  read_only_ = data_->ReadOnly() || index_->ReadOnly() || (blob_->IsOpen() && blob_->ReadOnly());
  if (read_only_) read_only_latch_ = true;
  lock_state_.StatementBlobSlot = 0;
  lock_state_.OperationBlobSlot = 0;
}

void TDataTable::OpenIndexFile(bool repair_index) {
  try {
    index_->Open();
    return;
  } catch (const EQuireEngineError& e) {
    if (!repair_index || e.GetError(0).ErrorCode() != kErrInvalidPath) throw;
  }
  // The indexes are rebuilt from the records; a file that exists but could
  // not be opened is never overwritten (13060).
  repair_ = true;
  index_->CreateFile(true);
  index_->WriteHeader(true, false);
  index_->Close();
  index_->Open();
}

void TDataTable::AddCursor() {
  ++cursor_count_;
}

void TDataTable::Close(bool discard) {
  if (!open_) return;
  if (cursor_count_ > 0) --cursor_count_;
  if (transaction_ || cursor_count_ > 0) return;
  CloseFiles(discard);
}

void TDataTable::CloseFiles(bool discard) {
  try {
    AbandonTransaction();
    if (exclusive_ && !read_only_latch_) {
      if (discard && temporary_) {
        Reload(true, false);
      } else {
        WriteBack(true, false, false, false, false);
      }
    }
  } catch (...) {
    // A failed write-back still closes the table: its locks and files must
    // not outlive the last cursor.
    ReleaseAndClose();
    throw;
  }
  if (!ReleaseAndClose()) Raise(kErrUnlock);
}

bool TDataTable::ReleaseAndClose() {
  const bool released = ReleaseLocks();
  index_->Close();
  blob_->Close();
  data_->Close();
  open_ = false;
  repair_ = false;
  written_ = false;
  return released;
}

void TDataTable::AbandonTransaction() {
  if (!transaction_) return;
  transaction_ = false;
  Reload(true, false);
}

bool TDataTable::ReleaseLocks() {
  bool all = true;
  // Records another process appended may be held beyond the count known here.
  if (data_->IsOpen() && !data_->UnlockAllRecordBytes(held_, held_.BitCount())) all = false;
  held_.ClearAll();
  cursor_locked_.ClearAll();
  deferred_.ClearAll();
  TTableLockState& s = lock_state_;
  if (s.OperationReadLock || s.StatementReadLock) {
    if (s.OperationBlobSlot != 0 && !blob_->UnlockBlobRead(s.OperationBlobSlot)) all = false;
    if (s.StatementBlobSlot != 0 && !blob_->UnlockBlobRead(s.StatementBlobSlot)) all = false;
    if (!index_->UnlockIndexRead()) all = false;
  }
  if (s.WriteLock && !s.WriteRangesSkipped) {
    if (BlobFileInUse() && !blob_->UnlockBlobWrite()) all = false;
    if (!index_->UnlockIndexWrite()) all = false;
  }
  if ((s.WriteLock || s.LockLevelTransaction) && !data_->UnlockWriteSemaphore()) all = false;
  lock_state_ = TTableLockState();
  return all;
}

// ---- create, delete, rename ----

void TDataTable::CreateFiles(const TTableDefinition& definition) {
  cursor_count_ = 1;
  open_ = true;
  repair_ = false;
  try {
    SetFileNames();
    const TTableDefinition& d = definition;
    data_->InitHeader(d.LanguageId, d.SortId, d.Fields, d.BlobBlockSize, d.Description, d.Password,
                      d.Encrypted, d.UserMajor, d.UserMinor);
    // The descriptors are a body: the header after them ends the write.
    data_->WriteFieldDescs();
    data_->WriteHeader(true, false);
    index_->CreateFile();
    // A definition without indexes defines a table without a primary index.
    index_->DefinePrimaryIndex(d.Indexes.empty() ? IndexDescriptor() : d.Indexes[0]);
    for (size_t i = 1; i < d.Indexes.size(); ++i) index_->AddIndexDesc(d.Indexes[i]);
    index_->WriteHeader(true, false);
    if (data_->BlobFieldCount() > 0) {
      blob_->SetBlockSize(data_->BlobBlockSize());
      blob_->CreateFile();
      blob_->WriteHeader(true, false);
    }
  } catch (...) {
    // Half a table would open later as a damaged one. Only the files this
    // call made go: a definition refused before its file was made leaves
    // an existing table of the name alone.
    std::vector<TFileHandler*> made;
    for (TFileHandler* file : Files()) {
      if (file->IsOpen()) made.push_back(file);
    }
    cursor_count_ = 0;
    ReleaseAndClose();
    for (TFileHandler* file : made) {
      try {
        file->DeleteFile();
      } catch (const EQuireEngineError&) {
        // The first failure is the one the caller hears of.
      }
    }
    throw;
  }
  read_only_ = false;
}

void TDataTable::DeleteFiles() {
  SetFileNames();
  const TTableFileNames names = FileNames();
  ProbeFree({names.Data, names.Index, names.Blob});
  // The data file goes first: without it nothing is left that opens as the table.
  data_->DeleteFile();
  if (index_->Exists()) index_->DeleteFile();
  if (blob_->Exists()) blob_->DeleteFile();
}

void TDataTable::RenameFiles(const std::string& new_name, bool to_backup) {
  SetFileNames();
  const std::string target =
      IsEmptyOrPathName(new_name) || in_memory_ ? new_name : BasePath(new_name);
  const TTableFileNames from = FileNames();
  const TTableFileNames to = TableFileNames(target, to_backup ? kBackupFileExts : kTableFileExts);
  const std::vector<std::string> sources{from.Data, from.Index, from.Blob};
  const std::vector<std::string> targets{to.Data, to.Index, to.Blob};
  ProbeFree(sources);
  if (to_backup) {
    ProbeFree(targets);
  } else {
    for (const std::string& path : targets) {
      if (FileExists(path))
        RaiseEngineError(kErrTableExists, ForceFileExt(target, kTableFileExts.Data));
    }
  }
  const std::array<TFileHandler*, 3> files = Files();
  if (to_backup) {
    for (const std::string& path : targets) {
      if (!FileExists(path)) continue;
      const int32_t result = FileList().DeleteFile(path, in_memory_);
      if (result < 0) Raise(static_cast<EngineErrorCode>(-result));
    }
  }
  size_t renamed = 0;
  try {
    for (; renamed < files.size(); ++renamed) {
      if (files[renamed]->Exists()) files[renamed]->RenameFile(targets[renamed]);
    }
  } catch (...) {
    // Put back what moved, so the table keeps all its files under one name.
    for (size_t i = 0; i < renamed; ++i) {
      if (FileExists(targets[i])) FileList().RenameFile(targets[i], in_memory_, sources[i]);
    }
    SetFileNames();
    throw;
  }
}

// ---- whole-table operations ----

void TDataTable::Empty() {
  if (!open_) Raise(kErrInvalidHandle);
  data_->TruncateRecords();
  data_->WriteHeader(true, false);
  index_->EmptyIndexFile();
  index_->WriteHeader(true, false);
  if (BlobFileInUse()) {
    blob_->EmptyBlobFile();
    blob_->WriteHeader(true, false);
  }
  Reload(true, false);
}

void TDataTable::BackupIndexFile() {
  if (!index_->IsOpen()) Raise(kErrInvalidHandle);
  WriteBack(false, false, false, false, false);
  index_->CopyToFile(TableFileNames(BasePath(name_), kBackupFileExts).Index);
}

void TDataTable::RestoreIndexFile(bool keep, bool delete_backup) {
  const std::string backup = TableFileNames(BasePath(name_), kBackupFileExts).Index;
  if (!keep) {
    if (!index_->IsOpen()) Raise(kErrInvalidHandle);
    // Cached pages belong to the file being replaced; none may be written over it.
    index_->DropPageCache(true);
    try {
      index_->CopyFromFile(backup);
    } catch (const EQuireEngineError&) {
      DiscardIndexFile();
      throw;
    }
    index_->ReadHeader();
  }
  if (delete_backup && FileExists(backup)) {
    ProbeFree({backup});
    const int32_t result = FileList().DeleteFile(backup, in_memory_);
    if (result < 0) Raise(static_cast<EngineErrorCode>(-result));
  }
}

void TDataTable::DiscardIndexFile() {
  // The file is part backup, part old index: it must never be read as an
  // index. Deleted, the next open with repair rebuilds the indexes from the
  // records; emptied first, it fails every open should the delete fail.
  try {
    index_->Seek(0, 0);
    index_->Write(nullptr, 0);
  } catch (const EQuireEngineError&) {
    // The delete below is what counts.
  }
  index_->Close();
  try {
    index_->DeleteFile();
  } catch (const EQuireEngineError&) {
    // The failed copy is the error the caller hears of.
  }
}

void TDataTable::VerifyHeaders() {
  data_->Check();
  // Behind a write-in-progress mark the index pages may be half written (a
  // root split whose old header still names the page that is a leaf now);
  // the repair judges them once it has rebuilt them, from definitions that
  // must hold already.
  if (!repair_) {
    if (data_->WriteInterrupted()) {
      index_->CheckDefinitions();
    } else {
      index_->Check();
    }
  }
  if (BlobFileInUse()) blob_->Check();
}

// ---- caches ----

void TDataTable::WriteBack(bool trim, bool force_data_header, bool flush, bool force_blob_header,
                           bool force_index_header) {
  if (read_only_latch_) return;
  if (transaction_) {
    if (force_data_header && data_->IsOpen()) data_->TouchHeader();
    if (force_index_header && index_->IsOpen()) index_->TouchHeader();
    if (force_blob_header && BlobFileInUse()) blob_->TouchHeader();
    return;
  }
  // What is referred to reaches the disk before what refers to it: BLOB
  // blocks before the records that name them, records before the keys, and
  // every body before the headers that count them. The data header comes
  // last: it ends the write the first body write marked, whose mark a
  // syncing write-back syncs before that body.
  struct TSyncingScope {
    bool& flag;
    const bool outer;
    TSyncingScope(bool& f, bool on) : flag(f), outer(f) { flag = on; }
    ~TSyncingScope() { flag = outer; }
  } syncing{syncing_write_back_, flush};
  const bool blob = BlobFileInUse();
  if (blob) blob_->FlushBlocks(flush);
  if (data_->IsOpen()) {
    data_->FlushRecords(flush);
    data_->WriteFieldDescs();
  }
  if (blob) {
    // The records written no longer name the blocks freed since the last
    // write-back: only now may the free list hand them out.
    blob_->ReleaseFreedBlocks();
    blob_->FlushBlocks(flush);
  }
  // The index pages and the index header share one sync, the header's: a
  // page write always brings a header write after it, and until the data
  // header clears the data file's write mark, an open finds a torn index
  // by that mark, whichever of the two reached the disk.
  if (index_->IsOpen()) index_->FlushPages(false);
  if (blob) blob_->WriteHeader(force_blob_header, flush);
  if (index_->IsOpen()) index_->WriteHeader(force_index_header, flush);
  if (data_->IsOpen()) data_->WriteHeader(force_data_header, flush);
  if (trim) {
    if (blob) blob_->TrimBlockCache();
    if (data_->IsOpen()) data_->TrimRecordCache();
    if (index_->IsOpen()) index_->TrimPageCache(true);
  }
}

void TDataTable::SetCacheBudgetBytes(int64_t bytes) {
  cache_budget_bytes_ = bytes;
  WriteBack(true, false, false, false, false);
}

void TDataTable::Reload(bool trim, bool reread_headers) {
  if (data_->IsOpen()) {
    data_->DropRecordCache();
    if (trim) data_->TrimRecordCache();
    if (reread_headers) data_->ReadHeader();
  }
  if (index_->IsOpen()) {
    index_->DropPageCache(true);
    if (trim) index_->TrimPageCache(true);
    if (reread_headers) index_->ReadHeader();
  }
  if (BlobFileInUse()) {
    blob_->DropBlockCache();
    if (trim) blob_->TrimBlockCache();
    if (reread_headers) blob_->ReadHeader();
  }
}

}  // namespace jw
