// TDataFile: the data file (".DAT") of one open table: the header and field
// descriptors held in memory, the record cache with read-ahead and
// write-back, the free-record chain, the counters other processes watch,
// encryption, the table's byte-range locks and the file check. The owning
// table and the fetching cursor are reached through the two small interfaces
// below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/core/file_cache.h"
#include "engine/core/prefetch.h"
#include "engine/core/record.h"
#include "engine/core/record_buffer_pool.h"
#include "engine/core/table_file.h"

namespace jw {

class TRecordsBitmap;
class TRecordSort;
struct TSortRequest;

// What the data file asks of the cursor that fetches a record.
class TDataFileCursor {
 public:
  virtual ~TDataFileCursor() = default;
  // Whether another process changed the table's files since the cursor last looked.
  virtual bool TableFilesChanged() = 0;
  // Consecutive visible records from the current one, at most limit.
  virtual int32_t CountVisibleRun(int32_t limit, int direction) = 0;
};

// The scrambler's seed pairs. Changing either makes every encrypted table
// unreadable.
struct TSeedPair {
  uint8_t K1;
  uint8_t K2;
};
constexpr TSeedPair kPasswordSeed{0x5D, 0xA7};  // the header's password and description
constexpr TSeedPair kRecordSeed{0x39, 0xC4};    // records, descriptors, pages, blocks

// Limits of a table's records.
constexpr int32_t kMaxRecordCount = 100000000;
constexpr int64_t kMaxRecordBytes = 2000000001;
constexpr int32_t kMaxCounterValue = 2147483647;

// The cache holds min(kCacheBytes div record size, kMaxCachedRecords) records.
constexpr int32_t kCacheBytes = 131070;
constexpr int32_t kMaxCachedRecords = 8191;
// A cache inside a transaction grows by at least this much when every record
// is dirty or pinned (TFileCache::Grow).
constexpr int32_t kCacheGrowth = 255;

// A BLOB as a live record names it: its first block and write stamp.
struct TBlobChainStart {
  int32_t First = 0;
  int32_t Stamp = 0;
};

class TDataFile : public TTableFile {
 public:
  explicit TDataFile(TDataFileOwner* owner);
  ~TDataFile() override;

  // Prepares the header and descriptors of a new table and creates the
  // empty file; the caller writes header and descriptors afterwards.
  void InitHeader(int16_t language_id, int16_t sort_id, const std::vector<FieldDescriptor>& fields,
                  int32_t blob_block_size, const std::string& description,
                  const std::string& password, bool encrypted, int16_t user_major,
                  int16_t user_minor);

  // Header.
  void ReadHeader();
  // Rereads the header: true (and the new header taken) when the change
  // counter on disk differs from the one in memory.
  bool HeaderChanged();
  // Also writes an unchanged header when bodies were written or the write
  // is marked in progress; the header written clears the mark, unless a
  // write cut off before is still to be repaired.
  void WriteHeader(bool force, bool flush);
  // Marks the header on disk as being written (its dirty byte), once until
  // the next header write: a table opened with the mark set was
  // interrupted between its bodies and its headers. With flush the mark is
  // synced before any body is written, so that a power failure leaves the
  // mark on the disk whenever it leaves any body of the write there.
  void MarkWriteInProgress(bool flush);
  bool WriteMarked() const { return write_marked_; }
  // The mark was set when the header was last read: a write was cut off
  // (another process's that died, or this one's whose caches a rollback
  // dropped) and its bodies may be on the disk in part. Until WriteRepaired
  // every header written keeps the mark, for the open that repairs.
  bool WriteInterrupted() const { return write_interrupted_; }
  // The repair of the cut-off write is in the caches: the next header
  // write clears the mark.
  void WriteRepaired() { write_interrupted_ = false; }
  void TouchHeader();
  void CopyHeader(uint8_t* dest) const;
  void TruncateRecords();

  // Descriptors, 1-based.
  void WriteFieldDescs();
  const FieldDescriptor& FieldDesc(int32_t position) const;
  // nullptr when no field has the number or name (names compare without case).
  const FieldDescriptor* FieldDescByNumber(int32_t number) const;
  const FieldDescriptor* FieldDescByName(const std::string& name) const;
  // Changes what may change in place; the layout fields stay.
  void UpdateFieldDesc(int32_t position, const FieldDescriptor& field);
  bool DescriptorsDirty() const { return descriptors_dirty_; }

  // Records. FetchRecord gives a pinned record, or false with no record when
  // the cursor reports that the table's files changed before a disk read.
  // Read-ahead (the file's window, or with cursor_read_ahead the cursor's
  // count of visible records) pays only for a caller that goes on in
  // natural order; a walk in index order asks for none, since it would
  // load a window for every record it uses.
  bool FetchRecord(TDataFileCursor* cursor, int32_t number, int direction, bool read_ahead,
                   bool cursor_read_ahead, TRecord*& record);
  void ReleaseRecord(TRecord* record);
  // Readies the cache's memory for a coming FetchRecord of a cached record,
  // in three steps that a walk spaces out: stage 0 the place of its number,
  // 1 the record object with the bytes a pooled record keeps right after
  // it (no need to wait for the object to learn where they are), or for a
  // record not cached its bytes in the file's mapping, 2, where the cache
  // keeps its use order, its bytes wherever they are and its neighbours in
  // that order. Reads nothing from the file.
  void PrefetchRecord(int32_t number, int stage) const {
    if (stage == 0) {
      cache_.PrefetchPlace(number);
    } else if (stage == 1) {
      if (const TRecord* record = cache_.PrefetchObject(number); record != nullptr) {
        PrefetchRangeForRead(TRecordStack::SlabBytesOf(record),
                             static_cast<size_t>(header_.RecordSize));
      } else if (const uint8_t* mapped = PrefetchAddress(RecordOffset(number)); mapped != nullptr) {
        PrefetchRangeForRead(mapped, static_cast<size_t>(header_.RecordSize));
      }
    } else if (cache_.KeepsUseOrder()) {
      if (const TRecord* record = cache_.Lookup(number); record != nullptr) {
        PrefetchForRead(record->Bytes());
        cache_.PrefetchNeighbours(*record);
      }
    }
  }
  // Hands visit every record set in wanted, in ascending order, each image
  // valid for the call only: a cached record as the cache holds it (a
  // changed one included), pinned meanwhile; every other one read from the
  // file a window at a time (a run of wanted records) straight into a
  // buffer of the walk, not entered in the cache, so a scan neither copies
  // each record into a cache slot nor pushes out the records in use. The
  // cursor (or nullptr) is told before each disk read (TableFilesChanged)
  // and the walk goes on whatever it answers: the caller looks at the
  // change afterwards. The visitor may clear bits of wanted as it goes.
  // Gives the number of records visited.
  using TRecordVisit = void (*)(void* context, int32_t number, const uint8_t* image);
  int64_t VisitRecords(TDataFileCursor* cursor, const TRecordsBitmap& wanted, TRecordVisit visit,
                       void* context);
  // Turns a record image as the file holds it into the form the cache
  // holds: unscrambled, and a live record carrying its own number.
  void DecodeRecordImage(uint8_t* raw, int32_t number) const;
  // Reads the records first .. first+count-1 from the file into buffer in
  // the form the cache holds, one after the other, past the cache: the
  // records read, fewer only where this process's own appended records are
  // not on disk yet. Such a copy stays true while the file's ContentStamp
  // stands and the cache holds none of its records (a cached record may
  // hold changes the file has not yet stored).
  int32_t ReadRecordImages(int32_t first, int32_t count, std::vector<uint8_t>& buffer);
  bool RecordCached(int32_t number) const {
    return cache_.Count() > 0 && cache_.Lookup(number) != nullptr;
  }
  // A pinned record for an insert: the free-chain head, or a new one appended.
  TRecord* AllocRecord();
  void FreeRecord(TRecord* record);
  // Takes back the FreeRecord of the record that heads the free chain: the
  // chain starts at free_head again, as it did before, and the record is
  // blank and live for the caller to fill.
  void ReviveRecord(TRecord* record, int32_t free_head);
  // Writes every dirty, unpinned record back; false when there was none.
  bool FlushRecords(bool flush);
  void DropRecordCache();
  void TrimRecordCache();
  TRecordStack& RecordStack() { return pool_; }

  // Counters.
  // 9492 once the last value is 2147483647.
  int32_t NextAutoInc();
  void SetLastAutoInc(int32_t value);
  // 1 again after 2147483647.
  int32_t NextBlobStamp();
  int32_t ChangeCounter() const { return header_.ChangeCounter; }
  int32_t FreeHead() const { return header_.FreeHead; }
  int32_t NextRecordNumber() const { return header_.NextRecord; }
  int32_t RecordCount() const { return header_.NextRecord - 1; }
  int32_t LastAutoInc() const { return header_.LastAutoInc; }
  int32_t LastBlobStamp() const { return header_.LastBlobStamp; }
  int32_t RecordSize() const { return header_.RecordSize; }
  int32_t FieldCount() const { return header_.FieldCount; }
  int32_t BlobFieldCount() const { return header_.BlobFieldCount; }
  int32_t BlobBlockSize() const;
  bool Encrypted() const { return header_.Encrypted != 0; }
  int16_t LanguageId() const { return header_.LanguageId; }
  int16_t SortId() const { return header_.SortId; }
  int16_t UserMajor() const { return header_.UserMajor; }
  int16_t UserMinor() const { return header_.UserMinor; }
  int64_t StoredEngineVersion() const { return header_.EngineVersion; }
  // The local date-time of the last header write.
  double LastUpdateTime() const { return header_.LastWriteTime + kHeaderTimeBias; }
  std::string Description() const;
  // "" for an unencrypted table.
  std::string Password() const;
  void SetTableOptions(const std::string& password, const std::string& description,
                       int16_t user_minor, int16_t user_major, int32_t last_auto_inc);
  // Where the records start.
  int64_t DataStart() const;
  int32_t ReadAheadCount() const { return read_ahead_count_; }
  int32_t CacheCapacity() const { return cache_.Capacity(); }
  int32_t CachedRecordCount() const { return cache_.Count(); }
  // The record cache has room for every record of the file: read-ahead then
  // pays in any order, since no window pushes out records still to come.
  bool CacheHoldsAll() const { return cache_.Capacity() >= RecordCount(); }

  // Locks. Each tries once, except the write semaphore (kSemaphoreRetries).
  // A record lock is Taken, Busy (worth a retry) or Failed (a record number
  // outside 1 .. kMaxRecordCount, or a failure no retry can mend).
  OsLockResult LockRecordByte(int32_t number);
  bool UnlockRecordByte(int32_t number);
  // The bytes of the records (ascending, distinct, all in range) in one
  // step: all are taken or none; an unlock is false when one was not held.
  OsLockResult LockRecordBytes(const std::vector<int32_t>& numbers);
  bool UnlockRecordBytes(const std::vector<int32_t>& numbers);
  // Unlocks, one by one, the bytes of the records set in held; false when one failed.
  bool UnlockAllRecordBytes(const TRecordsBitmap& held, int32_t record_count);
  bool LockWriteSemaphore();
  bool UnlockWriteSemaphore();

  // Verifies the opened file; raises the first failure.
  void Check();
  // After a write that was cut off (data_file_repair.cpp): every counted
  // record is checked (8962 for one neither live nor free, 8961 when the
  // file holds fewer than the header counts), the free chain is made anew
  // from the free records, and the last record id and BLOB stamp are
  // raised to the highest a live record holds. The BLOBs the live records
  // name, for the BLOB file's repair. Leaves the changes in the cache.
  std::vector<TBlobChainStart> RepairRecords();

  // Rewrites the records in the request's order (record_sort.h), numbered
  // from 1 in that order, and empties the record cache; the records
  // written. Deleted records are dropped, and the file ends after the last
  // record written.
  int32_t SortRecords(const TSortRequest& request);

 private:
  friend class TRecordSort;
  [[noreturn]] void Raise(EngineErrorCode code) const;
  // Reads the header and descriptors and checks the layout they give.
  void ReadOpenedFile() override;
  // Takes the header from its bytes on disk.
  void TakeHeader(const uint8_t* bytes);
  // Takes the header's count of descriptors from their bytes on disk
  // (unscrambled in place).
  void DecodeFieldDescs(uint8_t* bytes);
  void DropContents() override;
  int64_t RecordOffset(int32_t number) const;
  void SetCacheLimits();
  // Refuses descriptors that would make records unreadable: 8961.
  void ValidateLayout() const;
  void WriteHeaderBytes();

  // A cleared record numbered number at the head of the MRU list, not yet sorted.
  TRecord* TakeCacheSlot(int32_t number);
  TRecord* AppendRecord();
  void LoadWindow(TDataFileCursor* cursor, int32_t number, int direction, bool read_ahead,
                  bool cursor_read_ahead);
  // Reads the records first .. first+count-1 as the file holds them into
  // buffer; the whole records read (fewer only where this process's own
  // appended records are not on disk yet).
  int32_t ReadRecordBytes(int32_t first, int32_t count, std::vector<uint8_t>& buffer);
  int32_t FreeCandidate() const;
  // Writes dirty[begin, end) (ascending numbers): with bridge as one window
  // read from the disk with the records laid in, unless it does not lie on
  // the disk whole; else one write per run of consecutive records.
  void WriteBackWindow(const std::vector<TRecord*>& dirty, size_t begin, size_t end, bool bridge);

  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  int32_t read_ahead_count_ = 1;
  TDataFileHeader header_;
  bool write_marked_ = false;
  bool write_interrupted_ = false;
  bool descriptors_dirty_ = false;
  std::vector<FieldDescriptor> descriptors_;
  // The last few records used are the likeliest; they are tried before the search.
  TFileCache<TRecord, 4> cache_;
  TRecordStack pool_;
};

}  // namespace jw
