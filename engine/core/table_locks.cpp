// TDataTable's share of the work between processes: the read and write
// locks on the lock bytes of its files, record locks with their bitmaps,
// change detection through the header counters, and one table's
// transactions. Exclusive tables take no locks outside transactions and
// read-only tables none at all.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/core/data_table.h"

namespace jw {

// ---- change detection ----

bool TDataTable::DetectChanges() {
  bool changed = false;
  if (index_->IsOpen() && index_->HeaderChanged()) {
    // Whoever wrote index pages wrote the data file too.
    index_->DropPageCache(true);
    data_->ReadHeader();
    data_->DropRecordCache();
    changed = true;
  } else if (data_->IsOpen() && data_->HeaderChanged()) {
    data_->DropRecordCache();
    changed = true;
  }
  if (BlobFileInUse() && blob_->HeaderChanged()) {
    blob_->DropBlockCache();
    changed = true;
  }
  return changed;
}

// ---- read locks ----

bool TDataTable::TakeReadLock(bool& held, uint16_t& blob_slot) {
  if (!index_->LockIndexRead()) Raise(kErrLockFailure);
  if (BlobFileInUse() && !blob_->LockBlobRead(blob_slot)) {
    index_->UnlockIndexRead();
    Raise(kErrLockFailure);
  }
  held = true;
  return DetectChanges();
}

void TDataTable::ReleaseReadLock(bool& held, uint16_t& blob_slot) {
  bool released = true;
  if (blob_slot != 0 && !blob_->UnlockBlobRead(blob_slot)) released = false;
  blob_slot = 0;
  if (!index_->UnlockIndexRead()) released = false;
  held = false;
  if (!released) Raise(kErrUnlock);
}

bool TDataTable::LockForRead() {
  TTableLockState& s = lock_state_;
  if (s.StatementReadLock || s.OperationReadLock || s.WriteLock || s.LockLevelTransaction ||
      exclusive_ || read_only_latch_) {
    return false;
  }
  return TakeReadLock(s.OperationReadLock, s.OperationBlobSlot);
}

void TDataTable::UnlockForRead() {
  TTableLockState& s = lock_state_;
  if (!s.OperationReadLock || exclusive_ || read_only_latch_) return;
  ReleaseReadLock(s.OperationReadLock, s.OperationBlobSlot);
}

bool TDataTable::LockForStatement() {
  TTableLockState& s = lock_state_;
  if (s.StatementReadLock || s.OperationReadLock || s.WriteLock || s.LockLevelTransaction ||
      exclusive_ || read_only_latch_) {
    return false;
  }
  return TakeReadLock(s.StatementReadLock, s.StatementBlobSlot);
}

void TDataTable::UnlockForStatement() {
  TTableLockState& s = lock_state_;
  if (!s.StatementReadLock || exclusive_ || read_only_latch_) return;
  ReleaseReadLock(s.StatementReadLock, s.StatementBlobSlot);
}

// ---- write lock ----

bool TDataTable::LockForWrite() {
  TTableLockState& s = lock_state_;
  // A write lock held without the ranges takes them now.
  if ((s.WriteLock && !s.WriteRangesSkipped) || exclusive_ || read_only_latch_) return false;
  // A transaction holds the semaphore already.
  const bool semaphore = !s.LockLevelTransaction;
  if (semaphore && !data_->LockWriteSemaphore()) Raise(kErrLockFailure);
  const bool blob = BlobFileInUse();
  const bool index_taken = index_->LockIndexWrite();
  if (!index_taken || (blob && !blob_->LockBlobWrite())) {
    if (index_taken) index_->UnlockIndexWrite();
    if (semaphore) data_->UnlockWriteSemaphore();
    Raise(kErrLockFailure);
  }
  s.WriteLock = true;
  s.WriteRangesSkipped = false;
  return semaphore ? DetectChanges() : false;
}

bool TDataTable::LockForRecordWrite() {
  TTableLockState& s = lock_state_;
  if (!transaction_ || !s.LockLevelTransaction || s.WriteLock || exclusive_ || read_only_latch_) {
    return LockForWrite();
  }
  s.WriteLock = true;
  s.WriteRangesSkipped = true;
  return false;
}

void TDataTable::UnlockForWrite() {
  TTableLockState& s = lock_state_;
  if (!s.WriteLock || s.WriteLockKept || exclusive_ || read_only_latch_) return;
  if (s.WriteRangesSkipped) {
    s.WriteLock = false;
    s.WriteRangesSkipped = false;
    return;
  }
  bool released = true;
  if (BlobFileInUse() && !blob_->UnlockBlobWrite()) released = false;
  if (!index_->UnlockIndexWrite()) released = false;
  if (!s.LockLevelTransaction && !data_->UnlockWriteSemaphore()) released = false;
  s.WriteLock = false;
  if (!released) Raise(kErrLockFailure);
}

void TDataTable::KeepWriteLock() {
  TTableLockState& s = lock_state_;
  if (!s.LockLevelTransaction || s.WriteLockKept || exclusive_ || read_only_latch_) return;
  // Nothing reaches the files before the commit, so no reader of another
  // process can see a change half made; the range keeps them out only
  // while the run lasts.
  LockForWrite();
  s.WriteLockKept = true;
}

void TDataTable::ReleaseKeptWriteLock() {
  TTableLockState& s = lock_state_;
  if (!s.WriteLockKept) return;
  s.WriteLockKept = false;
  UnlockForWrite();
}

// ---- record locks ----

void TDataTable::GrowBitmaps(int32_t number) {
  const int32_t records = data_->IsOpen() ? data_->RecordCount() + 1 : 0;
  const int32_t count = std::max({held_.BitCount(), records, std::min(number, kMaxRecordCount)});
  held_.SetRecordCount(count);
  cursor_locked_.SetRecordCount(count);
  deferred_.SetRecordCount(count);
}

bool TDataTable::LockRecord(int32_t number) {
  if ((exclusive_ && !lock_state_.LockLevelTransaction) || read_only_latch_) return false;
  // No record has such a number, and the bitmaps must not grow to it.
  if (number <= 0 || number > kMaxRecordCount) Raise(kErrRecordInUse);
  GrowBitmaps(number);
  if (transaction_ && held_.IsSet(number)) {
    // Deleted and taken again in one transaction: the byte is still held,
    // and the unlock the delete put off must not release it at the end.
    if (cursor_locked_.IsSet(number)) Raise(kErrRecordInUse);
    deferred_.ClearBit(number);
    return false;
  }
  bool changed = false;
  if (!exclusive_ && !StrictChangeDetection() && !lock_state_.OperationReadLock) {
    // The reader's byte serves the change check only; held on, it would
    // stand in the way of this table's own write lock.
    changed = LockForRead();
    UnlockForRead();
  }
  const int32_t retries = directory_ != nullptr ? directory_->LockRetryCount() : 0;
  const int32_t wait_ms = directory_ != nullptr ? directory_->LockWaitTimeMs() : 0;
  for (int32_t failures = 0;;) {
    const OsLockResult result = data_->LockRecordByte(number);
    if (result == OsLockResult::Taken) break;
    if (result == OsLockResult::Failed || ++failures > retries) Raise(kErrRecordInUse);
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  }
  held_.SetBit(number);
  deferred_.ClearBit(number);
  return changed;
}

void TDataTable::UnlockRecord(int32_t number) {
  if ((exclusive_ && !lock_state_.LockLevelTransaction) || read_only_latch_) return;
  if (number <= 0 || number > kMaxRecordCount) Raise(kErrUnlock);
  GrowBitmaps(number);
  if (transaction_) {
    deferred_.SetBit(number);
    return;
  }
  if (!held_.IsSet(number) || !data_->UnlockRecordByte(number)) Raise(kErrUnlock);
  held_.ClearBit(number);
  deferred_.ClearBit(number);
}

void TDataTable::LockRecordsForTransaction(const std::vector<int32_t>& numbers) {
  if (!transaction_ || read_only_latch_ || numbers.empty()) return;
  for (const int32_t n : numbers) {
    if (n <= 0 || n > kMaxRecordCount) Raise(kErrRecordInUse);
  }
  GrowBitmaps(numbers.back());
  std::vector<int32_t> wanted;
  for (const int32_t n : numbers) {
    if (!held_.IsSet(n)) wanted.push_back(n);
  }
  for (size_t begin = 0; begin < wanted.size(); begin += kRecordLockSpan) {
    const size_t end = std::min(begin + kRecordLockSpan, wanted.size());
    const std::vector<int32_t> span(wanted.begin() + static_cast<ptrdiff_t>(begin),
                                    wanted.begin() + static_cast<ptrdiff_t>(end));
    const bool taken = data_->LockRecordBytes(span) == OsLockResult::Taken;
    for (const int32_t n : span) {
      // A busy record is waited for as LockRecord waits.
      if (taken) {
        held_.SetBit(n);
      } else {
        LockRecord(n);
      }
      deferred_.SetBit(n);
    }
  }
}

void TDataTable::UnlockAllRecords(bool deferred_only) {
  GrowBitmaps(0);
  std::vector<int32_t> numbers;
  int32_t position = 0;
  int32_t sequence = 0;
  while (held_.FindNextSet(position, 1, sequence)) {
    if (deferred_only && !deferred_.IsSet(position)) continue;
    numbers.push_back(position);
  }
  for (const int32_t n : numbers) {
    held_.ClearBit(n);
    deferred_.ClearBit(n);
  }
  // Together, so that the system walks this table's locks once rather
  // than once a record; the rest are released when one fails.
  if (!data_->UnlockRecordBytes(numbers)) Raise(kErrUnlock);
}

void TDataTable::MarkCursorLock(int32_t number) {
  GrowBitmaps(number);
  cursor_locked_.SetBit(number);
}

void TDataTable::ClearCursorLock(int32_t number) {
  cursor_locked_.ClearBit(number);
}

// ---- transactions ----

void TDataTable::StartTransaction() {
  if (read_only_latch_ || transaction_) return;
  if (exclusive_) WriteBack(false, false, false, false, false);
  if (!data_->LockWriteSemaphore()) Raise(kErrLockFailure);
  transaction_ = true;
  lock_state_.LockLevelTransaction = true;
  if (exclusive_) return;
  try {
    DetectChanges();
  } catch (...) {
    transaction_ = false;
    lock_state_.LockLevelTransaction = false;
    data_->UnlockWriteSemaphore();
    throw;
  }
}

void TDataTable::EndLockLevelTransaction() {
  bool released = true;
  // A kept write lock ends with the transaction, before its semaphore.
  try {
    ReleaseKeptWriteLock();
  } catch (const EQuireEngineError&) {
    released = false;
  }
  if (!data_->UnlockWriteSemaphore()) released = false;
  lock_state_.LockLevelTransaction = false;
  // An exclusive table locks records inside a transaction too.
  UnlockAllRecords(true);
  if (!released) Raise(kErrLockFailure);
}

void TDataTable::Rollback() {
  if (!transaction_) return;
  transaction_ = false;
  try {
    Reload(true, true);
  } catch (...) {
    // The semaphore must not outlive the transaction.
    EndLockLevelTransaction();
    throw;
  }
  EndLockLevelTransaction();
}

void TDataTable::Commit(bool final) {
  if (!transaction_) return;
  transaction_ = false;
  // The commit ends a run of changes: its write-back takes over the write
  // lock the run kept, and lets it go with its own.
  lock_state_.WriteLockKept = false;
  try {
    LockForWrite();
    try {
      WriteBack(final, false, true, false, false);
    } catch (...) {
      UnlockForWrite();
      throw;
    }
    UnlockForWrite();
  } catch (...) {
    // What the failed commit left in the caches stays the transaction's,
    // to be rolled back; the semaphore is still held for it.
    transaction_ = true;
    throw;
  }
  if (final) {
    EndLockLevelTransaction();
    return;
  }
  // An interim commit: the unlocks put off so far happen now, and the
  // transaction goes on with its semaphore.
  lock_state_.LockLevelTransaction = false;
  try {
    UnlockAllRecords(true);
  } catch (...) {
    lock_state_.LockLevelTransaction = true;
    transaction_ = true;
    throw;
  }
  lock_state_.LockLevelTransaction = true;
  transaction_ = true;
}

}  // namespace jw
