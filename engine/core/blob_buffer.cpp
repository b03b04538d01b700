#include "engine/core/blob_buffer.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/support/engine_heap.h"

namespace jw {
namespace {

// A stated size is trusted only this far ahead of the bytes actually read.
constexpr size_t kLoadReserveLimit = 1 << 20;

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile& file, TBlobFileCursor* cursor) : file_(file), cursor_(cursor) {}

TBlobBuffer::~TBlobBuffer() {
  EngineFree(data_);
}

void TBlobBuffer::SetSize(int32_t size) {
  if (size <= 0) {
    if (size_ != 0) dirty_ = true;
    EngineFree(data_);
    size_ = 0;
    return;
  }
  if (size == size_) return;
  data_ = static_cast<uint8_t*>(EngineRealloc(data_, size));
  size_ = size;
  dirty_ = true;
}

void TBlobBuffer::LoadBlob(int32_t first, int32_t stamp) {
  std::vector<uint8_t> bytes;
  if (first != 0) {
    int32_t restarts = 0;
    while (!LoadChain(first, stamp, bytes)) {
      // Another process keeps rewriting the table: the record is not the one asked for.
      if (++restarts > kMaxLoadRestarts) RaiseEngineError(kErrRecordChanged, file_.Name());
    }
  }
  SetSize(static_cast<int32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  first_block_ = first;
  stamp_ = stamp;
  chain_stamp_ = stamp;
  dirty_ = false;
}

bool TBlobBuffer::LoadChain(int32_t first, int32_t stamp, std::vector<uint8_t>& bytes) {
  bytes.clear();
  const int32_t per_block = file_.BlockDataBytes();
  TBlockPin block(file_);
  TBlock* fetched = nullptr;
  if (!file_.FetchBlock(cursor_, first, file_.ReadAheadCount(), true, fetched)) return false;
  block.Reset(fetched);
  if (block->Stamp() != stamp) RaiseEngineError(kErrRecordChanged, file_.Name());
  const int64_t total = block->TotalSize();
  const int64_t blocks_in_file =
      (static_cast<int64_t>(file_.EndPosition()) - kFirstBlockPosition) / file_.BlockSize();
  // A size the file cannot hold is damage, not a reason to allocate.
  if (total < 0 || total > blocks_in_file * per_block) {
    RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
  }
  bytes.reserve(static_cast<size_t>(std::min<int64_t>(total, kLoadReserveLimit)));
  std::unordered_set<int32_t> visited{first};
  int64_t loaded = 0;
  while (loaded < total) {
    if (block->Stamp() != stamp) RaiseEngineError(kErrRecordChanged, file_.Name());
    const int32_t wanted = static_cast<int32_t>(std::min<int64_t>(per_block, total - loaded));
    const size_t at = bytes.size();
    bytes.resize(at + wanted);
    const int32_t got = block->ReadData(0, wanted, bytes.data() + at);
    bytes.resize(at + got);
    loaded += got;
    if (got < wanted || loaded == total || block->Next() == 0) break;
    const int32_t next = block->Next();
    if (!file_.IsBlock(next) || !visited.insert(next).second) {
      RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
    }
    if (!file_.FetchBlock(cursor_, next, BlocksForSize(total - loaded, file_.BlockSize()), true,
                          fetched)) {
      return false;
    }
    block.Reset(fetched);
  }
  if (loaded != total) RaiseEngineError(kErrEndOfBlob, file_.Name());
  return true;
}

void TBlobBuffer::StoreBlob() {
  if (size_ <= 0) return;
  const int32_t block_size = file_.BlockSize();
  const int32_t per_block = file_.BlockDataBytes();
  TBlockPin current(file_);
  int64_t old_size = 0;
  if (first_block_ != 0) {
    TBlock* first = nullptr;
    file_.FetchBlock(nullptr, first_block_, BlocksForSize(size_, block_size), true, first);
    current.Reset(first);
    // Someone rewrote the chain since it was loaded.
    if (current->Stamp() != chain_stamp_) RaiseEngineError(kErrRecordChanged, file_.Name());
    old_size = std::max(0, current->TotalSize());
  } else {
    current.Reset(file_.NewBlock());
    first_block_ = current->Position();
  }
  current->SetStamp(stamp_);
  current->SetTotalSize(size_);
  current->SetPrevious(0);
  std::unordered_set<int32_t> visited{first_block_};
  int64_t written = 0;
  for (;;) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(per_block, size_ - written));
    current->WriteData(0, count, data_ + written);
    written += count;
    if (written == size_) break;
    const int32_t link = current->Next();
    TBlock* next = nullptr;
    if (link != 0) {
      if (!file_.IsBlock(link) || !visited.insert(link).second) {
        RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
      }
      const int32_t still_covered = std::max(1, BlocksForSize(old_size - written, block_size));
      file_.FetchBlock(nullptr, link, still_covered, true, next);
      // Only blocks of the old chain are written over, never another record's.
      if (next->Stamp() != chain_stamp_) {
        file_.ReleaseBlock(next);
        RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
      }
    } else {
      next = file_.NewBlock();
      // A free list that holds a block of this chain.
      if (!visited.insert(next->Position()).second) {
        file_.ReleaseBlock(next);
        RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
      }
    }
    current->SetNext(next->Position());
    next->SetPrevious(current->Position());
    next->SetStamp(stamp_);
    next->SetTotalSize(0);
    current.Reset(next);
  }
  int32_t rest = current->Next();
  if (rest != 0) {
    if (!file_.IsBlock(rest) || visited.count(rest) != 0) {
      RaiseEngineError(kErrBlobBuffersCorrupt, file_.Name());
    }
    current->SetNext(0);
    file_.FreeBlobChain(cursor_, false, false, record_number_, chain_stamp_, rest);
  }
  chain_stamp_ = stamp_;
  dirty_ = false;
}

void TBlobBuffer::FreeChain() {
  file_.FreeBlobChain(cursor_, false, false, record_number_, chain_stamp_, first_block_);
  dirty_ = false;
}

}  // namespace jw
