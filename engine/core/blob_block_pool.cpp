#include "engine/core/blob_block_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/blob_file.h"
#include "engine/core/blob_file_format.h"
#include "engine/support/scrambler.h"

namespace jw {

TBlock* TBlock::Make(TBlobFile* owner, int32_t block_size) {
  const int32_t capacity = std::max(0, BlockDataSize(block_size));
  void* memory = ::operator new(sizeof(TBlock) + static_cast<size_t>(capacity));
  return new (memory) TBlock(owner, static_cast<uint8_t*>(memory) + sizeof(TBlock), capacity);
}

void TBlock::Destroy(TBlock* block) {
  block->~TBlock();
  ::operator delete(block);
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

// The list takes its room with the first block put back.
TBlockStack::TBlockStack(TBlobFile* owner) : owner_(owner) {}

TBlockStack::~TBlockStack() {
  Clear();
}

void TBlockStack::Clear() {
  for (int32_t i = list_.Count() - 1; i >= 0; --i) TBlock::Destroy(static_cast<TBlock*>(list_.Get(i)));
  list_.Clear();
}

TBlock* TBlockStack::Get(int32_t position, int32_t block_size) {
  TBlock* block = nullptr;
  // Blocks pooled before the block size changed have no room for the new size.
  while (block == nullptr && list_.Count() > 0) {
    block = static_cast<TBlock*>(list_.Last());
    list_.Delete(list_.Count() - 1);
    if (block->Capacity() != std::max(0, BlockDataSize(block_size))) {
      TBlock::Destroy(block);
      block = nullptr;
    }
  }
  if (block == nullptr) block = TBlock::Make(owner_, block_size);
  block->Reset(position, block_size);
  return block;
}

void TBlockStack::Put(TBlock*& block) {
  if (block == nullptr) return;
  if (list_.Capacity() == 0) list_.SetCapacity(kBlockStackCapacity);
  list_.Add(block);
  block = nullptr;
}

}  // namespace jw
