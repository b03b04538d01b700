// The BLOB file's bytes: the header and block head byte for byte, and the
// arithmetic of block positions and chain lengths.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/blob_file_format.h"

namespace jw::test {
namespace {

TEST(BlobFileFormat, HeaderBytesLieAtTheirOffsets) {
  TBlobFileHeader h;
  h.ChangeCounter = 0x01020304;
  h.Version = 4;
  h.FreeHead = 0x00000A00;
  h.EndPosition = 0x00000C40;
  h.DirtyFlag = 1;
  std::vector<uint8_t> bytes(kBlobHeaderSize, 0xEE);
  h.EncodeTo(bytes.data());
  const std::vector<uint8_t> head = {0x04, 0x03, 0x02, 0x01, 0,    0,    0,    0,    0x04,
                                     0x00, 0x0A, 0x00, 0x00, 0x40, 0x0C, 0x00, 0x00, 0x01};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 18), head);
  for (int32_t i = 18; i < kBlobHeaderSize; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;

  TBlobFileHeader back;
  back.DecodeFrom(bytes.data());
  EXPECT_EQ(back.ChangeCounter, h.ChangeCounter);
  EXPECT_EQ(back.Version, 4);
  EXPECT_EQ(back.FreeHead, h.FreeHead);
  EXPECT_EQ(back.EndPosition, h.EndPosition);
  EXPECT_EQ(back.DirtyFlag, 1);
}

TEST(BlobFileFormat, BlockHeadBytesLieAtTheirOffsets) {
  TBlobBlockHead b;
  b.Previous = 0x00000200;
  b.Next = 0x00000600;
  b.Used = 0x01EE;
  b.Stamp = -2;
  b.TotalSize = 0x00012345;
  uint8_t bytes[kBlockHeadSize];
  b.EncodeTo(bytes);
  const std::vector<uint8_t> expected = {0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0xEE,
                                         0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + kBlockHeadSize), expected);
  TBlobBlockHead back;
  back.DecodeFrom(bytes);
  EXPECT_EQ(back.Previous, b.Previous);
  EXPECT_EQ(back.Next, b.Next);
  EXPECT_EQ(back.Used, b.Used);
  EXPECT_EQ(back.Stamp, b.Stamp);
  EXPECT_EQ(back.TotalSize, b.TotalSize);
}

TEST(BlobFileFormat, BlockPositionsAreBoundariesBelowTheEnd) {
  // Block size 64, three blocks: 512, 576, 640; the end position is 704.
  const struct {
    int64_t position;
    bool is_block;
  } cases[] = {{0, false},  {-64, false}, {448, false}, {511, false},
               {512, true}, {513, false}, {575, false}, {576, true},
               {640, true}, {704, false}, {768, false}, {int64_t{1} << 40, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsBlockPosition(c.position, 64, 704), c.is_block) << c.position;
  }
  EXPECT_FALSE(IsBlockPosition(512, 64, 512)) << "a file without blocks";
}

TEST(BlobFileFormat, ChainLengthIsSizeOverDataBytesRoundedUp) {
  const struct {
    int64_t size;
    int32_t block_size;
    int32_t blocks;
  } cases[] = {{0, 64, 0},        {1, 64, 1},        {46, 64, 1},          {47, 64, 2},
               {138, 64, 3},      {139, 64, 4},      {494, 512, 1},        {495, 512, 2},
               {32750, 32768, 1}, {32751, 32768, 2}, {1048576, 512, 2123}, {-1, 512, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(BlocksForSize(c.size, c.block_size), c.blocks) << c.size << " / " << c.block_size;
  }
  EXPECT_EQ(BlockDataSize(512), 494);
}

}  // namespace
}  // namespace jw::test
