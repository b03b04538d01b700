// TBlobFile: the BLOB file (".BLB") of one open table: the header held in
// memory, the block cache with read-ahead and write-back and its pool, the
// free-block list, the change counter, encryption, the reader and writer
// byte locks, the walk that frees (or verifies) a record's block chain, and
// the file check. The owning table is reached through TDataFileOwner, the
// cursor through TBlobFileCursor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/core/blob_block_pool.h"
#include "engine/core/blob_file_format.h"
#include "engine/core/data_file.h"
#include "engine/core/file_cache.h"
#include "engine/core/table_file.h"

namespace jw {

// What the BLOB file asks of the cursor that works on a BLOB.
class TBlobFileCursor {
 public:
  virtual ~TBlobFileCursor() = default;
  // Whether another process changed the table's files since the cursor last looked.
  virtual bool TableFilesChanged() = 0;
  // Whether the cursor is open to verify or repair the table.
  virtual bool VerifyRepair() const = 0;
  // One line of the table check for the user.
  virtual void ReportStatus(const std::string& text) = 0;
};

class TBlobFile;

// Takes back what one record's post did to the BLOB file. While open, the
// file keeps each block's bytes as they were when the block was first
// fetched (every block a post changes is fetched first, the free ones
// through the free list) and lists the blocks it appends. RollBack puts
// the fetched blocks and the free list back as they were and frees the
// appended blocks, so that every block is again in its old chain or free,
// whatever point the post had reached. The file must outlive the journal.
class TBlobJournal {
 public:
  explicit TBlobJournal(TBlobFile& file);
  ~TBlobJournal();
  TBlobJournal(const TBlobJournal&) = delete;
  TBlobJournal& operator=(const TBlobJournal&) = delete;

  void RollBack();

 private:
  friend class TBlobFile;
  void Keep(const TBlock& block);
  void Appended(int32_t position) { appended_.push_back(position); }

  TBlobFile& file_;
  int32_t free_head_;
  int32_t end_position_;
  size_t freed_count_;
  std::map<int32_t, std::vector<uint8_t>> before_;
  std::vector<int32_t> appended_;
};

// The cache holds min(kCacheBytes div B, kMaxCachedBlocks) blocks.
constexpr int32_t kMaxCachedBlocks = 32767;

// How often a load starts again because the table's files changed under it
// before it gives up with 8708.
constexpr int32_t kMaxLoadRestarts = 16;

class TBlobFile : public TTableFile {
 public:
  // The data file gives the encryption of the table.
  TBlobFile(TDataFileOwner* owner, const TDataFile* data_file);
  ~TBlobFile() override;

  // The table's block size (the data file's, 0 meaning 512), set before
  // the file is opened or created; a size outside 64 .. 32768 raises 9498.
  void SetBlockSize(int32_t block_size);
  int32_t BlockSize() const { return block_size_; }
  int32_t BlockDataBytes() const { return BlockDataSize(block_size_); }

  // Creates the file and sets up an empty header (written by WriteHeader).
  void CreateFile(bool must_be_new = false) override;

  // Header.
  void ReadHeader();
  // Rereads the header: true (and the new header taken) when the change
  // counter differs. The caller drops the block cache.
  bool HeaderChanged();
  void WriteHeader(bool force, bool flush);
  void TouchHeader();
  // Cuts every block away.
  void EmptyBlobFile();
  // Verifies the opened file; raises the first failure.
  void Check();
  int32_t ChangeCounter() const { return header_.ChangeCounter; }
  int32_t FreeHead() const { return header_.FreeHead; }
  int32_t EndPosition() const { return header_.EndPosition; }
  // Whether a link names a block of the file (not the end position).
  bool IsBlock(int64_t position) const;

  // Blocks. FetchBlock gives the pinned block at position, or false with no
  // block when the cursor reports that the files changed before a disk read.
  // With read_ahead up to count consecutive blocks are read at once.
  // Position 0, the end position or one that is no block of the file raise 8963.
  bool FetchBlock(TBlobFileCursor* cursor, int32_t position, int32_t count, bool read_ahead,
                  TBlock*& block);
  void ReleaseBlock(TBlock* block);
  // A pinned, cleared, dirty block: the first free block, else one appended.
  // The only way the file grows.
  TBlock* NewBlock();
  // Marks the block freed. It joins the free list, at its head, only with
  // ReleaseFreedBlocks, which the table runs once the records are written.
  void FreeBlock(TBlock* block);
  void ReleaseFreedBlocks();
  // Whether the block was freed and not yet released.
  bool IsFreed(int32_t position) const;
  // Writes the dirty unpinned blocks, sorted, in runs; false when there was none.
  bool FlushBlocks(bool flush);
  void DropBlockCache();
  // Cuts the cache back to its capacity from the high positions; pinned
  // blocks stay.
  void TrimBlockCache();
  int32_t CachedBlockCount() const { return cache_.Count(); }
  int32_t CacheCapacity() const { return cache_.Capacity(); }
  int32_t ReadAheadCount() const { return read_ahead_count_; }
  // The blocks the first read of a chain takes, when it is loaded, stored
  // over or freed: as many as the last chain loaded had (the record does
  // not tell a BLOB's size, its first block does), the whole read-ahead
  // window before any chain was loaded.
  int32_t ExpectedChainBlocks() const { return expected_chain_blocks_; }
  void ExpectChainBlocks(int32_t blocks) { expected_chain_blocks_ = std::max(1, blocks); }

  // Walks the chain of a record's BLOB from first and frees its blocks,
  // unless report_only. A cursor that verifies or repairs is told of a
  // damaged chain and, unless report_only, the damage is cut away; any
  // other caller gets 8963. With adopt_stamp the blocks take the stamp
  // instead of being checked against it. first becomes 0 unless report_only.
  void FreeBlobChain(TBlobFileCursor* cursor, bool report_only, bool adopt_stamp,
                     int32_t record_number, int32_t stamp, int32_t& first);

  // After a write that was cut off (blob_file_repair.cpp): the blocks of
  // the sound chains among those given stay theirs, every other whole
  // block of the file goes on a new free list, and the end moves to the
  // end of the last whole block. A chain that is not sound keeps its
  // blocks out of the free list as far as it is sound; reading it raises
  // an engine error. 8961 when the header counts blocks the file lacks.
  void RebuildFreeList(const std::vector<TBlobChainStart>& chains);

  // Locks, each tried up to kSemaphoreRetries times. The reader's slot r is
  // kept by the caller for the unlock.
  bool LockBlobWrite();
  bool UnlockBlobWrite();
  bool LockBlobRead(uint16_t& slot);
  bool UnlockBlobRead(uint16_t slot);

 private:
  friend class TBlobJournal;
  friend class TBlobChainReader;
  [[noreturn]] void Raise(EngineErrorCode code) const;
  bool Encrypted() const;
  // Reads the header; a header whose free head or end position names no
  // block of the file raises 8961.
  void ReadOpenedFile() override;
  void DropContents() override;
  void SetCacheLimits();
  void SetEmptyHeader();
  // Refuses a header whose links would lead outside the file: 8961.
  void ValidateHeader(const TBlobFileHeader& header) const;
  bool ReadHeaderBytes(TBlobFileHeader& header);

  // A reset block for position at the head of the MRU list, not yet sorted.
  TBlock* TakeCacheSlot(int32_t position);
  // Reads up to length bytes of blocks at position into the read buffer,
  // through the file's mapping where it serves, else from the file; the
  // bytes read, fewer at the file's end.
  int32_t ReadBlocks(int32_t position, int32_t length);
  // Reads count blocks from position into the cache; the block at position
  // comes back pinned, or nullptr when the file ends before it.
  TBlock* LoadWindow(int32_t position, int32_t count);
  TBlock* AppendBlock();
  // Counts a block given pinned to a caller.
  void HandOut();

  const TDataFile* data_file_;
  int32_t block_size_ = kDefaultBlobBlockSize;
  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  TBlobFileHeader header_;
  // A chain is walked block by block; the last few used are the likeliest.
  TFileCache<TBlock, 4> cache_;
  std::vector<int32_t> freed_;
  int32_t read_ahead_count_ = 1;
  // The blocks a TBlobChainReader has read.
  std::vector<int32_t> chain_read_;
  int32_t expected_chain_blocks_ = kIoWindowBytes;
  TBlockStack pool_;
  TBlobJournal* journal_ = nullptr;
  // Blocks change only through a block handed out by FetchBlock or
  // NewBlock: until one is handed out again, a write-back that wrote every
  // dirty block while none was pinned leaves nothing to look for.
  bool blocks_handed_out_ = false;
  int32_t pinned_blocks_ = 0;
};

// One block of a chain as a load reads it: the head's links, stamp and
// sizes, and its used data bytes.
struct TChainBlock {
  int32_t Next = 0;
  int32_t Stamp = 0;
  int32_t TotalSize = 0;
  int32_t Used = 0;
  const uint8_t* Data = nullptr;
};

// The blocks a walk along a chain has passed, to tell a chain that comes
// back to a block. A chain runs up the file when it was appended and down
// when it took the free list, so a block outside the range passed is new;
// only one inside it is looked up, in a set made of the passed blocks the
// first time one is.
class TChainVisits {
 public:
  // Passed blocks are appended to passed, emptied first.
  explicit TChainVisits(std::vector<int32_t>& passed) : passed_(passed) { passed_.clear(); }
  TChainVisits(const TChainVisits&) = delete;
  TChainVisits& operator=(const TChainVisits&) = delete;

  bool Passed(int32_t position);
  void Pass(int32_t position);

 private:
  std::vector<int32_t>& passed_;
  int32_t lowest_ = 0;
  int32_t highest_ = 0;
  std::unordered_set<int32_t> set_;
};

// Reads the blocks of one chain for a load that copies each one out at
// once. A block the cache holds comes from the cache, which may hold this
// process's unwritten changes; any other comes from a window of
// consecutive blocks read from the file (through its mapping where it
// serves) into the file's read buffer, taking no cache slot: a BLOB
// larger than the cache then neither evicts the cache nor is decoded into
// cached blocks only to be copied out again. The window serves this reader
// only, and no other read of the file may happen while it lives.
class TBlobChainReader {
 public:
  TBlobChainReader(TBlobFile& file, TBlobFileCursor* cursor)
      : file_(file), cursor_(cursor), visits_(file.chain_read_) {}
  TBlobChainReader(const TBlobChainReader&) = delete;
  TBlobChainReader& operator=(const TBlobChainReader&) = delete;

  // The block at position, valid until the next call. Outside the cache
  // and the window, up to count consecutive blocks are read from the
  // file, as FetchBlock's read-ahead does. False when the cursor reports
  // that the files changed before a disk read. A position that names no
  // block, one this reader read already (the chain came back to itself),
  // a block the file lacks or one whose used count does not fit it raise
  // 8963.
  bool Read(int32_t position, int32_t count, TChainBlock& block);

 private:
  TBlobFile& file_;
  TBlobFileCursor* cursor_;
  // Over the file's list of the blocks read, which keeps its memory from
  // load to load.
  TChainVisits visits_;
  int32_t window_start_ = 0;
  int32_t window_blocks_ = 0;
};

// Holds a pinned block and releases it on every path.
class TBlockPin {
 public:
  explicit TBlockPin(TBlobFile& file, TBlock* block = nullptr) : file_(file), block_(block) {}
  ~TBlockPin() { file_.ReleaseBlock(block_); }
  TBlockPin(const TBlockPin&) = delete;
  TBlockPin& operator=(const TBlockPin&) = delete;

  TBlock* Get() const { return block_; }
  TBlock* operator->() const { return block_; }
  // Releases the held block and holds this one instead.
  void Reset(TBlock* block) {
    file_.ReleaseBlock(block_);
    block_ = block;
  }

 private:
  TBlobFile& file_;
  TBlock* block_;
};

}  // namespace jw
