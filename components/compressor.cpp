#include "components/compressor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "components/stream_records.h"

namespace jw {

namespace {

constexpr uint8_t kCoded = 0x40;
constexpr uint8_t kStored = 0x80;
constexpr size_t kHeaderSize = 3;  // method and first control word
constexpr int kItemsPerControl = 16;
constexpr size_t kHashSize = 4096;
constexpr uint16_t kHashEmpty = 0xFFFF;
constexpr size_t kMaxDistance = 4095;
constexpr size_t kMinCopy = 3;
constexpr size_t kMaxCopy = 18;
constexpr size_t kMinRun = 16;
constexpr size_t kMaxRun = 4095;
// The longest block a chunk can give: stored, one method byte more.
constexpr size_t kMaxChunkBlock = kCompressChunk + 1;

[[noreturn]] void BadBlock() {
  throw EInvalidPointer("LZRW Error!");
}

[[noreturn]] void BadStream() {
  throw EReadError("Stream read error");
}

void PutWord(std::span<uint8_t> dst, size_t at, uint16_t word) {
  dst[at] = static_cast<uint8_t>(word >> 8);
  dst[at + 1] = static_cast<uint8_t>(word & 0xFF);
}

// The number of bytes from p on that equal src[p], at most kMaxRun.
size_t RunLength(std::span<const uint8_t> src, size_t p) {
  size_t r = 1;
  while (r < kMaxRun && p + r < src.size() && src[p + r] == src[p]) ++r;
  return r;
}

// The hash of the three bytes at p; only called with three bytes left.
size_t Hash(std::span<const uint8_t> src, size_t p) {
  const uint32_t h = (((static_cast<uint32_t>(src[p]) << 4) ^ src[p + 1]) << 4) ^ src[p + 2];
  return ((h * 40543u) >> 4) & (kHashSize - 1);
}

}  // namespace

size_t CompressBlock(std::span<const uint8_t> src, std::span<uint8_t> dst) {
  const size_t n = src.size();
  if (n > std::numeric_limits<uint16_t>::max() || dst.size() < n + kCompressSlack) {
    throw EInvalidPointer("LZRW Error!");
  }
  std::array<uint16_t, kHashSize> table;
  table.fill(kHashEmpty);
  dst[0] = kCoded;
  size_t control_at = 1;
  size_t out = kHeaderSize;
  size_t p = 0;
  int items = 0;
  uint16_t control = 0;
  // Each pass writes at most a control word and a run, so stopping once the
  // output passes n keeps it within n + kCompressSlack.
  while (p < n && out <= n) {
    if (items == kItemsPerControl) {
      PutWord(dst, control_at, control);
      control_at = out;
      out += 2;
      items = 0;
    }
    const size_t run = RunLength(src, p);
    size_t match_length = 0;
    size_t distance = 0;
    if (run < kMinRun && p + kMinCopy <= n) {
      // Positions with fewer than three bytes left cannot start a copy, and
      // hashing them would read past the source.
      const size_t h = Hash(src, p);
      const uint16_t entry = table[h];
      if (entry != kHashEmpty && p - entry <= kMaxDistance) {
        size_t length = 0;
        while (length < kMaxCopy && p + length < n && src[p + length] == src[entry + length]) {
          ++length;
        }
        if (length >= kMinCopy) {
          match_length = length;
          distance = p - entry;
        }
      }
      table[h] = static_cast<uint16_t>(p);
    }
    control = static_cast<uint16_t>(control << 1);
    if (run >= kMinRun) {
      dst[out] = 0;
      dst[out + 1] = static_cast<uint8_t>((run - kMinRun) >> 8);
      dst[out + 2] = static_cast<uint8_t>((run - kMinRun) & 0xFF);
      dst[out + 3] = src[p];
      out += 4;
      p += run;
      control |= 1;
    } else if (match_length != 0) {
      PutWord(dst, out, static_cast<uint16_t>((distance << 4) + (match_length - kMinCopy)));
      out += 2;
      p += match_length;
      control |= 1;
    } else {
      dst[out++] = src[p++];
    }
    ++items;
  }
  control = static_cast<uint16_t>(control << (kItemsPerControl - items));
  PutWord(dst, control_at, control);
  if (out > n) {
    if (n != 0) std::memcpy(&dst[1], src.data(), n);
    dst[0] = kStored;
    return n + 1;
  }
  return out;
}

size_t DecompressBlock(std::span<const uint8_t> src, std::span<uint8_t> dst) {
  const size_t c = src.size();
  if (c == 0) BadBlock();
  if (src[0] == kStored) {
    if (c - 1 > dst.size()) BadBlock();
    if (c > 1) std::memcpy(dst.data(), &src[1], c - 1);
    return c - 1;
  }
  size_t in = 1;
  size_t out = 0;
  uint16_t control = 0;
  int bits = 0;
  while (in < c) {
    if (bits == 0) {
      if (c - in < 2) BadBlock();
      control = static_cast<uint16_t>((src[in] << 8) | src[in + 1]);
      in += 2;
      bits = kItemsPerControl;
      // A control word at the very end stands for no items.
      if (in == c) break;
    }
    if ((control & 0x8000) != 0) {
      if (c - in < 2) BadBlock();
      const size_t a = src[in];
      const size_t b = src[in + 1];
      const size_t distance = (a << 4) | (b >> 4);
      if (distance != 0) {
        const size_t length = (b & 15) + kMinCopy;
        if (distance > out || length > dst.size() - out) BadBlock();
        // One byte at a time: an overlapping copy repeats its pattern.
        for (size_t k = 0; k < length; ++k, ++out) dst[out] = dst[out - distance];
        in += 2;
      } else {
        if (c - in < 4) BadBlock();
        const size_t length = ((b << 8) | src[in + 2]) + kMinRun;
        if (length > dst.size() - out) BadBlock();
        std::memset(&dst[out], src[in + 3], length);
        out += length;
        in += 4;
      }
    } else {
      if (out == dst.size()) BadBlock();
      dst[out++] = src[in++];
    }
    control = static_cast<uint16_t>(control << 1);
    --bits;
  }
  return out;
}

void CompressStream(TStream& source, TStream& dest, int64_t count) {
  const int64_t start = dest.Position();
  WriteInteger(dest, 0);
  std::vector<uint8_t> chunk(kCompressChunk);
  std::vector<uint8_t> block(kCompressChunk + kCompressSlack);
  int64_t total = 0;
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, kCompressChunk));
    source.ReadBuffer(chunk.data(), static_cast<int64_t>(n));
    const size_t length = CompressBlock(std::span(chunk.data(), n), block);
    WriteInteger(dest, static_cast<int32_t>(length));
    dest.WriteBuffer(block.data(), static_cast<int64_t>(length));
    total += static_cast<int64_t>(length) + 4;
    if (total > std::numeric_limits<int32_t>::max()) throw EWriteError("Stream write error");
    count -= static_cast<int64_t>(n);
  }
  dest.SetPosition(start);
  WriteInteger(dest, static_cast<int32_t>(total));
  dest.Seek(0, soFromEnd);
}

void DecompressStream(TStream& source, TStream& dest) {
  int64_t total = ReadInteger(source);
  if (total < 0 || total > source.Size() - source.Position()) BadStream();
  std::vector<uint8_t> block(kMaxChunkBlock);
  std::vector<uint8_t> chunk(kCompressChunk);
  while (total > 0) {
    const int64_t length = ReadInteger(source);
    if (length < 1 || length + 4 > total) BadStream();
    if (static_cast<size_t>(length) > kMaxChunkBlock) BadBlock();
    source.ReadBuffer(block.data(), length);
    const size_t n = DecompressBlock(std::span(block.data(), static_cast<size_t>(length)), chunk);
    dest.WriteBuffer(chunk.data(), static_cast<int64_t>(n));
    total -= length + 4;
  }
}

}  // namespace jw
