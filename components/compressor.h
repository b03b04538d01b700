// The kit's block compressor: byte-oriented LZ77 with run-length items and
// 16-bit control words, applied to whole streams in chunks.
//
// Block (one chunk of n source bytes, 1..65535):
//   0   1   method: 0x80 stored (the n bytes follow, block n + 1 long);
//           anything else is coded
//   1   2   control word, big-endian; its bits, MSB first, say for each of
//           the next 16 items: 0 literal, 1 copy or run. The next control
//           word sits where the 17th item would start.
//   items:  literal  1 byte
//           copy     2 bytes, big-endian w: distance w >> 4 (1..4095),
//                    length (w & 15) + 3 (3..18)
//           run      4 bytes 0x00, hi, lo, b: ((hi << 8) | lo) + 16 times b
// Stream:
//   0   4   T, little-endian int32: the length of what follows
//   then per chunk of at most 32781 source bytes: 4-byte block length c,
//   the c-byte block. T is the sum of c + 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace jw {

// Raised with "LZRW Error!" for a block that does not decode.
class EInvalidPointer : public Exception {
  using Exception::Exception;
};

// The coder may run this far past the source length before it falls back to
// a stored block.
inline constexpr size_t kCompressSlack = 6;
// The source bytes of one chunk of a compressed stream.
inline constexpr size_t kCompressChunk = 32781;

// Codes src (at most 65535 bytes) into dst, which must hold src.size() +
// kCompressSlack bytes; returns the block's length. Reads no byte outside
// src.
size_t CompressBlock(std::span<const uint8_t> src, std::span<uint8_t> dst);

// Decodes the block src into dst and returns the number of bytes written.
// Every item is checked against the end of src and of dst, and every copy
// against the bytes produced so far; a block that breaks any of them raises
// EInvalidPointer "LZRW Error!".
size_t DecompressBlock(std::span<const uint8_t> src, std::span<uint8_t> dst);

// Writes the compressed stream of the next count bytes of source at dest's
// position and leaves dest at its end. A source with fewer bytes raises
// EReadError.
void CompressStream(TStream& source, TStream& dest, int64_t count);

// Reads one compressed stream from source and writes the decoded bytes to
// dest. A total or block length that does not fit the stream raises
// EReadError "Stream read error"; a bad block raises "LZRW Error!".
void DecompressStream(TStream& source, TStream& dest);

}  // namespace jw
