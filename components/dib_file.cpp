#include "components/dib_file.h"

#include <array>
#include <cstring>

#include "components/stream_records.h"

namespace jw {

namespace {

constexpr uint16_t kBmSignature = 0x4D42;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;

// The sixteen colours of a 4-bit display.
constexpr std::array<QRgb, 16> kColours16 = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFF808080,
    0xFFC0C0C0, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

// The image in the layout the bit count asks for: Mono, Indexed8 (with at
// most 16 colours for 4 bits) or BGR888.
QImage ImageForBits(const QImage& image, int bits) {
  switch (bits) {
    case 1:
      if (image.format() == QImage::Format_Mono) return image;
      return image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    case 4:
      if (image.format() == QImage::Format_Indexed8 && image.colorCount() <= 16) return image;
      return image.convertToFormat(QImage::Format_Indexed8,
                                   QList<QRgb>(kColours16.begin(), kColours16.end()),
                                   Qt::ThresholdDither);
    case 8:
      if (image.format() == QImage::Format_Indexed8) return image;
      return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    default:
      return image.convertToFormat(QImage::Format_BGR888);
  }
}

}  // namespace

int DibFormatCode(TKitSavePixelFormat format) {
  switch (format) {
    case TKitSavePixelFormat::spfMono:
      return kDibMono;
    case TKitSavePixelFormat::spf4bit:
      return kDib4Bit;
    case TKitSavePixelFormat::spf8bit:
      return kDib8Bit;
    default:
      return kDibBitmapStream;
  }
}

int DibBitCount(const TBitmap& bitmap, int format) {
  const TPixelFormat own = bitmap.PixelFormat();
  if (own == TPixelFormat::pf1bit || format == kDibMono) return 1;
  if (format == kDib4Bit) return 4;
  if (format == kDib8Bit) return 8;
  if (own == TPixelFormat::pf4bit) return 4;
  if (own == TPixelFormat::pf8bit) return 8;
  return 24;
}

void WriteDIB(TStream& stream, const TBitmap& bitmap, int format, bool with_length) {
  if (bitmap.Empty()) throw Exception("Bitmap image is not valid");
  const int bits = DibBitCount(bitmap, format);
  const QImage image = ImageForBits(bitmap.Image(), bits);
  const auto width = static_cast<uint32_t>(image.width());
  const auto height = static_cast<uint32_t>(image.height());
  const uint32_t stride = (width * static_cast<uint32_t>(bits) + 31) / 32 * 4;
  const uint32_t colours = bits == 24 ? 0 : 1u << bits;
  const uint32_t info_size = kInfoHeaderSize + 4 * colours;
  const uint32_t image_size = height * stride;

  TMemoryStream file;
  file.SetSize(kFileHeaderSize + info_size + image_size);
  file.SetPosition(0);
  WriteWord(file, kBmSignature);
  WriteInteger(file, static_cast<int32_t>(kFileHeaderSize + info_size + image_size));
  WriteInteger(file, 0);
  WriteInteger(file, static_cast<int32_t>(kFileHeaderSize + info_size));
  WriteInteger(file, static_cast<int32_t>(kInfoHeaderSize));
  WriteInteger(file, static_cast<int32_t>(width));
  WriteInteger(file, static_cast<int32_t>(height));
  WriteWord(file, 1);
  WriteWord(file, static_cast<uint16_t>(bits));
  WriteInteger(file, 0);
  WriteInteger(file, static_cast<int32_t>(image_size));
  // Resolution and colour counts stay 0.
  file.SetPosition(kFileHeaderSize + kInfoHeaderSize);
  const QList<QRgb> table = image.colorTable();
  for (uint32_t i = 0; i < colours; ++i) {
    const QRgb c = i < static_cast<uint32_t>(table.size()) ? table[i] : qRgb(0, 0, 0);
    const uint8_t entry[4] = {static_cast<uint8_t>(qBlue(c)), static_cast<uint8_t>(qGreen(c)),
                              static_cast<uint8_t>(qRed(c)), 0};
    file.WriteBuffer(entry, 4);
  }
  auto* rows = static_cast<uint8_t*>(file.Memory()) + kFileHeaderSize + info_size;
  for (uint32_t y = 0; y < height; ++y) {
    // Rows are stored bottom-up; the padding stays zero.
    const uchar* line = image.constScanLine(static_cast<int>(height - 1 - y));
    uint8_t* out = rows + static_cast<size_t>(y) * stride;
    if (bits == 4) {
      for (uint32_t x = 0; x < width; x += 2) {
        const uint8_t high = line[x] & 0x0F;
        const uint8_t low = x + 1 < width ? line[x + 1] & 0x0F : 0;
        out[x / 2] = static_cast<uint8_t>((high << 4) | low);
      }
    } else {
      const uint32_t row_bytes = (width * static_cast<uint32_t>(bits) + 7) / 8;
      std::memcpy(out, line, row_bytes);
      // The image keeps no promise about the bits past the last pixel.
      if (bits == 1 && width % 8 != 0)
        out[row_bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width % 8));
    }
  }
  if (with_length) WriteInteger(stream, static_cast<int32_t>(file.Size()));
  stream.WriteBuffer(file.Memory(), file.Size());
}

void BitmapToDIB(TMemoryStream& stream, const TBitmap& bitmap, int format) {
  stream.Clear();
  WriteDIB(stream, bitmap, format, false);
  stream.SetPosition(0);
}

}  // namespace jw
