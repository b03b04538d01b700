// TBlock: one block of a BLOB file as the block cache holds it (decoded head,
// data bytes, use (pin) count, dirty flag, cache links), and TBlockStack, the
// pool that hands blocks out again so that the cache does not allocate on
// every miss.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core/dirty_mark.h"
#include "engine/support/system_list.h"

namespace jw {

class TBlobFile;

class TBlock {
 public:
  // The bytes a block of a file with block_size bytes per block takes,
  // data included, rounded up so that the next one is aligned.
  static size_t Footprint(int32_t block_size);
  // A block made in memory of Footprint(block_size) bytes, its data behind
  // it in the same memory; the memory stays the caller's.
  static TBlock* MakeAt(void* memory, TBlobFile* owner, int32_t block_size);
  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  // Takes the block for a position of a file with block_size bytes per
  // block: head and data zero, clean, unpinned, unlinked.
  void Reset(int32_t position, int32_t block_size);

  TBlobFile* Owner() const { return owner_; }
  int32_t Position() const { return position_; }
  // The block's place among the file's blocks: 0 for the block at 512.
  int32_t Number() const { return number_; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool value) { dirty_ = value; }
  uint16_t UseCount() const { return use_count_; }
  void IncUseCount() { ++use_count_; }
  void DecUseCount() {
    if (use_count_ > 0) --use_count_;
  }

  // Each setter marks the block dirty only when the value changes.
  int32_t Previous() const { return previous_; }
  void SetPrevious(int32_t position);
  int32_t Next() const { return next_; }
  void SetNext(int32_t position);
  int32_t Stamp() const { return stamp_; }
  void SetStamp(int32_t stamp);
  int32_t TotalSize() const { return total_size_; }
  void SetTotalSize(int32_t size);
  int32_t Used() const { return used_; }
  // Data bytes the block can carry: block size - 18.
  int32_t Capacity() const { return capacity_; }
  const uint8_t* Data() const { return data_; }

  // Copies up to count bytes of the used data from offset; the bytes copied.
  // A range beyond the block's capacity raises 10029.
  int32_t ReadData(int32_t offset, int32_t count, uint8_t* dest) const;
  // Copies count bytes to offset; the block then uses offset + count bytes
  // and is dirty. A range beyond the block's capacity raises 10029.
  void WriteData(int32_t offset, int32_t count, const uint8_t* src);
  // Zero head and data; dirty.
  void Clear();

  // The block's bytes on disk (block size bytes), head and data each
  // scrambled on its own when the table is encrypted.
  void EncodeTo(uint8_t* dest, bool encrypted) const;
  // Takes the block from its bytes on disk; false when the used count does
  // not fit the block (the block is then unusable).
  bool DecodeFrom(const uint8_t* src, bool encrypted);

 private:
  TBlock(TBlobFile* owner, uint8_t* data, int32_t capacity)
      : owner_(owner), data_(data), capacity_(capacity) {}
  ~TBlock() = default;

  template <typename, int>
  friend class TFileCache;
  friend TDirtyMark<TBlock>& CacheDirtyMark(TBlock& block) { return block.dirty_; }

  TBlobFile* owner_;
  TDirtyMark<TBlock> dirty_{this};
  uint16_t use_count_ = 0;
  int32_t position_ = 0;
  int32_t number_ = 0;
  uint8_t* data_;
  int32_t capacity_;
  int32_t used_ = 0;
  int32_t stamp_ = 0;
  int32_t total_size_ = 0;
  int32_t previous_ = 0;
  int32_t next_ = 0;
  // Neighbours in the file's most-recently-used list.
  TBlock* newer_ = nullptr;
  TBlock* older_ = nullptr;
};

// A block's number in the cache: its place among the file's blocks, in the
// order of the positions. Places go in steps of one, which the cache's
// number table spreads evenly; positions go in steps of the block size,
// which would crowd them into long runs of its slots.
inline int32_t CacheNumber(const TBlock& block) {
  return block.Number();
}
inline bool CacheObjectDirty(const TBlock& block) {
  return block.Dirty();
}

// The blocks of one file: every block is cached or pooled here. Blocks are
// made in slabs of many at once, so that a transaction that caches
// thousands of blocks makes few allocations, and freed with their slabs.
class TBlockStack {
 public:
  explicit TBlockStack(TBlobFile* owner);
  TBlockStack(const TBlockStack&) = delete;
  TBlockStack& operator=(const TBlockStack&) = delete;
  ~TBlockStack();

  // Frees every slab; no block of the file may be cached or held then.
  void Clear();
  // The last block put back, or a new one, reset for the position. Every
  // pooled block has the block size asked for: the file clears the pool
  // when its block size changes.
  TBlock* Get(int32_t position, int32_t block_size);
  // Pools the block; a nullptr reference does nothing. The reference becomes nullptr.
  void Put(TBlock*& block);

  int32_t Count() const { return list_.Count(); }

 private:
  // Makes a slab of blocks for block_size and pools them.
  void AddSlab(int32_t block_size);

  TBlobFile* owner_;
  TSystemList list_;
  std::vector<void*> slabs_;
  // Blocks the next slab holds at most.
  int32_t slab_blocks_;
};

// The pool's list is made room for this many blocks at once.
constexpr int32_t kBlockStackCapacity = 4095;
// Blocks of the first slab; each next one holds twice as many, up to
// kMaxSlabBytes (below the size the C heap maps on its own, so that a slab
// freed is reused by the next table instead of unmapped).
constexpr int32_t kFirstSlabBlocks = 8;
constexpr size_t kMaxSlabBytes = 64 << 10;

}  // namespace jw
