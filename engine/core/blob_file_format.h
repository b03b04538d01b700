// The bytes of a BLOB file (".BLB"), all integers little-endian:
//   0            512-byte header: change counter, version, free-block head, end position
//   512 + k x B  blocks of the table's block size B, addressed by byte position (0 = none)
// A block is an 18-byte head (previous, next, used bytes, owner stamp, total
// size) and B - 18 data bytes. When the table is encrypted the header is
// scrambled as a whole and each block in two parts, head and data, each on its own.
#pragma once

#include <cstdint>

namespace jw {

constexpr int32_t kBlobHeaderSize = 512;
constexpr uint8_t kBlobFormatVersion = 4;

// Header offsets.
constexpr int32_t kBhChangeCounter = 0;  // int32; bytes 4..7 stay zero
constexpr int32_t kBhVersion = 8;        // byte, always 4
constexpr int32_t kBhFreeHead = 9;       // int32, first free block, 0 = none
constexpr int32_t kBhEndPosition = 13;   // int32, where the next block is appended
constexpr int32_t kBhDirtyFlag = 17;     // byte, readers reset it; 18..511 stay zero

// The first block lies right behind the header; an empty file ends there.
constexpr int32_t kFirstBlockPosition = kBlobHeaderSize;
// Appending a block whose end would reach this is refused (9479).
constexpr int64_t kMaxBlobFileEnd = 2000000001;

struct TBlobFileHeader {
  int32_t ChangeCounter = 0;
  uint8_t Version = 0;
  int32_t FreeHead = 0;
  int32_t EndPosition = 0;
  uint8_t DirtyFlag = 0;

  // Writes exactly kBlobHeaderSize bytes.
  void EncodeTo(uint8_t* dest) const;
  void DecodeFrom(const uint8_t* src);
};

// Block head offsets.
constexpr int32_t kBlockHeadSize = 18;
constexpr int32_t kBkPrevious = 0;    // int32, previous block of the chain, 0 for the first
constexpr int32_t kBkNext = 4;        // int32, next block of the chain (or of the free list)
constexpr int32_t kBkUsed = 8;        // int16, data bytes used, at most B - 18
constexpr int32_t kBkStamp = 10;      // int32, write stamp of the record that owns the chain
constexpr int32_t kBkTotalSize = 14;  // int32, the BLOB's size in the first block, else 0

struct TBlobBlockHead {
  int32_t Previous = 0;
  int32_t Next = 0;
  int16_t Used = 0;
  int32_t Stamp = 0;
  int32_t TotalSize = 0;

  // Writes exactly kBlockHeadSize bytes.
  void EncodeTo(uint8_t* dest) const;
  void DecodeFrom(const uint8_t* src);
};

// Data bytes a block of block_size bytes carries.
constexpr int32_t BlockDataSize(int32_t block_size) {
  return block_size - kBlockHeadSize;
}

// The place of the block at position among the file's blocks: 0 for the
// block at 512.
constexpr int32_t BlockNumber(int64_t position, int32_t block_size) {
  return static_cast<int32_t>((position - kFirstBlockPosition) / block_size);
}

// Blocks a BLOB of size bytes needs: ceil(size / (block_size - 18)).
int32_t BlocksForSize(int64_t size, int32_t block_size);

// Whether position names an existing block of a file whose next block would
// be appended at end_position: at least 512, on a block boundary, below the end.
bool IsBlockPosition(int64_t position, int32_t block_size, int64_t end_position);

}  // namespace jw
