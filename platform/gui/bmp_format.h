// The BMP file format, read and written in one place:
//
//   file header (14): "BM", u32 file size, u32 reserved, u32 offset of pixels
//   info header: u32 size 12 (core: u16 width, u16 height, u16 planes,
//     u16 bits) or 40 and longer (i32 width, i32 height, negative for rows
//     top-down, u16 planes = 1, u16 bits, u32 compression 0 = none, u32 image
//     size, i32 x and y pixels per metre, u32 colours used, u32 important)
//   palette: 2^bits entries or "colours used", blue, green, red (and a
//     spare byte unless the header is the core one)
//   pixels: rows bottom-up unless the height is negative, each padded to
//     4 bytes; 1, 4 and 8 bits index the palette, 24 bits are blue, green,
//     red, 32 bits blue, green, red, spare.
#pragma once

#include <QImage>
#include <string>

namespace jw {

// The image of a BMP file: Mono for 1 bit, Indexed8 for 4 and 8 bits, BGR888
// for 24 and RGB32 for 32 bits. A null image when the bytes are not an
// uncompressed BMP of those depths or are cut short.
QImage DecodeBmp(const std::string& bytes);

// A 24-bit bottom-up BMP file of the image.
std::string EncodeBmp24(const QImage& image);

}  // namespace jw
