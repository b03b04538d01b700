// The device-independent bitmap file that the kit's bitmap records hold:
//
//   0   14  file header: u16 "BM" 0x4D42, u32 file size (14 + info size +
//           image size), u16 0, u16 0, u32 offset of the bits (14 + info size)
//   14  40  info header: u32 40, i32 width, i32 height (rows bottom-up),
//           u16 planes 1, u16 bits per pixel, u32 compression 0, u32 image
//           size = height * ((width * bits + 31) / 32 * 4), then 4 x u32 0
//   54      colour table of 2^bits entries blue, green, red, 0 (none for 24
//           bits), so the info size is 40 or 40 + 4 * 2^bits
//   then    the rows, bottom-up, each padded to 4 bytes
// All integers are little-endian.
#pragma once

#include <cstdint>

#include "platform/gui/bitmap.h"
#include "platform/rtl/streams.h"

namespace jw {

// The pixel format a bitmap is saved in: its own (0, or -1 for the bitmap's
// own stream form, which is the same file), 1 bit (2), 4 bits (16) or 8 bits
// (256).
enum class TKitSavePixelFormat { spfDefault, spfMono, spf4bit, spf8bit };
inline constexpr int kDibOwnFormat = 0;
inline constexpr int kDibBitmapStream = -1;
inline constexpr int kDibMono = 2;
inline constexpr int kDib4Bit = 16;
inline constexpr int kDib8Bit = 256;

// The format code of a save pixel format.
int DibFormatCode(TKitSavePixelFormat format);

// The bits per pixel that format code gives for bitmap: 1, 4, 8 or 24. A
// monochrome bitmap always gives 1; 16 and 32 bits become 24.
int DibBitCount(const TBitmap& bitmap, int format);

// Writes the DIB file of bitmap, preceded by its 4-byte length when
// with_length is set. An empty bitmap raises Exception "Bitmap image is not
// valid".
void WriteDIB(TStream& stream, const TBitmap& bitmap, int format, bool with_length);

// The DIB file in a memory stream, rewound.
void BitmapToDIB(TMemoryStream& stream, const TBitmap& bitmap, int format);

}  // namespace jw
