#include "engine/core/index_file_format.h"

#include <cstring>

#include "engine/core/data_file_format.h"

namespace jw {

void IndexDescriptor::EncodeTo(uint8_t* dest) const {
  std::memset(dest, 0, kIndexDescriptorSize);
  PutShortString(dest + kIdName, Name, kMaxIndexNameLength);
  PutInt16(dest + kIdKeyLength, KeyLength);
  dest[kIdDescending] = Descending;
  dest[kIdCaseInsensitive] = CaseInsensitive;
  dest[kIdUnique] = Unique;
  dest[kIdCompression] = Compression;
  dest[kIdSegmentCount] = SegmentCount;
  for (int32_t i = 0; i < kMaxSegments; ++i) {
    dest[kIdSegmentDescending + i] = SegmentDescending[i];
    PutInt16(dest + kIdFieldNumbers + 2 * i, FieldNumbers[i]);
  }
  PutInt32(dest + kIdRoot, Root);
  PutInt32(dest + kIdFreeHead, FreeHead);
  dest[kIdScratch] = Scratch;
}

bool IndexDescriptor::DecodeFrom(const uint8_t* src) {
  KeyLength = GetInt16(src + kIdKeyLength);
  Descending = src[kIdDescending];
  CaseInsensitive = src[kIdCaseInsensitive];
  Unique = src[kIdUnique];
  Compression = src[kIdCompression];
  SegmentCount = src[kIdSegmentCount];
  for (int32_t i = 0; i < kMaxSegments; ++i) {
    SegmentDescending[i] = src[kIdSegmentDescending + i];
    FieldNumbers[i] = GetInt16(src + kIdFieldNumbers + 2 * i);
  }
  Root = GetInt32(src + kIdRoot);
  FreeHead = GetInt32(src + kIdFreeHead);
  Scratch = src[kIdScratch];
  return GetShortString(src + kIdName, kMaxIndexNameLength, Name);
}

void TIndexFileHeader::EncodeTo(uint8_t* dest) const {
  std::memset(dest, 0, kIndexHeaderSize);
  PutInt32(dest + kIhChangeCounter, ChangeCounter);
  dest[kIhVersion] = Version;
  PutInt32(dest + kIhEndPosition, EndPosition);
  dest[kIhSecondaryCount] = SecondaryCount;
  // An unused slot encodes as zeros, which the bytes hold already: most
  // tables use few of the slots, and an emptied table writes its header.
  static const IndexDescriptor kUnused;
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    if (Slots[s] == kUnused) continue;
    Slots[s].EncodeTo(dest + kIhDescriptors + s * kIndexDescriptorSize);
  }
  PutInt32(dest + kIhLiveCount, LiveCount);
  dest[kIhNoPrimary] = NoPrimary;
  dest[kIhDirtyFlag] = DirtyFlag;
}

bool TIndexFileHeader::DecodeFrom(const uint8_t* src) {
  ChangeCounter = GetInt32(src + kIhChangeCounter);
  Version = src[kIhVersion];
  EndPosition = GetInt32(src + kIhEndPosition);
  SecondaryCount = src[kIhSecondaryCount];
  LiveCount = GetInt32(src + kIhLiveCount);
  NoPrimary = src[kIhNoPrimary];
  DirtyFlag = src[kIhDirtyFlag];
  bool names_ok = true;
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    names_ok &= Slots[s].DecodeFrom(src + kIhDescriptors + s * kIndexDescriptorSize);
  }
  return names_ok;
}

}  // namespace jw
