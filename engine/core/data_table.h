// TDataTable: one open table of a database directory, shared by every cursor
// of the directory that opens it. It owns the table's data, index and BLOB
// files and opens, creates, closes, empties, deletes, renames and backs them
// up as one; it writes their caches back and reloads them. Its locks between
// processes, change detection and transactions are in table_locks.cpp. The
// directory is reached through TTableDirectory.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/blob_file.h"
#include "engine/core/data_file.h"
#include "engine/core/index_file.h"
#include "engine/core/table_files.h"
#include "engine/support/records_bitmap.h"

namespace jw {

// What an open table asks of the database directory that owns it and of
// the directory's session.
class TTableDirectory {
 public:
  virtual ~TTableDirectory() = default;
  // The folder with a trailing '/'; empty for the in-memory database.
  virtual std::string Path() const = 0;
  virtual bool ForceBufferFlush() const = 0;
  virtual bool StrictChangeDetection() const = 0;
  // A busy record lock is tried again this many times, this far apart.
  virtual int32_t LockRetryCount() const = 0;
  virtual int32_t LockWaitTimeMs() const = 0;
};

// A new table as CreateFiles writes it. Indexes[0] is the primary index (no
// segments: the table has none); the others are secondary indexes.
struct TTableDefinition {
  std::vector<FieldDescriptor> Fields;
  std::vector<IndexDescriptor> Indexes;
  int32_t BlobBlockSize = 0;
  int16_t LanguageId = 0;
  int16_t SortId = 0;
  std::string Description;
  std::string Password;
  bool Encrypted = false;
  int16_t UserMajor = 0;
  int16_t UserMinor = 0;
};

// The table's share of the locks between processes, kept by the lock and
// transaction code as it takes and releases them. Close releases what it says is held.
struct TTableLockState {
  bool StatementReadLock = false;
  bool OperationReadLock = false;
  bool WriteLock = false;
  // The write lock stays held across the changes of a run (KeepWriteLock):
  // the unlock at the end of each change leaves it alone.
  bool WriteLockKept = false;
  // The write lock is held for a record edit inside a transaction without
  // the writers' ranges (LockForRecordWrite).
  bool WriteRangesSkipped = false;
  // The reader slots each read lock took in the BLOB file (0 for none).
  uint16_t StatementBlobSlot = 0;
  uint16_t OperationBlobSlot = 0;
  // The data file's write semaphore is held for a transaction.
  bool LockLevelTransaction = false;
};

// Record bitmaps start with room for this many records.
constexpr int32_t kTableBitmapRecords = 8192;
// Records LockRecordsForTransaction takes all or none at a time: a busy
// one sends only its own group back to LockRecord's retries.
constexpr size_t kRecordLockSpan = 64;

class TDataTable : public TDataFileOwner {
 public:
  explicit TDataTable(TTableDirectory* directory);
  // Closes the table, discarding what is not written yet.
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // Stored with the extension ".DAT" forced.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value) { in_memory_ = value; }
  // The files of a temporary table go when their last handle closes.
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool value) { temporary_ = value; }

  // Opens the three files for the first cursor (or the first after all
  // closed); a table that is open already only counts the cursor. A
  // missing index file raises 11010 unless repair_index is set; then a new
  // index file is made (never over an existing one) and Repair() reports it.
  void Open(bool repair_index = false);
  // One more cursor holds the open table.
  void AddCursor();
  // One cursor lets go; the last one closes the files, writing back an
  // exclusive table (or, with discard on a temporary one, dropping its
  // changes). Releases every lock the table holds.
  void Close(bool discard);
  // Writes a new table's three files and keeps them open for one cursor.
  // A failure leaves no file of the table behind.
  void CreateFiles(const TTableDefinition& definition);
  // Deletes the data, index and BLOB files. Nothing is deleted while
  // another opener, here or in another process, holds any of them (11013).
  void DeleteFiles();
  // Gives the files a new name (bare names go to the directory's folder),
  // or with to_backup the backup extensions, replacing older backups. An
  // existing table of the new name is never replaced (13060), and nothing
  // changes while another opener holds a file involved (11013).
  void RenameFiles(const std::string& new_name, bool to_backup);
  // Writes new, empty headers over the open files and drops the caches.
  void Empty();
  // Writes everything back and copies the index file to the ".IBK" backup.
  void BackupIndexFile();
  // Unless keep, replaces the index file's contents with the backup's and
  // rereads its header; with delete_backup the backup goes afterwards. A
  // copy that fails closes and deletes the index file, which it left part
  // old and part new; the table needs an open with repair then.
  void RestoreIndexFile(bool keep, bool delete_backup);
  // Checks the data file, the index file unless it is being rebuilt or the
  // data file carries the write-in-progress mark, and the BLOB file of a
  // table with BLOB fields.
  void VerifyHeaders();

  // Write-back and reload of the caches. Inside a transaction WriteBack
  // only marks the forced headers changed; nothing is written. Otherwise
  // every body goes first (BLOB blocks, records and descriptors, index
  // pages), then the headers (BLOB, index, data): the data header written
  // last clears the write-in-progress mark the first body write set.
  void WriteBack(bool trim, bool force_data_header, bool flush, bool force_blob_header,
                 bool force_index_header);
  void Reload(bool trim, bool reread_headers);
  // The memory the record and page caches may take beyond their fixed
  // sizes (kTableCacheBudgetBytes when the table opens); 0 keeps them at
  // the fixed sizes, so that an exclusive table writes back as soon as they
  // overflow. Outside a transaction everything is written back and the
  // caches are cut to the new limits at once.
  void SetCacheBudgetBytes(int64_t bytes);

  bool IsOpen() const { return open_; }
  int32_t CursorCount() const { return cursor_count_; }
  // The open had to make a new index file; the cursor rebuilds the indexes.
  bool Repair() const { return repair_; }
  // Once a file was found read-only the table stays read-only for its life.
  bool ReadOnly() const { return read_only_latch_; }
  // Whether a file was read-only at the latest open.
  bool FilesReadOnly() const { return read_only_; }
  bool HasBlobFields() const;
  // The BLOB file takes part in the table's work: BLOB fields and open.
  bool BlobFileInUse() const;
  // The file names of the table (before every file operation they are derived anew).
  TTableFileNames FileNames() const;

  TDataFile& DataFile() { return *data_; }
  TIndexFile& IndexFile() { return *index_; }
  TBlobFile& BlobFile() { return *blob_; }
  const TDataFile& DataFile() const { return *data_; }

  // ---- locks between processes, change detection, transactions ----
  // Rereads the headers whose change counters another writer moved and
  // drops what is cached of those files; true when one had moved.
  bool DetectChanges();
  // A reader's slot in the index (and BLOB) file for one operation; the
  // change result, false when nothing was taken. Failure raises 10249 and
  // leaves nothing taken; a failed release raises 10242.
  bool LockForRead();
  void UnlockForRead();
  // The same, held by a statement over all of its reading.
  bool LockForStatement();
  void UnlockForStatement();
  // The write semaphore (outside a transaction, which holds it already) and
  // the writers' ranges; the change result. Failure raises 10249 and leaves
  // nothing taken. The writers' range covers this table's own reader byte
  // too: a read lock held here is let go first.
  bool LockForWrite();
  void UnlockForWrite();
  // LockForWrite for a change that goes to the caches alone (a record or
  // header-value edit). Inside a transaction, which holds the semaphore
  // already, such a change reaches the files only with the commit, whose
  // write-back takes the writers' ranges: other processes' readers read the
  // files as the last commit left them all along, so the write lock is held
  // without the ranges and costs no system call.
  bool LockForRecordWrite();
  // Inside a transaction: takes the write lock and keeps it across the
  // changes that follow, up to ReleaseKeptWriteLock or the next commit or
  // rollback, so that a run of changes takes the writers' ranges once
  // rather than once a change. Nothing outside a transaction, where every
  // change is written back under a write lock of its own.
  void KeepWriteLock();
  void ReleaseKeptWriteLock();
  // Locks the record's byte within the session's retries (10258 when it
  // stays busy or the number names no record); the change result of the read lock
  // taken for the check. Inside a transaction a record the table holds is
  // taken again, unless a cursor holds it.
  bool LockRecord(int32_t number);
  // Inside a transaction only marks the record for the unlock at its end.
  void UnlockRecord(int32_t number);
  // Inside a transaction: locks the records (ascending, distinct) that the
  // table does not hold yet as if each were locked and unlocked again, so
  // they stay locked to the transaction's end or next interim commit, without
  // a read lock and header check per record. They are taken kRecordLockSpan
  // at a time, all or none; a group with a busy record goes one by one with
  // LockRecord's retries (10258 when one
  // stays busy; those taken stay with the transaction). Nothing outside one.
  void LockRecordsForTransaction(const std::vector<int32_t>& numbers);
  // Unlocks every record held, or with deferred_only the ones marked for
  // the end of the transaction; the rest are released when one fails (10242).
  void UnlockAllRecords(bool deferred_only);
  bool IsRecordHeld(int32_t number) const { return held_.IsSet(number); }
  // Records locked through a cursor of this table: byte locks never keep
  // two cursors of one process apart, these marks do.
  void MarkCursorLock(int32_t number);
  void ClearCursorLock(int32_t number);
  bool IsCursorLocked(int32_t number) const { return cursor_locked_.IsSet(number); }
  // One transaction at a time per table across processes: it holds the
  // write semaphore from start to commit or rollback, and its writes stay
  // in the caches. Rollback drops them; Commit writes everything back under
  // the write lock, and an interim commit (final false) goes on afterwards.
  void StartTransaction();
  void Rollback();
  void Commit(bool final);
  const TTableLockState& LockState() const { return lock_state_; }

  // TDataFileOwner.
  bool InTransaction() const final { return transaction_; }
  bool Written() const override { return written_; }
  void MarkWritten() override { written_ = true; }
  bool ForceBufferFlush() const override;
  bool StrictChangeDetection() const final;
  bool HasPrimaryIndex() const final;
  void BodyWriteStarting() override;
  int64_t CacheBudgetBytes() const override { return cache_budget_bytes_; }
  void RecordsWriteStarting() override;

 private:
  // The base path of the files: the directory's folder and the name.
  std::string BasePath(const std::string& name) const;
  // Names the files and hands each the table's options.
  void SetFileNames();
  void OpenIndexFile(bool repair_index);
  // Empties, closes and deletes an index file that a failed restore broke.
  void DiscardIndexFile();
  std::array<TFileHandler*, 3> Files() const;
  // The last close: the caches written back or dropped, then ReleaseAndClose.
  void CloseFiles(bool discard);
  // Releases the locks and closes the files; false when a lock release failed.
  bool ReleaseAndClose();
  // Releases every lock in the lock state and every held record; false
  // when a release failed (the rest are released all the same).
  bool ReleaseLocks();
  // Drops the writes of a transaction that is still running.
  void AbandonTransaction();
  // Raises 11013 when another opener holds one of the existing files.
  void ProbeFree(const std::vector<std::string>& paths) const;
  bool FileExists(const std::string& path) const;
  [[noreturn]] void Raise(EngineErrorCode code) const;
  // The table_locks.cpp helpers.
  void GrowBitmaps(int32_t number);
  bool TakeReadLock(bool& held, uint16_t& blob_slot);
  void ReleaseReadLock(bool& held, uint16_t& blob_slot);
  // Releases the semaphore of a transaction and the deferred record locks.
  void EndLockLevelTransaction();

  TTableDirectory* directory_;
  int32_t cursor_count_ = 0;
  std::string name_;
  bool open_ = false;
  bool exclusive_ = false;
  bool read_only_latch_ = false;
  bool read_only_ = false;
  bool in_memory_ = false;
  bool temporary_ = false;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  bool repair_ = false;
  TRecordsBitmap held_;
  TRecordsBitmap cursor_locked_;
  TRecordsBitmap deferred_;
  TTableLockState lock_state_;
  bool transaction_ = false;
  bool written_ = false;
  // A write-back that syncs its files runs: its write mark is synced too.
  bool syncing_write_back_ = false;
  int64_t cache_budget_bytes_ = kTableCacheBudgetBytes;
};

}  // namespace jw
