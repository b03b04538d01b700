// TDataCursor's BLOB access: a BLOB field of a record image refers either
// to its block chain or, while open, to one of the cursor's in-memory
// buffers (a negative handle). Buffers are read, written and resized in
// memory and written back to their chains when the record is posted.
#include <algorithm>
#include <cstring>

#include "engine/core/cursor_read_scope.h"
#include "engine/expr/expression_tokens.h"

namespace jw {
namespace {

// The cursor keeps at most this many BLOBs open.
constexpr size_t kMaxOpenBlobs = 64;

int32_t BlobRef(const FieldDescriptor& desc, const uint8_t* image) {
  return GetInt32(image + desc.Offset + 1);
}

void SetBlobRef(const FieldDescriptor& desc, uint8_t* image, int32_t ref, bool has_value) {
  image[desc.Offset] = has_value ? 1 : 0;
  PutInt32(image + desc.Offset + 1, ref);
}

}  // namespace

const FieldDescriptor& TDataCursor::BlobFieldDesc(int32_t field, bool table_list) const {
  return table_list ? GetTableFieldDesc(field) : GetFieldDesc(field);
}

int32_t TDataCursor::FindBlob(int32_t field, const uint8_t* image, bool table_list,
                              TBlobBuffer*& buffer) {
  const FieldDescriptor& desc = BlobFieldDesc(field, table_list);
  if (desc.Type != kFldBlob) return kErrInvalidBlobField;
  buffer = BlobBufferOf(BlobRef(desc, image));
  return buffer == nullptr ? kErrInvalidBlobHandle : 0;
}

std::unique_ptr<TBlobBuffer> TDataCursor::NewBlobBuffer() {
  if (!spare_blob_) return std::make_unique<TBlobBuffer>(table_->BlobFile(), this);
  spare_blob_->Renew(table_->BlobFile(), this);
  return std::move(spare_blob_);
}

void TDataCursor::DropBlobBuffer(std::unique_ptr<TBlobBuffer>& buffer) {
  buffer->SetSize(0);
  spare_blob_ = std::move(buffer);
}

int32_t TDataCursor::OpenBlob(int32_t field, uint8_t* image, uint8_t owner, bool table_list,
                              uint8_t mode) {
  TCursorReadScope read(*this);
  return OpenBlobBuffer(field, image, owner, table_list, mode);
}

int32_t TDataCursor::OpenBlobBuffer(int32_t field, uint8_t* image, uint8_t owner, bool table_list,
                                    uint8_t mode) {
  const FieldDescriptor& desc = BlobFieldDesc(field, table_list);
  if (desc.Type != kFldBlob) return kErrInvalidBlobField;
  const int32_t ref = BlobRef(desc, image);
  if (ref < 0) {
    TBlobBuffer* open = BlobBufferOf(ref);
    if (open == nullptr) return kErrInvalidBlobOffset;
    if (open->OwnerByte() == 0) open->SetOwnerByte(owner);
    return 0;
  }
  const auto free_slot = std::find(blob_buffers_.begin(), blob_buffers_.end(), nullptr);
  const size_t open_count = static_cast<size_t>(std::count_if(
      blob_buffers_.begin(), blob_buffers_.end(), [](const auto& b) { return b != nullptr; }));
  if (open_count >= kMaxOpenBlobs) return kErrTooManyBlobs;
  auto buffer = NewBlobBuffer();
  buffer->SetFieldNumber(field);
  buffer->SetOpenMode(mode);
  buffer->SetOwnerByte(owner);
  buffer->SetStamp(GetBlobStamp(field, image, table_list));
  buffer->SetRecordNumber(GetRecordNumber(image));
  if (ref != 0) buffer->LoadBlob(ref, GetBlobStamp(field, image, table_list));
  size_t slot = static_cast<size_t>(free_slot - blob_buffers_.begin());
  if (free_slot == blob_buffers_.end()) {
    blob_buffers_.push_back(std::move(buffer));
  } else {
    *free_slot = std::move(buffer);
  }
  SetBlobRef(desc, image, BlobBufferHandle(static_cast<int32_t>(slot)), image[desc.Offset] != 0);
  return 0;
}

int32_t TDataCursor::CloseBlob(int32_t field, uint8_t* image, uint8_t owner, bool table_list) {
  TBlobBuffer* buffer = nullptr;
  if (const int32_t code = FindBlob(field, image, table_list, buffer)) return code;
  if (buffer->OwnerByte() != owner) return 0;
  const FieldDescriptor& desc = BlobFieldDesc(field, table_list);
  const int32_t first = buffer->FirstBlock();
  const int32_t slot = -BlobRef(desc, image) - 1;
  DropBlobBuffer(blob_buffers_[static_cast<size_t>(slot)]);
  SetBlobRef(desc, image, first, first != 0);
  return 0;
}

int32_t TDataCursor::ReadBlob(int32_t field, const uint8_t* image, bool table_list,
                              int32_t& bytes_read, int32_t count, void* dest, int32_t offset) {
  bytes_read = 0;
  TBlobBuffer* buffer = nullptr;
  if (const int32_t code = FindBlob(field, image, table_list, buffer)) return code;
  if (offset < 0 || count < 0) return kErrInvalidBlobOffset;
  const int64_t end = static_cast<int64_t>(offset) + count;
  const bool short_read = end > buffer->Size();
  bytes_read = short_read ? std::max(buffer->Size() - offset, 0) : count;
  if (bytes_read > 0)
    std::memcpy(dest, buffer->GetData() + offset, static_cast<size_t>(bytes_read));
  return short_read ? kErrEndOfBlob : 0;
}

// A write inside the current size changes the value as much as one that
// grows it: either marks the buffer changed, so the post writes it back.
int32_t TDataCursor::WriteBlob(int32_t field, const uint8_t* image, bool table_list, int32_t count,
                               const void* source, int32_t offset) {
  TBlobBuffer* buffer = nullptr;
  if (const int32_t code = FindBlob(field, image, table_list, buffer)) return code;
  if (offset < 0 || count < 0) return kErrInvalidBlobOffset;
  if (count == 0) return 0;
  const int64_t end = static_cast<int64_t>(offset) + count;
  if (end > buffer->Size()) buffer->SetSize(static_cast<int32_t>(end));
  std::memcpy(buffer->GetData() + offset, source, static_cast<size_t>(count));
  buffer->SetDirty(true);
  return 0;
}

int32_t TDataCursor::TruncateBlob(int32_t field, const uint8_t* image, bool table_list,
                                  int32_t size) {
  TBlobBuffer* buffer = nullptr;
  if (const int32_t code = FindBlob(field, image, table_list, buffer)) return code;
  buffer->SetSize(size);
  return 0;
}

int32_t TDataCursor::GetBlobSize(int32_t field, const uint8_t* image, bool table_list,
                                 int32_t& size) {
  size = 0;
  TBlobBuffer* buffer = nullptr;
  if (const int32_t code = FindBlob(field, image, table_list, buffer)) return code;
  size = buffer->Size();
  return 0;
}

void TDataCursor::FreeBlobs(bool all) {
  for (auto it = blob_buffers_.rbegin(); it != blob_buffers_.rend(); ++it) {
    if (*it && (all || (*it)->OwnerByte() != 0)) DropBlobBuffer(*it);
  }
  while (!blob_buffers_.empty() && !blob_buffers_.back()) blob_buffers_.pop_back();
}

void TDataCursor::StoreBlobStamps(uint8_t* image, bool table_list) {
  for (const auto& buffer : blob_buffers_) {
    if (!buffer || !buffer->Dirty()) continue;
    buffer->SetStamp(table_->DataFile().NextBlobStamp());
    SetBlobStamp(buffer->FieldNumber(), image, table_list, buffer->Stamp());
  }
}

bool TDataCursor::WriteBlobBuffers() {
  int32_t number = -1;
  for (const auto& buffer : blob_buffers_) {
    if (!buffer || !buffer->Dirty()) continue;
    if (number != -1 && buffer->RecordNumber() != number) Raise(kErrBlobBuffersCorrupt);
    number = buffer->RecordNumber();
  }
  bool written = false;
  for (const auto& buffer : blob_buffers_) {
    if (!buffer || !buffer->Dirty()) continue;
    buffer->Size() == 0 ? buffer->FreeChain() : buffer->StoreBlob();
    buffer->SetDirty(false);
    written = true;
  }
  return written;
}

void TDataCursor::StoreBlobRefs(uint8_t* image, bool table_list) {
  for (int32_t i = 1; i <= (table_list ? GetFieldCount() : GetCursorFieldCount()); ++i) {
    const FieldDescriptor& desc = BlobFieldDesc(i, table_list);
    if (desc.Type != kFldBlob) continue;
    const TBlobBuffer* buffer = BlobBufferOf(BlobRef(desc, image));
    if (buffer == nullptr) continue;
    SetBlobRef(desc, image, buffer->FirstBlock(), buffer->FirstBlock() != 0);
  }
}

bool TDataCursor::SameAsCurrent(const uint8_t* image) const {
  const size_t size = static_cast<size_t>(table_->DataFile().RecordSize());
  if (image == nullptr) return false;
  if (std::memcmp(current_.data(), image, size) == 0) return true;
  if (GetBlobFieldCount() == 0) return false;
  std::vector<uint8_t> stored(image, image + size);
  for (int32_t i = 1; i <= GetFieldCount(); ++i) {
    const FieldDescriptor& desc = GetTableFieldDesc(i);
    if (desc.Type != kFldBlob) continue;
    // A buffer not yet written back still has its chain where it was opened.
    const TBlobBuffer* buffer = BlobBufferOf(BlobRef(desc, image));
    if (buffer != nullptr) PutInt32(stored.data() + desc.Offset + 1, buffer->FirstBlock());
  }
  return std::memcmp(current_.data(), stored.data(), size) == 0;
}

const TBlobBuffer& TDataCursor::BlobContents(const FieldDescriptor& desc, const uint8_t* image,
                                             TBlobBuffer& loaded) const {
  const int32_t ref = BlobRef(desc, image);
  if (const TBlobBuffer* open = BlobBufferOf(ref)) return *open;
  if (ref > 0) loaded.LoadBlob(ref, GetInt32(image + desc.Offset + 1 + sizeof(int32_t)));
  return loaded;
}

void TDataCursor::BlobColumnValue(int32_t field, const uint8_t* image, TExpToken& node) {
  const FieldDescriptor& desc = GetTableFieldDesc(field);
  bool null = false;
  ReadField(desc, image, null, nullptr);
  TBlobBuffer loaded(table_->BlobFile(), this);
  const TBlobBuffer& contents = null ? loaded : BlobContents(desc, image, loaded);
  const auto size = static_cast<size_t>(contents.Size());
  node.SetValueSize(contents.Size() + 1);
  if (size > 0) std::memcpy(node.Value(), contents.GetData(), size);
  node.Value()[size] = 0;
  node.IsNull = null;
}

void TDataCursor::CopyBlob(int32_t field, const uint8_t* image, bool table_list,
                           TDataCursor& target, int32_t target_field, uint8_t* target_image) {
  TBlobBuffer loaded(table_->BlobFile(), this);
  const TBlobBuffer& source = BlobContents(BlobFieldDesc(field, table_list), image, loaded);
  // The copy starts empty and without a chain: posting the target image
  // writes a chain of its own.
  int32_t code =
      target.OpenBlobBuffer(target_field, target_image, kEngineOwner, table_list, kBlobWriteMode);
  if (code == 0 && source.Size() > 0) {
    code = target.WriteBlob(target_field, target_image, table_list, source.Size(), source.GetData(),
                            0);
  }
  if (code != 0) {
    target.Raise(static_cast<EngineErrorCode>(code),
                 target.BlobFieldDesc(target_field, table_list).Name);
  }
}

void TDataCursor::ClearRecordBlobs(uint8_t* image) {
  for (int32_t i = 1; i <= GetFieldCount(); ++i) {
    if (GetTableFieldDesc(i).Type != kFldBlob) continue;
    int32_t code = OpenBlob(i, image, kEngineOwner, true, kBlobWriteMode);
    if (code == 0) code = TruncateBlob(i, image, true, 0);
    if (code != 0) Raise(static_cast<EngineErrorCode>(code), GetTableFieldDesc(i).Name);
  }
}

}  // namespace jw
