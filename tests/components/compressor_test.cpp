#include "components/compressor.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "components/stream_records.h"

namespace jw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& source) {
  Bytes block(source.size() + kCompressSlack);
  block.resize(CompressBlock(source, block));
  return block;
}

Bytes Decompress(const Bytes& block, size_t capacity) {
  Bytes out(capacity);
  out.resize(DecompressBlock(block, out));
  return out;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(CompressorTest, BlocksHaveTheirDocumentedBytes) {
  struct Case {
    const char* name;
    Bytes source;
    Bytes block;
  };
  const std::vector<Case> cases = {
      {"run of 100", Bytes(100, 'Q'), {0x40, 0x80, 0x00, 0x00, 0x00, 0x54, 'Q'}},
      {"too short to code", Text("abc"), {0x80, 'a', 'b', 'c'}},
      {"longest run then a literal",
       [] {
         Bytes b(4095, 7);
         b.push_back(8);
         return b;
       }(),
       {0x40, 0x80, 0x00, 0x00, 0x0F, 0xEF, 7, 8}},
      // Literals "ab", then a copy of distance 2 and length 18, then a
      // literal: control bits 0 0 1 0.
      {"overlapping copy",
       Text("abababababababababab"
            "z"),
       {0x40, 0x20, 0x00, 'a', 'b', 0x00, 0x2F, 'z'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Compress(c.source), c.block);
    EXPECT_EQ(Decompress(c.block, c.source.size()), c.source);
  }
}

TEST(CompressorTest, RoundTripsRandomAndStructuredData) {
  const auto seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto pick = [&](size_t low, size_t high) {
    return std::uniform_int_distribution<size_t>(low, high)(random);
  };
  for (int round = 0; round < 200; ++round) {
    const size_t n = round < 20 ? round + 1 : pick(1, 65535);
    // Small alphabets give copies, runs of one byte give run items, and the
    // full alphabet gives stored blocks.
    const size_t alphabet = std::vector<size_t>{1, 2, 4, 16, 256}[pick(0, 4)];
    Bytes source;
    while (source.size() < n) {
      const auto byte = static_cast<uint8_t>(pick(0, alphabet - 1));
      const size_t repeat = pick(0, 3) == 0 ? pick(1, 5000) : 1;
      source.insert(source.end(), std::min(repeat, n - source.size()), byte);
    }
    const Bytes block = Compress(source);
    ASSERT_LE(block.size(), n + 1);
    ASSERT_EQ(Decompress(block, n), source) << "round " << round << " n " << n;
  }
}

TEST(CompressorTest, BadBlocksRaiseLzrwError) {
  struct Case {
    const char* name;
    Bytes block;
    size_t capacity;
  };
  const std::vector<Case> cases = {
      {"empty block", {}, 16},
      {"stored bytes beyond the capacity", {0x80, 1, 2, 3}, 2},
      {"control word cut short", {0x40, 0x80}, 16},
      {"copy before the start", {0x40, 0x80, 0x00, 0x00, 0x13}, 16},
      {"copy further back than produced", {0x40, 0x20, 0x00, 'a', 'b', 0x00, 0x30}, 64},
      {"copy cut short", {0x40, 0x80, 0x00, 0x00}, 16},
      {"copy beyond the capacity", {0x40, 0x40, 0x00, 'a', 0x00, 0x1F}, 10},
      {"run cut short", {0x40, 0x80, 0x00, 0x00, 0x00, 0x54}, 200},
      {"run beyond the capacity", {0x40, 0x80, 0x00, 0x00, 0x00, 0x54, 'Q'}, 99},
      {"literal beyond the capacity", {0x40, 0x00, 0x00, 'a', 'b', 'c'}, 2},
      {"next control word cut short",
       {0x40, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0x80},
       64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(c.capacity);
    try {
      DecompressBlock(c.block, out);
      ADD_FAILURE() << "no error";
    } catch (const EInvalidPointer& e) {
      EXPECT_EQ(e.Message(), "LZRW Error!");
    }
  }
}

TEST(CompressorTest, StreamsRoundTripInChunksWithTheirTotal) {
  for (const size_t size : {size_t{0}, size_t{1}, kCompressChunk, 3 * kCompressChunk + 17}) {
    SCOPED_TRACE(size);
    Bytes source(size);
    for (size_t i = 0; i < size; ++i) source[i] = static_cast<uint8_t>((i * i) >> 7);
    TMemoryStream in;
    in.WriteBuffer(source.data(), static_cast<int64_t>(size));
    in.SetPosition(0);
    TMemoryStream packed;
    WriteByte(packed, 0x55);  // the stream starts where the destination stands
    CompressStream(in, packed, static_cast<int64_t>(size));
    EXPECT_EQ(packed.Position(), packed.Size());

    packed.SetPosition(1);
    const int64_t total = ReadInteger(packed);
    EXPECT_EQ(total, packed.Size() - 5);
    int64_t blocks = 0;
    for (int64_t at = 5; at < packed.Size(); ++blocks) {
      packed.SetPosition(at);
      at += 4 + ReadInteger(packed);
    }
    EXPECT_EQ(blocks, static_cast<int64_t>((size + kCompressChunk - 1) / kCompressChunk));

    packed.SetPosition(1);
    TMemoryStream out;
    DecompressStream(packed, out);
    ASSERT_EQ(out.Size(), static_cast<int64_t>(size));
    EXPECT_EQ(
        Bytes(static_cast<uint8_t*>(out.Memory()), static_cast<uint8_t*>(out.Memory()) + size),
        source);
  }
}

TEST(CompressorTest, StreamLengthsBeyondTheBytesRaiseReadError) {
  const std::vector<Bytes> cases = {
      {0x0B, 0, 0, 0, 7, 0, 0, 0, 0x40, 0x80, 0x00},  // total past the end
      {0xFF, 0xFF, 0xFF, 0xFF},                       // negative total
      {0x08, 0, 0, 0, 9, 0, 0, 0, 0x80, 1, 2, 3},     // block past the total
      {0x08, 0, 0, 0, 0, 0, 0, 0, 0x80, 1, 2, 3},     // empty block
  };
  for (const Bytes& bytes : cases) {
    TMemoryStream in;
    in.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    in.SetPosition(0);
    TMemoryStream out;
    EXPECT_THROW(DecompressStream(in, out), EReadError);
  }
}

}  // namespace
}  // namespace jw
