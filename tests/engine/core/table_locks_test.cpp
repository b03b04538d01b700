// One table's locks and transactions within one process: transactions
// rolled back and committed against a model, two tables of one process
// (as two sessions have) keeping each other out, locks that fail leaving
// nothing held, change detection dropping exactly the caches whose files
// moved, and the write-in-progress mark.
#include <gtest/gtest.h>

#include <random>

#include "engine/core/blob_block_pool.h"
#include "engine/core/btree.h"
#include "platform/os/os_file_faults.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_verifier.h"

namespace jw::test {
namespace {

struct TableCounters {
  int32_t records;
  int32_t free_head;
  int32_t last_auto_inc;
  int32_t live;
  bool operator==(const TableCounters&) const = default;
};

TableCounters CountersOf(TDataTable& table) {
  return {table.DataFile().RecordCount(), table.DataFile().FreeHead(),
          table.DataFile().LastAutoInc(), table.IndexFile().LiveCount()};
}

class TableLocksTest : public testing::Test {
 protected:
  void SetUp() override { CreateSmallTable(directory_, "T"); }
  std::unique_ptr<TDataTable> Open() { return OpenSmallTable(directory_, "T"); }
  // Whether this process can take the byte at offset of the table's file
  // through a handler of its own, which shares the table's lock table.
  bool Free(const std::string& name, int64_t offset, int64_t length = 1) {
    TFileHandler other;
    other.SetName(dir_.Path(name));
    other.Open();
    const bool taken = other.SetRegionLock(offset, length, true) == OsLockResult::Taken;
    if (taken) other.SetRegionLock(offset, length, false);
    return taken;
  }
  uint8_t MarkOnDisk() const { return ReadWholeFile(dir_.Path("T.DAT")).at(kHdrDirtyFlag); }

  ScratchDir dir_;
  TestDirectory directory_{dir_.Path("")};
};

TEST_F(TableLocksTest, TransactionsRollBackAndCommitAgainstAModel) {
  const uint32_t seed = std::random_device()();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 rng(seed);
  auto table = Open();
  TableOps ops(*table);
  std::map<int32_t, int32_t> model;
  int32_t next_value = 1;
  for (int i = 0; i < 20; ++i) {
    const int32_t value = next_value++;
    model[ops.Insert(value)] = value;
  }
  const int rounds = LongTests() ? 300 : 30;
  for (int round = 0; round < rounds; ++round) {
    const TableCounters before = CountersOf(*table);
    table->StartTransaction();
    std::map<int32_t, int32_t> working = model;
    const int steps = static_cast<int>(rng() % 12) + 1;
    for (int step = 0; step < steps; ++step) {
      const int kind = working.empty() ? 0 : static_cast<int>(rng() % 3);
      auto it = working.begin();
      if (!working.empty()) std::advance(it, rng() % working.size());
      if (kind == 0) {
        const int32_t value = next_value++;
        working[ops.Insert(value)] = value;
      } else if (kind == 1) {
        const int32_t value = next_value++;
        ops.Edit(it->first, it->second, value);
        it->second = value;
      } else {
        ops.Delete(it->first, it->second);
        working.erase(it);
      }
    }
    ASSERT_EQ(ops.Live(), working);
    if (rng() % 2 == 0) {
      table->Commit(true);
      model = working;
    } else {
      table->Rollback();
      ASSERT_EQ(CountersOf(*table), before) << "round " << round;
    }
    ASSERT_EQ(ops.Live(), model) << "round " << round;
    ASSERT_FALSE(table->InTransaction());
    ASSERT_TRUE(Free("T.DAT", kWriteSemaphoreByte) &&
                Free("T.IDX", kLockRangeBase, kLockRangeLength));
  }
  const TableCounters last = CountersOf(*table);
  table.reset();
  EXPECT_EQ(VerifyTable(dir_.Path("T.DAT")), std::vector<std::string>());
  table = Open();
  TableOps reopened(*table);
  EXPECT_EQ(reopened.Live(), model);
  EXPECT_EQ(CountersOf(*table), last);
}

TEST_F(TableLocksTest, AnInterimCommitWritesAndTheTransactionGoesOn) {
  auto a = Open();
  auto b = Open();
  TableOps ops_a(*a);
  TableOps ops_b(*b);
  TScopedSemaphoreRetries few(2);
  a->StartTransaction();
  const int32_t first = ops_a.Insert(1);
  EXPECT_EQ(ops_b.Live(), (std::map<int32_t, int32_t>{}));
  a->LockRecord(first);
  a->UnlockRecord(first);
  a->Commit(false);
  EXPECT_TRUE(a->InTransaction());
  EXPECT_FALSE(a->IsRecordHeld(first));
  EXPECT_EQ(ops_b.Live(), (std::map<int32_t, int32_t>{{first, 1}}));
  // The transaction still holds the semaphore: b's writes wait, and fail
  // within their retries.
  EXPECT_EQ(ErrorCodeOf([&] { ops_b.Insert(2); }), kErrLockFailure);
  const int32_t second = ops_a.Insert(3);
  a->Rollback();
  EXPECT_EQ(ops_b.Live(), (std::map<int32_t, int32_t>{{first, 1}}));
  EXPECT_EQ(ops_a.Value(second), std::nullopt);
}

TEST_F(TableLocksTest, AKeptWriteLockLastsAcrossChangesUpToTheCommitOrRollback) {
  auto a = Open();
  auto b = Open();
  TableOps ops_a(*a);
  TableOps ops_b(*b);
  TScopedSemaphoreRetries few(2);
  const auto writers_range_free = [&] { return Free("T.IDX", kLockRangeBase, kLockRangeLength); };
  // Outside a transaction every change writes back under a lock of its own.
  a->KeepWriteLock();
  EXPECT_FALSE(a->LockState().WriteLock);
  EXPECT_TRUE(writers_range_free());

  a->StartTransaction();
  a->KeepWriteLock();
  const int32_t first = ops_a.Insert(1);
  ops_a.Insert(2);
  // The changes' own unlocks left it: readers of another table stay out.
  EXPECT_TRUE(a->LockState().WriteLock);
  EXPECT_FALSE(writers_range_free());
  EXPECT_EQ(ErrorCodeOf([&] { b->LockForRead(); }), kErrLockFailure);
  // An interim commit writes under it and ends it.
  a->Commit(false);
  EXPECT_FALSE(a->LockState().WriteLock);
  EXPECT_EQ(ops_b.Live().size(), 2u);
  a->KeepWriteLock();
  ops_a.Edit(first, 1, 5);
  a->ReleaseKeptWriteLock();
  EXPECT_TRUE(writers_range_free());
  EXPECT_EQ(ops_b.Value(first), 1);
  a->KeepWriteLock();
  ops_a.Insert(3);
  a->Rollback();
  EXPECT_FALSE(a->LockState().WriteLock || a->LockState().WriteLockKept);
  EXPECT_TRUE(writers_range_free() && Free("T.DAT", kWriteSemaphoreByte));
  EXPECT_EQ(ops_b.Live().size(), 2u);

  a->StartTransaction();
  a->KeepWriteLock();
  ops_a.Edit(first, 1, 6);
  a->Commit(true);
  EXPECT_TRUE(writers_range_free() && Free("T.DAT", kWriteSemaphoreByte));
  EXPECT_EQ(ops_b.Value(first), 6);
}

TEST_F(TableLocksTest, FailedLocksLeaveNothingHeld) {
  auto a = Open();
  auto b = Open();
  TScopedSemaphoreRetries few(2);

  b->StartTransaction();
  EXPECT_EQ(ErrorCodeOf([&] { a->StartTransaction(); }), kErrLockFailure);
  EXPECT_FALSE(a->InTransaction() || a->LockState().LockLevelTransaction);
  EXPECT_EQ(ErrorCodeOf([&] { a->LockForWrite(); }), kErrLockFailure);
  EXPECT_FALSE(a->LockState().WriteLock);
  EXPECT_TRUE(Free("T.IDX", kLockRangeBase, kLockRangeLength));
  b->Rollback();

  // A reader's byte keeps the writer out of the index file: the semaphore
  // that was taken first goes back.
  b->LockForRead();
  EXPECT_EQ(ErrorCodeOf([&] { a->LockForWrite(); }), kErrLockFailure);
  EXPECT_FALSE(a->LockState().WriteLock);
  EXPECT_TRUE(Free("T.DAT", kWriteSemaphoreByte));
  // A statement's read lock keeps writers out as well, and stands for the
  // operation's.
  b->UnlockForRead();
  b->LockForStatement();
  EXPECT_TRUE(b->LockState().StatementReadLock);
  EXPECT_FALSE(b->LockForRead());
  EXPECT_FALSE(b->LockState().OperationReadLock);
  EXPECT_EQ(ErrorCodeOf([&] { a->LockForWrite(); }), kErrLockFailure);
  b->UnlockForStatement();
  b->LockForRead();
  // Readers do not keep each other out.
  a->LockForRead();
  EXPECT_TRUE(a->LockState().OperationReadLock);
  a->UnlockForRead();
  b->UnlockForRead();
  a->LockForWrite();
  EXPECT_EQ(ErrorCodeOf([&] { b->LockForRead(); }), kErrLockFailure);
  EXPECT_FALSE(b->LockState().OperationReadLock);
  a->UnlockForWrite();

  // A busy record fails after the session's retries; record 0 never locks.
  directory_.lock_retry_count = 2;
  a->LockRecord(3);
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(3); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(0); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(-1); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(kMaxRecordCount + 1); }), kErrRecordInUse);
  EXPECT_EQ(ErrorCodeOf([&] { b->UnlockRecord(0); }), kErrUnlock);
  EXPECT_EQ(ErrorCodeOf([&] { b->UnlockRecord(3); }), kErrUnlock);
  // The read lock taken for the change check is gone again.
  EXPECT_FALSE(b->LockState().OperationReadLock);
  a->Close(false);
  b->LockRecord(3);
}

TEST_F(TableLocksTest, RecordUnlocksInATransactionWaitForItsEnd) {
  auto a = Open();
  auto b = Open();
  a->StartTransaction();
  a->LockRecord(2);
  a->UnlockRecord(2);
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(2); }), kErrRecordInUse);
  // Deleted and taken again in one transaction: the lock stays past the end.
  a->LockRecord(2);
  a->LockRecord(4);
  a->UnlockRecord(4);
  a->Commit(true);
  EXPECT_TRUE(a->IsRecordHeld(2));
  EXPECT_EQ(ErrorCodeOf([&] { b->LockRecord(2); }), kErrRecordInUse);
  b->LockRecord(4);
  // A record that a cursor holds is not taken again by another.
  a->StartTransaction();
  a->MarkCursorLock(2);
  EXPECT_EQ(ErrorCodeOf([&] { a->LockRecord(2); }), kErrRecordInUse);
  a->ClearCursorLock(2);
  a->Rollback();
  a->UnlockRecord(2);
  b->LockRecord(2);
}

TEST_F(TableLocksTest, DetectChangesDropsExactlyTheCachesWhoseFilesMoved) {
  auto a = Open();
  auto b = Open();
  TableOps ops_a(*a);
  TableOps ops_b(*b);
  for (int32_t v = 1; v <= 40; ++v) ops_b.Insert(v);
  // a caches records and index pages.
  EXPECT_EQ(ops_a.Live().size(), 40u);
  KeyCursor cursor;
  cursor.order = a->IndexFile().KeyOrder(0);
  EXPECT_EQ(TBTree(a->IndexFile(), cursor).KeyCount(), 40);
  const int32_t pages = a->IndexFile().CachedPageCount(0);
  ASSERT_GT(a->DataFile().CachedRecordCount(), 0);
  ASSERT_GT(pages, 0);
  EXPECT_FALSE(a->DetectChanges());
  EXPECT_EQ(a->IndexFile().CachedPageCount(0), pages);

  // A change of a record alone moves the data file's counter only.
  b->LockForWrite();
  TRecord* record = nullptr;
  b->DataFile().FetchRecord(nullptr, 5, 1, false, false, record);
  record->Bytes()[b->DataFile().FieldDesc(2).Offset + 1] = 'x';
  record->SetModified(true);
  b->DataFile().ReleaseRecord(record);
  b->WriteBack(false, false, false, false, false);
  b->UnlockForWrite();
  EXPECT_TRUE(a->DetectChanges());
  EXPECT_EQ(a->DataFile().CachedRecordCount(), 0);
  EXPECT_EQ(a->IndexFile().CachedPageCount(0), pages);

  // An insert moves the index file's: both caches go, the data header is read.
  ops_a.Live();
  EXPECT_EQ(TBTree(a->IndexFile(), cursor).KeyCount(), 40);
  ASSERT_GT(a->IndexFile().CachedPageCount(0), 0);
  ops_b.Insert(41);
  EXPECT_TRUE(a->DetectChanges());
  EXPECT_EQ(a->DataFile().CachedRecordCount(), 0);
  EXPECT_EQ(a->IndexFile().CachedPageCount(0), 0);
  EXPECT_EQ(a->DataFile().RecordCount(), 41);

  // Emptied by the other table, the table is empty here too.
  b->LockForWrite();
  b->Empty();
  b->UnlockForWrite();
  EXPECT_EQ(ops_a.Live(), (std::map<int32_t, int32_t>{}));
  EXPECT_EQ(a->DataFile().RecordCount(), 0);
  EXPECT_EQ(a->IndexFile().LiveCount(), 0);
}

TEST_F(TableLocksTest, BlocksOfAnotherWriterDropTheBlockCache) {
  CreateSmallTable(directory_, "B", true);
  auto a = OpenSmallTable(directory_, "B");
  auto b = OpenSmallTable(directory_, "B");
  for (int32_t v = 1; v <= 40; ++v) TableOps(*b).Insert(v);
  // b appends a block; a reads it and the index.
  auto append_block = [&] {
    b->LockForWrite();
    TBlock* block = b->BlobFile().NewBlock();
    const int32_t position = block->Position();
    b->BlobFile().ReleaseBlock(block);
    b->WriteBack(false, false, false, false, false);
    b->UnlockForWrite();
    return position;
  };
  const int32_t position = append_block();
  a->LockForRead();
  TBlock* block = nullptr;
  ASSERT_TRUE(a->BlobFile().FetchBlock(nullptr, position, 1, false, block));
  a->BlobFile().ReleaseBlock(block);
  KeyCursor cursor;
  cursor.order = a->IndexFile().KeyOrder(0);
  EXPECT_EQ(TBTree(a->IndexFile(), cursor).KeyCount(), 40);
  a->UnlockForRead();
  const int32_t pages = a->IndexFile().CachedPageCount(0);
  ASSERT_GT(pages, 0);
  ASSERT_EQ(a->BlobFile().CachedBlockCount(), 1);

  append_block();
  EXPECT_TRUE(a->DetectChanges());
  EXPECT_EQ(a->BlobFile().CachedBlockCount(), 0);
  EXPECT_EQ(a->IndexFile().CachedPageCount(0), pages);
}

// The header check compares the change counters through a mapping of each
// file's header and reads a header from the file only when its counter
// moved; an encrypted table's counters are compared as stored, scrambled.
// A handle's first checks read the counters from the file instead: a table
// opened for a look and closed again costs no mapping. Where no mapping can
// be made, every check reads the headers, and finds the same.
TEST_F(TableLocksTest, HeaderChecksReadTheFilesOnlyWhenACounterMoved) {
  for (const bool refuse_maps : {false, true}) {
    SCOPED_TRACE(refuse_maps ? "mappings refused" : "mapped");
    const std::string name = refuse_maps ? "R" : "M";
    {
      TTableDefinition definition = SmallTableDefinition(true);
      definition.Encrypted = true;
      definition.Password = "Secret";
      TDataTable table(&directory_);
      table.SetName(name);
      table.CreateFiles(definition);
      table.Close(false);
    }
    OsFileFaults faults;
    faults.refuse_maps = refuse_maps;
    TScopedOsFileFaults scope(faults);
    auto a = OpenSmallTable(directory_, name);
    auto b = OpenSmallTable(directory_, name);
    TableOps ops_a(*a);
    TableOps ops_b(*b);
    const auto detect = [&](int64_t& reads) {
      const int64_t before = faults.reads;
      const bool changed = a->DetectChanges();
      reads = faults.reads - before;
      return changed;
    };
    int64_t reads = 0;
    for (int32_t k = 0; k < kHeadReadsBeforeMapping; ++k) {
      EXPECT_FALSE(detect(reads)) << k;
      EXPECT_GT(reads, 0) << k;
    }
    for (int32_t v = 1; v <= 30; ++v) {
      if (v % 5 == 0) {
        b->LockForWrite();
        b->BlobFile().ReleaseBlock(b->BlobFile().NewBlock());
        b->WriteBack(false, false, false, false, false);
        b->UnlockForWrite();
      } else {
        ops_b.Insert(v);
      }
      EXPECT_TRUE(detect(reads)) << v;
      EXPECT_GT(reads, 0) << v;
      EXPECT_FALSE(detect(reads)) << v;
      if (refuse_maps) {
        EXPECT_GT(reads, 0) << v;
      } else {
        EXPECT_EQ(reads, 0) << v;
      }
    }
    EXPECT_EQ(ops_a.Live(), ops_b.Live());
    EXPECT_EQ(a->DataFile().RecordCount(), 24);
  }
}

TEST_F(TableLocksTest, AnInterruptedWriteLeavesItsMarkUntilTheHeadersFollow) {
  auto a = Open();
  TableOps ops(*a);
  for (int32_t v = 1; v <= 3; ++v) ops.Insert(v);
  EXPECT_EQ(MarkOnDisk(), 0);

  // The mark is the first write; the record after it fails.
  a->LockForWrite();
  TRecord* record = nullptr;
  a->DataFile().FetchRecord(nullptr, 2, 1, false, false, record);
  record->SetModified(true);
  a->DataFile().ReleaseRecord(record);
  {
    OsFileFaults faults;
    faults.fail_write_at = 2;
    TScopedOsFileFaults scope(faults);
    EXPECT_EQ(ErrorCodeOf([&] { a->WriteBack(false, false, false, false, false); }), kErrWrite);
  }
  a->UnlockForWrite();
  EXPECT_EQ(MarkOnDisk(), 1);
  EXPECT_TRUE(Open()->DataFile().WriteInterrupted());

  a->LockForWrite();
  a->WriteBack(false, false, false, false, false);
  a->UnlockForWrite();
  EXPECT_EQ(MarkOnDisk(), 0);
  EXPECT_FALSE(Open()->DataFile().WriteInterrupted());
  a.reset();
  EXPECT_EQ(VerifyTable(dir_.Path("T.DAT")), std::vector<std::string>());
}

}  // namespace
}  // namespace jw::test
