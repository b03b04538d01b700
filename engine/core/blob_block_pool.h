// TBlock: one block of a BLOB file as the block cache holds it (decoded head,
// data bytes, use (pin) count, dirty flag, cache links), and TBlockStack, the
// pool that hands blocks out again so that the cache does not allocate on
// every miss.
#pragma once

#include <cstdint>

#include "engine/core/dirty_mark.h"
#include "engine/support/system_list.h"

namespace jw {

class TBlobFile;

class TBlock {
 public:
  // A block of a file with block_size bytes per block, its data in the
  // same allocation (one allocation per block, however many a transaction
  // caches); freed by Destroy.
  static TBlock* Make(TBlobFile* owner, int32_t block_size);
  static void Destroy(TBlock* block);
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
// order of the positions. Places go in steps of one, so neighbouring blocks
// take neighbouring places of the cache's number table.
inline int32_t CacheNumber(const TBlock& block) {
  return block.Number();
}
inline bool CacheObjectDirty(const TBlock& block) {
  return block.Dirty();
}

class TBlockStack {
 public:
  explicit TBlockStack(TBlobFile* owner);
  TBlockStack(const TBlockStack&) = delete;
  TBlockStack& operator=(const TBlockStack&) = delete;
  ~TBlockStack();

  // Frees every pooled block, the last first.
  void Clear();
  // The last block put back, or a new one, reset for the position.
  TBlock* Get(int32_t position, int32_t block_size);
  // Pools the block; a nullptr reference does nothing. The reference becomes nullptr.
  void Put(TBlock*& block);

  int32_t Count() const { return list_.Count(); }

 private:
  TBlobFile* owner_;
  TSystemList list_;
};

// The pool's list is made room for this many blocks at once.
constexpr int32_t kBlockStackCapacity = 4095;

}  // namespace jw
