#include "engine/core/blob_buffer.h"

#include <algorithm>
#include <cstring>

#include "engine/support/engine_heap.h"

namespace jw {
namespace {

// A stated size is trusted only this far ahead of the bytes actually read.
constexpr size_t kLoadReserveLimit = 1 << 20;

// An emptied buffer keeps memory up to this size for its next value.
constexpr int32_t kKeptDataBytes = 64 << 10;

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile& file, TBlobFileCursor* cursor) : file_(&file), cursor_(cursor) {}

TBlobBuffer::~TBlobBuffer() {
  EngineFree(data_);
}

void TBlobBuffer::Renew(TBlobFile& file, TBlobFileCursor* cursor) {
  SetSize(0);
  file_ = &file;
  cursor_ = cursor;
  dirty_ = false;
  stamp_ = 0;
  chain_stamp_ = 0;
  record_number_ = 0;
  field_number_ = 0;
  first_block_ = 0;
  owner_byte_ = 0;
  open_mode_ = 0;
}

void TBlobBuffer::SetSize(int32_t size) {
  size = std::max(size, 0);
  if (size == size_) return;
  if (size > capacity_) {
    // The engine heap hands out the new bytes zero.
    data_ = static_cast<uint8_t*>(EngineRealloc(data_, size));
    capacity_ = size;
  } else if (size == 0 && capacity_ > kKeptDataBytes) {
    EngineFree(data_);
    capacity_ = 0;
  } else if (size < size_) {
    std::memset(data_ + size, 0, static_cast<size_t>(size_ - size));
  }
  size_ = size;
  dirty_ = true;
}

void TBlobBuffer::LoadBlob(int32_t first, int32_t stamp) {
  SetSize(0);
  if (first != 0) {
    int32_t restarts = 0;
    while (!LoadChain(first, stamp)) {
      // Another process keeps rewriting the table: the record is not the one asked for.
      if (++restarts > kMaxLoadRestarts) RaiseEngineError(kErrRecordChanged, file_->Name());
    }
  }
  first_block_ = first;
  stamp_ = stamp;
  chain_stamp_ = stamp;
  dirty_ = false;
}

bool TBlobBuffer::LoadChain(int32_t first, int32_t stamp) {
  const int32_t per_block = file_->BlockDataBytes();
  TBlobChainReader reader(*file_, cursor_);
  TChainBlock block;
  if (!reader.Read(first, file_->ExpectedChainBlocks(), block)) return false;
  if (block.Stamp != stamp) RaiseEngineError(kErrRecordChanged, file_->Name());
  const int64_t total = block.TotalSize;
  const int64_t blocks_in_file =
      (static_cast<int64_t>(file_->EndPosition()) - kFirstBlockPosition) / file_->BlockSize();
  // A size the file cannot hold is damage, not a reason to allocate.
  if (total < 0 || total > blocks_in_file * per_block) {
    RaiseEngineError(kErrBlobBuffersCorrupt, file_->Name());
  }
  file_->ExpectChainBlocks(BlocksForSize(total, file_->BlockSize()));
  // The bytes go straight into the buffer, which grows with them once the
  // stated size is beyond what is trusted before it is read.
  SetSize(static_cast<int32_t>(std::min<int64_t>(total, kLoadReserveLimit)));
  int64_t loaded = 0;
  while (loaded < total) {
    if (block.Stamp != stamp) RaiseEngineError(kErrRecordChanged, file_->Name());
    const int32_t wanted = static_cast<int32_t>(std::min<int64_t>(per_block, total - loaded));
    const int32_t got = std::min(wanted, block.Used);
    if (loaded + got > size_) {
      SetSize(static_cast<int32_t>(std::min<int64_t>(total, std::max<int64_t>(2 * size_, loaded + got))));
    }
    if (got > 0) std::memcpy(data_ + loaded, block.Data, static_cast<size_t>(got));
    loaded += got;
    if (got < wanted || loaded == total || block.Next == 0) break;
    if (!reader.Read(block.Next, BlocksForSize(total - loaded, file_->BlockSize()), block)) {
      return false;
    }
  }
  if (loaded != total) RaiseEngineError(kErrEndOfBlob, file_->Name());
  return true;
}

void TBlobBuffer::StoreBlob() {
  if (size_ <= 0) return;
  const int32_t old_first = first_block_;
  if (old_first != 0) {
    // The old chain is read whole here: freeing it walks all of it.
    TBlock* first = nullptr;
    file_->FetchBlock(nullptr, old_first, file_->ExpectedChainBlocks(), true, first);
    const int32_t stamp = first->Stamp();
    file_->ReleaseBlock(first);
    // Someone rewrote the chain since it was loaded.
    if (stamp != chain_stamp_ || file_->IsFreed(old_first)) {
      RaiseEngineError(kErrRecordChanged, file_->Name());
    }
  }
  // The value goes into new blocks and the old chain is freed afterwards:
  // until the record that names the new chain is written, the one on disk
  // still finds its old value whole (the file frees blocks only then).
  TBlockPin current(*file_, file_->NewBlock());
  first_block_ = current->Position();
  current->SetStamp(stamp_);
  current->SetTotalSize(size_);
  const int32_t per_block = file_->BlockDataBytes();
  int64_t written = 0;
  for (;;) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(per_block, size_ - written));
    current->WriteData(0, count, data_ + written);
    written += count;
    if (written == size_) break;
    TBlock* next = file_->NewBlock();
    current->SetNext(next->Position());
    next->SetPrevious(current->Position());
    next->SetStamp(stamp_);
    current.Reset(next);
  }
  int32_t old_chain = old_first;
  file_->FreeBlobChain(cursor_, false, false, record_number_, chain_stamp_, old_chain);
  chain_stamp_ = stamp_;
  dirty_ = false;
}

void TBlobBuffer::FreeChain() {
  file_->FreeBlobChain(cursor_, false, false, record_number_, chain_stamp_, first_block_);
  dirty_ = false;
}

}  // namespace jw
