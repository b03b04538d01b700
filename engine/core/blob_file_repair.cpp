// TBlobFile's share of the repair of a table whose last write was cut off:
// blocks are written before the header that hands them out, so the header's
// free list and end may lag behind the blocks on disk. The records are the
// truth: what their chains hold stays, every other block is free.
#include <algorithm>
#include <vector>

#include "engine/core/blob_file.h"

namespace jw {

void TBlobFile::RebuildFreeList(const std::vector<TBlobChainStart>& chains) {
  const int64_t blocks = std::max<int64_t>(GetSize() - kFirstBlockPosition, 0) / block_size_;
  const int64_t file_end = kFirstBlockPosition + blocks * block_size_;
  if (header_.EndPosition > file_end) Raise(kErrHeaderCorrupt);
  DropBlockCache();
  header_.EndPosition = static_cast<int32_t>(file_end);
  auto index_of = [this](int32_t position) {
    return static_cast<size_t>((position - kFirstBlockPosition) / block_size_);
  };
  std::vector<bool> in_use(static_cast<size_t>(blocks), false);
  for (const TBlobChainStart& chain : chains) {
    // Each block must carry the record's stamp and belong to no chain yet;
    // the walk stops where the chain stops being sound.
    for (int32_t position = chain.First; IsBlock(position) && !in_use[index_of(position)];) {
      TBlock* block = nullptr;
      FetchBlock(nullptr, position, read_ahead_count_, true, block);
      const bool owned = block->Stamp() == chain.Stamp;
      const int32_t next = block->Next();
      ReleaseBlock(block);
      if (!owned) break;
      in_use[index_of(position)] = true;
      position = next;
    }
  }
  int32_t free_head = 0;
  for (int64_t i = blocks - 1; i >= 0; --i) {
    if (in_use[static_cast<size_t>(i)]) continue;
    const auto position = static_cast<int32_t>(kFirstBlockPosition + i * block_size_);
    TBlock* block = nullptr;
    FetchBlock(nullptr, position, 1, false, block);
    block->Clear();
    block->SetNext(free_head);
    ReleaseBlock(block);
    free_head = position;
  }
  header_.FreeHead = free_head;
  header_dirty_ = true;
}

}  // namespace jw
