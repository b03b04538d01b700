// The bytes of an index file (".IDX"), all integers little-endian:
//   0       4096-byte header: counters, end position, 33 index descriptors
//   4096    4096-byte pages, addressed by their byte position (0 = none)
// A page is a 13-byte head (type, key count, previous, next, used bytes) and
// up to 4083 bytes of entries. Header and pages are scrambled as a whole when
// the table is encrypted.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace jw {

constexpr int32_t kIndexPageSize = 4096;
constexpr int32_t kIndexHeaderSize = 4096;
constexpr uint8_t kIndexFormatVersion = 4;

// Header offsets.
constexpr int32_t kIhChangeCounter = 0;    // int32; bytes 4..7 stay zero
constexpr int32_t kIhVersion = 8;          // byte, always 4
constexpr int32_t kIhEndPosition = 9;      // int32, where the next page is appended
constexpr int32_t kIhSecondaryCount = 13;  // byte
constexpr int32_t kIhDescriptors = 14;     // 33 x 120 bytes
constexpr int32_t kIhLiveCount = 3974;     // int32, live records of the table
constexpr int32_t kIhNoPrimary = 3978;     // byte, 1 = no primary index
constexpr int32_t kIhDirtyFlag = 3979;     // byte; 3980..4095 stay zero

// Index slots: 0 the primary index, 1..30 secondary indexes, 31 the status
// index, 32 unused (kept zero).
constexpr int32_t kIndexSlotCount = 33;
constexpr int32_t kPrimarySlot = 0;
constexpr int32_t kStatusSlot = 31;
constexpr int32_t kMaxSecondaryIndexes = 30;
constexpr int32_t kMaxSegments = 16;
// A key image holds at most 524 bytes; a non-unique index adds the 4-byte
// record id behind it.
constexpr int32_t kMaxKeyImageLength = 524;
constexpr int32_t kRecordIdLength = 4;
constexpr int32_t kMaxKeyLength = kMaxKeyImageLength + kRecordIdLength;
constexpr int32_t kMaxIndexNameLength = 30;
constexpr uint8_t kMaxCompressionMode = 3;
constexpr const char* kStatusIndexName = "Sys Deleted";
// Status byte and the record id's sortable image.
constexpr int16_t kStatusKeyLength = 5;

// Index descriptor, 120 bytes.
constexpr int32_t kIndexDescriptorSize = 120;
constexpr int32_t kIdName = 0;                // string[30]
constexpr int32_t kIdKeyLength = 31;          // int16
constexpr int32_t kIdDescending = 33;         // byte, whole index
constexpr int32_t kIdCaseInsensitive = 34;    // byte
constexpr int32_t kIdUnique = 35;             // byte
constexpr int32_t kIdCompression = 36;        // byte, 0..3
constexpr int32_t kIdSegmentCount = 37;       // byte, at most 16
constexpr int32_t kIdSegmentDescending = 38;  // 16 bytes
constexpr int32_t kIdFieldNumbers = 54;       // 16 x int16, 0 = unused
constexpr int32_t kIdRoot = 86;               // int32, 0 = empty index
constexpr int32_t kIdFreeHead = 90;           // int32, 0 = no free page
constexpr int32_t kIdScratch = 94;            // byte; 95..119 stay zero

struct IndexDescriptor {
  std::string Name;
  int16_t KeyLength = 0;
  uint8_t Descending = 0;
  uint8_t CaseInsensitive = 0;
  uint8_t Unique = 0;
  uint8_t Compression = 0;
  uint8_t SegmentCount = 0;
  std::array<uint8_t, kMaxSegments> SegmentDescending{};
  std::array<int16_t, kMaxSegments> FieldNumbers{};
  int32_t Root = 0;
  int32_t FreeHead = 0;
  uint8_t Scratch = 0;

  // Writes exactly kIndexDescriptorSize bytes; the name is cut to 30.
  void EncodeTo(uint8_t* dest) const;
  // False when the name's length byte exceeds 30.
  bool DecodeFrom(const uint8_t* src);

  bool operator==(const IndexDescriptor&) const = default;
};

struct TIndexFileHeader {
  int32_t ChangeCounter = 0;
  uint8_t Version = 0;
  int32_t EndPosition = 0;
  uint8_t SecondaryCount = 0;
  std::array<IndexDescriptor, kIndexSlotCount> Slots;
  int32_t LiveCount = 0;
  uint8_t NoPrimary = 0;
  uint8_t DirtyFlag = 0;

  // Writes exactly kIndexHeaderSize bytes.
  void EncodeTo(uint8_t* dest) const;
  // False when a descriptor's name is longer than its room.
  bool DecodeFrom(const uint8_t* src);
};

// Page head.
constexpr int32_t kPgType = 0;      // byte
constexpr int32_t kPgKeyCount = 1;  // int16, 0 for a free page
constexpr int32_t kPgPrevious = 3;  // int32, page before on the same level
constexpr int32_t kPgNext = 7;      // int32, page after; a free page's next free page
constexpr int32_t kPgUsed = 11;     // int16, bytes of a compressed leaf's entries
constexpr int32_t kPgEntries = 13;
constexpr int32_t kPageHeadSize = 13;
constexpr int32_t kPageEntryBytes = kIndexPageSize - kPageHeadSize;  // 4083

constexpr uint8_t kPageRoot = 0;  // root with children
constexpr uint8_t kPageInner = 1;
constexpr uint8_t kPageLeaf = 2;
constexpr uint8_t kPageRootLeaf = 3;  // root that is also the only leaf

// Page positions stay below this: the file never grows past 2 GB.
constexpr int32_t kMaxEndPosition = 2000000001;

// A position that may name a page of a file whose end position is end.
constexpr bool IsPagePosition(int64_t position, int64_t end) {
  return position >= kIndexPageSize && position < end && position % kIndexPageSize == 0;
}

}  // namespace jw
