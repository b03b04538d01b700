#include "platform/gui/bmp_format.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace jw {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kNoCompression = 0;
// Larger pictures are refused rather than allocated: a paper is a few
// hundred pixels and scaled ones stay within 8192 a side.
constexpr int64_t kMaxSide = 32768;
constexpr int64_t kMaxPixels = int64_t{1} << 28;

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8);
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

QImage DecodeBmp(const std::string& b) {
  if (b.size() < kFileHeaderSize + 4 || b[0] != 'B' || b[1] != 'M') return {};
  const uint64_t pixel_offset = U32(b, 10);
  const uint32_t header_size = U32(b, kFileHeaderSize);
  int64_t width = 0, height = 0;
  uint32_t planes = 0, bits = 0, compression = kNoCompression, colours_used = 0;
  size_t palette_entry = 4;
  if (header_size == kCoreHeaderSize) {
    if (b.size() < kFileHeaderSize + kCoreHeaderSize) return {};
    width = U16(b, 18);
    height = U16(b, 20);
    planes = U16(b, 22);
    bits = U16(b, 24);
    palette_entry = 3;
  } else if (header_size >= kInfoHeaderSize) {
    if (b.size() < kFileHeaderSize + kInfoHeaderSize) return {};
    width = static_cast<int32_t>(U32(b, 18));
    height = static_cast<int32_t>(U32(b, 22));
    planes = U16(b, 26);
    bits = U16(b, 28);
    compression = U32(b, 30);
    colours_used = U32(b, 46);
  } else {
    return {};
  }
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (planes != 1 || compression != kNoCompression) return {};
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
      width * height > kMaxPixels) {
    return {};
  }

  std::vector<QRgb> palette;
  if (bits <= 8) {
    const uint64_t max_colours = uint64_t{1} << bits;
    const uint64_t count = colours_used == 0 ? max_colours : colours_used;
    if (count > max_colours) return {};
    const uint64_t at = kFileHeaderSize + header_size;
    if (at + count * palette_entry > b.size()) return {};
    for (uint64_t i = 0; i < count; ++i) {
      const size_t p = static_cast<size_t>(at + i * palette_entry);
      palette.push_back(qRgb(static_cast<uint8_t>(b[p + 2]), static_cast<uint8_t>(b[p + 1]),
                             static_cast<uint8_t>(b[p])));
    }
    // Indices past the palette read as black.
    palette.resize(static_cast<size_t>(max_colours), qRgb(0, 0, 0));
  }

  const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  if (pixel_offset > b.size() || stride * static_cast<uint64_t>(height) > b.size() - pixel_offset) {
    return {};
  }

  const QImage::Format format = bits == 1    ? QImage::Format_Mono
                                : bits <= 8  ? QImage::Format_Indexed8
                                : bits == 24 ? QImage::Format_BGR888
                                             : QImage::Format_RGB32;
  QImage image(static_cast<int>(width), static_cast<int>(height), format);
  if (image.isNull()) return {};
  if (bits <= 8) image.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
  const size_t row_bytes = static_cast<size_t>((width * bits + 7) / 8);
  for (int64_t y = 0; y < height; ++y) {
    const int64_t file_row = top_down ? y : height - 1 - y;
    const char* src = b.data() + pixel_offset + static_cast<uint64_t>(file_row) * stride;
    uchar* dst = image.scanLine(static_cast<int>(y));
    if (bits == 4) {
      for (int64_t x = 0; x < width; ++x) {
        const uint8_t pair = static_cast<uint8_t>(src[x / 2]);
        dst[x] = (x % 2 == 0) ? pair >> 4 : pair & 0x0F;
      }
    } else {
      std::memcpy(dst, src, row_bytes);
    }
  }
  return image;
}

std::string EncodeBmp24(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_BGR888);
  const uint32_t width = static_cast<uint32_t>(image.width());
  const uint32_t height = static_cast<uint32_t>(image.height());
  const uint32_t stride = ((width * 24 + 31) / 32) * 4;
  const uint32_t pixel_offset = kFileHeaderSize + kInfoHeaderSize;
  std::string out;
  out.reserve(pixel_offset + stride * height);
  out += "BM";
  Put32(out, pixel_offset + stride * height);
  Put32(out, 0);
  Put32(out, pixel_offset);
  Put32(out, kInfoHeaderSize);
  Put32(out, width);
  Put32(out, height);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, kNoCompression);
  Put32(out, stride * height);
  Put32(out, 3780);  // 96 pixels per inch
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t row = 0; row < height; ++row) {
    const uchar* src = image.constScanLine(static_cast<int>(height - 1 - row));
    out.append(reinterpret_cast<const char*>(src), width * 3);
    out.append(stride - width * 3, '\0');
  }
  return out;
}

}  // namespace jw
