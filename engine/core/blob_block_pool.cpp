#include "engine/core/blob_block_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/blob_file.h"
#include "engine/core/blob_file_format.h"
#include "engine/support/scrambler.h"

namespace jw {

size_t TBlock::Footprint(int32_t block_size) {
  const size_t bytes = sizeof(TBlock) + static_cast<size_t>(std::max(0, BlockDataSize(block_size)));
  return (bytes + alignof(TBlock) - 1) / alignof(TBlock) * alignof(TBlock);
}

TBlock* TBlock::MakeAt(void* memory, TBlobFile* owner, int32_t block_size) {
  const int32_t capacity = std::max(0, BlockDataSize(block_size));
  return new (memory) TBlock(owner, static_cast<uint8_t*>(memory) + sizeof(TBlock), capacity);
}

void TBlock::Reset(int32_t position, int32_t block_size) {
  if (BlockDataSize(block_size) != capacity_) RaiseEngineError(kErrInvalidBlobLength, owner_->Name());
  position_ = position;
  number_ = BlockNumber(position, block_size);
  std::memset(data_, 0, static_cast<size_t>(capacity_));
  used_ = 0;
  stamp_ = 0;
  total_size_ = 0;
  previous_ = 0;
  next_ = 0;
  dirty_ = false;
  use_count_ = 0;
  newer_ = nullptr;
  older_ = nullptr;
}

void TBlock::SetPrevious(int32_t position) {
  if (previous_ == position) return;
  previous_ = position;
  dirty_ = true;
}

void TBlock::SetNext(int32_t position) {
  if (next_ == position) return;
  next_ = position;
  dirty_ = true;
}

void TBlock::SetStamp(int32_t stamp) {
  if (stamp_ == stamp) return;
  stamp_ = stamp;
  dirty_ = true;
}

void TBlock::SetTotalSize(int32_t size) {
  if (total_size_ == size) return;
  total_size_ = size;
  dirty_ = true;
}

int32_t TBlock::ReadData(int32_t offset, int32_t count, uint8_t* dest) const {
  if (offset < 0 || count < 0 || count > Capacity() - offset) {
    RaiseEngineError(kErrInvalidBlobLength, owner_->Name());
  }
  const int32_t copied = std::clamp(used_ - offset, 0, count);
  if (copied > 0) std::memcpy(dest, data_ + offset, copied);
  return copied;
}

void TBlock::WriteData(int32_t offset, int32_t count, const uint8_t* src) {
  if (offset < 0 || count < 0 || count > Capacity() - offset) {
    RaiseEngineError(kErrInvalidBlobLength, owner_->Name());
  }
  if (count > 0) std::memcpy(data_ + offset, src, count);
  used_ = offset + count;
  dirty_ = true;
}

void TBlock::Clear() {
  std::memset(data_, 0, static_cast<size_t>(capacity_));
  used_ = 0;
  stamp_ = 0;
  total_size_ = 0;
  previous_ = 0;
  next_ = 0;
  dirty_ = true;
}

void TBlock::EncodeTo(uint8_t* dest, bool encrypted) const {
  TBlobBlockHead head;
  head.Previous = previous_;
  head.Next = next_;
  head.Used = static_cast<int16_t>(used_);
  head.Stamp = stamp_;
  head.TotalSize = total_size_;
  head.EncodeTo(dest);
  uint8_t* data = dest + kBlockHeadSize;
  std::memcpy(data, data_, static_cast<size_t>(capacity_));
  if (encrypted) {
    ScrambleBuffer(dest, kBlockHeadSize, kRecordSeed.K1, kRecordSeed.K2);
    ScrambleBuffer(data, Capacity(), kRecordSeed.K1, kRecordSeed.K2);
  }
}

bool TBlock::DecodeFrom(const uint8_t* src, bool encrypted) {
  uint8_t head_bytes[kBlockHeadSize];
  std::memcpy(head_bytes, src, kBlockHeadSize);
  std::memcpy(data_, src + kBlockHeadSize, static_cast<size_t>(capacity_));
  if (encrypted) {
    UnscrambleBuffer(head_bytes, kBlockHeadSize, kRecordSeed.K1, kRecordSeed.K2);
    UnscrambleBuffer(data_, Capacity(), kRecordSeed.K1, kRecordSeed.K2);
  }
  TBlobBlockHead head;
  head.DecodeFrom(head_bytes);
  previous_ = head.Previous;
  next_ = head.Next;
  used_ = head.Used;
  stamp_ = head.Stamp;
  total_size_ = head.TotalSize;
  dirty_ = false;
  return used_ >= 0 && used_ <= Capacity();
}

TBlockStack::TBlockStack(TBlobFile* owner) : owner_(owner), slab_blocks_(kFirstSlabBlocks) {
  list_.SetCapacity(kBlockStackCapacity);
}

TBlockStack::~TBlockStack() {
  Clear();
}

void TBlockStack::Clear() {
  list_.Clear();
  for (void* slab : slabs_) ::operator delete(slab);
  slabs_.clear();
  slab_blocks_ = kFirstSlabBlocks;
}

void TBlockStack::AddSlab(int32_t block_size) {
  const size_t footprint = TBlock::Footprint(block_size);
  const int32_t blocks = static_cast<int32_t>(
      std::clamp<size_t>(kMaxSlabBytes / footprint, 1, static_cast<size_t>(slab_blocks_)));
  slabs_.reserve(slabs_.size() + 1);
  uint8_t* slab = static_cast<uint8_t*>(::operator new(footprint * static_cast<size_t>(blocks)));
  slabs_.push_back(slab);
  // The last block made is handed out first: the slab is used from its start.
  for (int32_t i = blocks - 1; i >= 0; --i) {
    list_.Add(TBlock::MakeAt(slab + footprint * static_cast<size_t>(i), owner_, block_size));
  }
  slab_blocks_ = 2 * blocks;
}

TBlock* TBlockStack::Get(int32_t position, int32_t block_size) {
  if (list_.Count() == 0) AddSlab(block_size);
  TBlock* block = static_cast<TBlock*>(list_.Last());
  list_.Delete(list_.Count() - 1);
  block->Reset(position, block_size);
  return block;
}

void TBlockStack::Put(TBlock*& block) {
  if (block == nullptr) return;
  list_.Add(block);
  block = nullptr;
}

}  // namespace jw
