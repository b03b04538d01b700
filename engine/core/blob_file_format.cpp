#include "engine/core/blob_file_format.h"

#include <cstring>

#include "engine/core/data_file_format.h"

namespace jw {

void TBlobFileHeader::EncodeTo(uint8_t* dest) const {
  std::memset(dest, 0, kBlobHeaderSize);
  PutInt32(dest + kBhChangeCounter, ChangeCounter);
  dest[kBhVersion] = Version;
  PutInt32(dest + kBhFreeHead, FreeHead);
  PutInt32(dest + kBhEndPosition, EndPosition);
  dest[kBhDirtyFlag] = DirtyFlag;
}

void TBlobFileHeader::DecodeFrom(const uint8_t* src) {
  ChangeCounter = GetInt32(src + kBhChangeCounter);
  Version = src[kBhVersion];
  FreeHead = GetInt32(src + kBhFreeHead);
  EndPosition = GetInt32(src + kBhEndPosition);
  DirtyFlag = src[kBhDirtyFlag];
}

void TBlobBlockHead::EncodeTo(uint8_t* dest) const {
  PutInt32(dest + kBkPrevious, Previous);
  PutInt32(dest + kBkNext, Next);
  PutInt16(dest + kBkUsed, Used);
  PutInt32(dest + kBkStamp, Stamp);
  PutInt32(dest + kBkTotalSize, TotalSize);
}

void TBlobBlockHead::DecodeFrom(const uint8_t* src) {
  Previous = GetInt32(src + kBkPrevious);
  Next = GetInt32(src + kBkNext);
  Used = GetInt16(src + kBkUsed);
  Stamp = GetInt32(src + kBkStamp);
  TotalSize = GetInt32(src + kBkTotalSize);
}

int32_t BlocksForSize(int64_t size, int32_t block_size) {
  const int64_t per_block = BlockDataSize(block_size);
  if (size <= 0 || per_block <= 0) return 0;
  return static_cast<int32_t>((size + per_block - 1) / per_block);
}

bool IsBlockPosition(int64_t position, int32_t block_size, int64_t end_position) {
  return block_size > 0 && position >= kFirstBlockPosition && position < end_position &&
         (position - kFirstBlockPosition) % block_size == 0;
}

}  // namespace jw
