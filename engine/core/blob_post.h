// TBlobPost: the BLOB part of writing one record: new write stamps, the
// changed buffers stored into their block chains and the chains' first
// blocks put into the record image. It stays open until the record's change
// is committed, so that a post that fails at any point can be taken back:
// the blocks, the free list, the cursor's buffers and the image's BLOB
// fields all return to what they were, and no block is lost or half-linked.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/blob_file.h"

namespace jw {

class TDataCursor;

class TBlobPost {
 public:
  // The image is the one to be written, with the table's field list.
  TBlobPost(TDataCursor& cursor, uint8_t* image);
  TBlobPost(const TBlobPost&) = delete;
  TBlobPost& operator=(const TBlobPost&) = delete;

  // Writes the changed buffers back; whether one was written (the BLOB
  // file then counts as changed).
  bool Write();
  // Takes back everything Write did, also when Write stopped part way.
  void Undo();
  // The change is committed (or given up): lets the engine's own buffers go.
  void Finish();

 private:
  TDataCursor& cursor_;
  uint8_t* image_;
  bool started_ = false;
  // Each BLOB field's bytes in the image (null byte, reference, stamp).
  std::vector<std::pair<int32_t, std::vector<uint8_t>>> fields_;
  std::vector<std::pair<TBlobBuffer*, TBlobBuffer::TStoreState>> buffers_;
  std::optional<TBlobJournal> journal_;
};

}  // namespace jw
