#include "engine/core/blob_post.h"

#include <algorithm>

#include "engine/core/data_cursor.h"

namespace jw {
namespace {

// A BLOB field in an image: null byte, int32 reference, int32 write stamp.
constexpr int32_t kBlobFieldBytes = 9;

}  // namespace

TBlobPost::TBlobPost(TDataCursor& cursor, uint8_t* image) : cursor_(cursor), image_(image) {}

bool TBlobPost::Write() {
  if (cursor_.GetBlobFieldCount() == 0) return false;
  for (int32_t i = 1; i <= cursor_.GetFieldCount(); ++i) {
    const FieldDescriptor& desc = cursor_.GetTableFieldDesc(i);
    if (desc.Type != kFldBlob) continue;
    const uint8_t* at = image_ + desc.Offset;
    fields_.emplace_back(desc.Offset, std::vector<uint8_t>(at, at + kBlobFieldBytes));
    TBlobBuffer* buffer = cursor_.BlobBufferOf(GetInt32(at + 1));
    if (buffer != nullptr) buffers_.emplace_back(buffer, buffer->StoreState());
  }
  journal_.emplace(cursor_.Table()->BlobFile());
  started_ = true;
  cursor_.StoreBlobStamps(image_, true);
  const bool written = cursor_.WriteBlobBuffers();
  cursor_.StoreBlobRefs(image_, true);
  return written;
}

void TBlobPost::Undo() {
  if (!started_) return;
  started_ = false;
  journal_->RollBack();
  journal_.reset();
  for (const auto& [buffer, state] : buffers_) buffer->RestoreStoreState(state);
  for (const auto& [offset, bytes] : fields_)
    std::copy(bytes.begin(), bytes.end(), image_ + offset);
}

void TBlobPost::Finish() {
  journal_.reset();
  if (cursor_.GetBlobFieldCount() > 0) cursor_.FreeBlobs(false);
}

}  // namespace jw
