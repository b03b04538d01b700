#include "platform/gui/bitmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/gui/bmp_format.h"

namespace jw {
namespace {

void Put(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A BMP file written by hand: palette entries (blue, green, red), rows
// bottom-up as given (top row first in rows), each row's bytes unpadded.
std::string PaletteBmp(int width, int bits, const std::vector<uint32_t>& palette_rgb,
                       const std::vector<std::string>& rows_top_first) {
  const int height = static_cast<int>(rows_top_first.size());
  const int stride = ((width * bits + 31) / 32) * 4;
  const int offset = 14 + 40 + 4 * static_cast<int>(palette_rgb.size());
  std::string out = "BM";
  Put(out, offset + stride * height, 4);
  Put(out, 0, 4);
  Put(out, offset, 4);
  Put(out, 40, 4);
  Put(out, width, 4);
  Put(out, height, 4);
  Put(out, 1, 2);
  Put(out, bits, 2);
  Put(out, 0, 4);
  Put(out, stride * height, 4);
  Put(out, 0, 4);
  Put(out, 0, 4);
  Put(out, palette_rgb.size(), 4);
  Put(out, 0, 4);
  for (uint32_t rgb : palette_rgb) {
    out.push_back(static_cast<char>(rgb & 0xFF));          // blue
    out.push_back(static_cast<char>((rgb >> 8) & 0xFF));   // green
    out.push_back(static_cast<char>((rgb >> 16) & 0xFF));  // red
    out.push_back(0);
  }
  for (int y = height - 1; y >= 0; --y) {
    std::string row = rows_top_first[y];
    row.resize(stride, '\0');
    out += row;
  }
  return out;
}

// The 24-bit picture the palette twins below show: red, white, blue over
// green, red, red.
QImage Expected() {
  QImage image(3, 2, QImage::Format_RGB32);
  image.setPixel(0, 0, qRgb(255, 0, 0));
  image.setPixel(1, 0, qRgb(255, 255, 255));
  image.setPixel(2, 0, qRgb(0, 0, 255));
  image.setPixel(0, 1, qRgb(0, 255, 0));
  image.setPixel(1, 1, qRgb(255, 0, 0));
  image.setPixel(2, 1, qRgb(255, 0, 0));
  return image;
}

void ExpectSamePixels(TBitmap& bitmap, const QImage& expected) {
  ASSERT_EQ(bitmap.Width(), expected.width());
  ASSERT_EQ(bitmap.Height(), expected.height());
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      const QRgb e = expected.pixel(x, y);
      EXPECT_EQ(bitmap.Canvas().Pixels(x, y), RGB(qRed(e), qGreen(e), qBlue(e))) << x << "," << y;
    }
  }
}

TEST(BmpLoading, TwentyFourBitScanLinesAreBlueGreenRed) {
  TBitmap bitmap;
  bitmap.LoadFromBytes(EncodeBmp24(Expected()));
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
  const uint8_t* row = bitmap.ScanLine(0);
  // Red, white, blue.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(row), 9),
            std::string("\x00\x00\xFF\xFF\xFF\xFF\xFF\x00\x00", 9));
  // b0 * 65536 + b1 * 256 + b2 of a pure red pixel is the TColor clRed.
  EXPECT_EQ(row[0] * 65536 + row[1] * 256 + row[2], clRed);
  ExpectSamePixels(bitmap, Expected());
}

TEST(BmpLoading, EightBitTwinShowsTheSamePixels) {
  TBitmap bitmap;
  bitmap.LoadFromBytes(
      PaletteBmp(3, 8, {0xFF0000, 0xFFFFFF, 0x0000FF, 0x00FF00},
                 {std::string("\x00\x01\x02", 3), std::string("\x03\x00\x00", 3)}));
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
  ExpectSamePixels(bitmap, Expected());
}

TEST(BmpLoading, OneBitIsMostSignificantBitFirst) {
  // Bits 1 0 1 on the top row, 0 1 1 below: palette 0 green, 1 red.
  TBitmap bitmap;
  bitmap.LoadFromBytes(PaletteBmp(3, 1, {0x00FF00, 0xFF0000}, {"\xA0", "\x60"}));
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(bitmap.ScanLine(0)[0] & 0xE0, 0xA0);
  EXPECT_EQ(bitmap.Canvas().Pixels(0, 0), clRed);
  EXPECT_EQ(bitmap.Canvas().Pixels(1, 0), clLime);
  EXPECT_EQ(bitmap.Canvas().Pixels(2, 0), clRed);
  EXPECT_EQ(bitmap.Canvas().Pixels(0, 1), clLime);
  EXPECT_EQ(bitmap.Canvas().Pixels(1, 1), clRed);
}

TEST(BmpLoading, TopDownRowsAreReadInOrder) {
  std::string bytes = EncodeBmp24(Expected());
  // Negate the height and swap the two 12-byte rows.
  const int32_t height = -2;
  std::memcpy(&bytes[22], &height, 4);
  std::string rows = bytes.substr(54);
  bytes = bytes.substr(0, 54) + rows.substr(12, 12) + rows.substr(0, 12);
  TBitmap bitmap;
  bitmap.LoadFromBytes(bytes);
  ExpectSamePixels(bitmap, Expected());
}

TEST(BmpLoading, RefusesWhatIsNotAnUncompressedBmp) {
  const std::string good = EncodeBmp24(Expected());
  std::string rle = good;
  rle[30] = 1;
  std::string sixteen = good;
  sixteen[28] = 16;
  std::string wide = good;
  wide[21] = 0x7F;  // width near 2^31
  const std::pair<const char*, std::string> cases[] = {
      {"PNG signature", "\x89PNG\r\n\x1a\n" + good.substr(8)},
      {"empty", ""},
      {"cut short", good.substr(0, good.size() - 1)},
      {"header only", good.substr(0, 54)},
      {"RLE", rle},
      {"16 bits", sixteen},
      {"huge width", wide},
  };
  for (const auto& [what, bytes] : cases) {
    TBitmap bitmap;
    try {
      bitmap.LoadFromBytes(bytes);
      ADD_FAILURE() << what << " was accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Bitmap image is not valid") << what;
    }
    EXPECT_TRUE(bitmap.Empty()) << what;
  }
}

// A folder is no file: it is not read (as one it would claim 2^63 - 1
// bytes).
TEST(BmpLoading, MissingFileOrAFolderRaisesOpenError) {
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadFromFile("/nonexistent/paper.bmp"), EFOpenError);
  EXPECT_THROW(bitmap.LoadFromFile(std::filesystem::temp_directory_path().string()), EFOpenError);
  EXPECT_THROW(bitmap.LoadFromFile(std::filesystem::temp_directory_path().string() + "/"),
               EFOpenError);
}

TEST(BmpSaving, SaveThenLoadKeepsEveryPixel) {
  TBitmap bitmap;
  bitmap.LoadFromBytes(EncodeBmp24(Expected()));
  const std::string path = ::testing::TempDir() + "/saved.bmp";
  bitmap.SaveToFile(path);
  TBitmap back;
  back.LoadFromFile(path);
  std::remove(path.c_str());
  ExpectSamePixels(back, Expected());
}

TEST(BitmapMask, PixelsOfTheColourBecomeSetBits) {
  TBitmap bitmap;
  bitmap.LoadFromBytes(EncodeBmp24(Expected()));
  bitmap.Mask(clRed);
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(bitmap.ScanLine(0)[0] & 0xE0, 0x80);  // red, white, blue
  EXPECT_EQ(bitmap.ScanLine(1)[0] & 0xE0, 0x60);  // green, red, red
}

TEST(BitmapCanvas, StretchDrawKeepsPureColours) {
  TBitmap source;
  source.SetSize(2, 2);
  source.Canvas().Brush().SetColor(clRed);
  source.Canvas().FillRect(Rect(0, 0, 2, 2));
  source.Canvas().SetPixels(1, 1, clWhite);
  TBitmap target;
  target.SetSize(5, 5);
  target.Canvas().StretchDraw(Rect(0, 0, 5, 5), source);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      const TColor c = target.Canvas().Pixels(x, y);
      EXPECT_TRUE(c == clRed || c == clWhite) << x << "," << y << " " << std::hex << c;
    }
  }
  EXPECT_EQ(target.Canvas().Pixels(0, 0), clRed);
  EXPECT_EQ(target.Canvas().Pixels(4, 4), clWhite);
  EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf24bit);
}

// Where the dark pixels of a text lie, relative to its anchor.
TRect InkBox(int orientation) {
  TBitmap bitmap;
  bitmap.SetSize(200, 200);
  bitmap.Canvas().Brush().SetColor(clWhite);
  bitmap.Canvas().FillRect(Rect(0, 0, 200, 200));
  bitmap.Canvas().Brush().SetStyle(TBrushStyle::bsClear);
  bitmap.Canvas().Font().SetColor(clBlack);
  bitmap.Canvas().Font().SetSize(12);
  bitmap.Canvas().Font().SetOrientation(orientation);
  bitmap.Canvas().TextOut(100, 100, "MMMM");
  TRect box{1000, 1000, -1000, -1000};
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      if (GetRValue(bitmap.Canvas().Pixels(x, y)) < 128) {
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
               std::max(box.Bottom, y + 1)};
      }
    }
  }
  return box;
}

TEST(CanvasText, AnchoredTopLeftAndTurnedCounterClockwise) {
  const TRect flat = InkBox(0);
  EXPECT_GE(flat.Left, 100);
  EXPECT_GE(flat.Top, 100);
  EXPECT_GT(flat.Width(), flat.Height());
  // At 90 degrees the text runs upward from the anchor, its cell to the right.
  const TRect up = InkBox(900);
  EXPECT_GE(up.Left, 100);
  EXPECT_LE(up.Bottom, 100);
  EXPECT_GT(up.Height(), up.Width());
}

TEST(CanvasText, MeasuresWithTheFont) {
  TBitmap bitmap;
  TCanvas& canvas = bitmap.Canvas();
  canvas.Font().SetSize(12);
  const int small = canvas.TextWidth("hello");
  canvas.Font().SetSize(24);
  EXPECT_GT(canvas.TextWidth("hello"), small);
  EXPECT_EQ(canvas.TextWidth(""), 0);
  EXPECT_GT(canvas.TextHeight("Mg"), 24);
}

}  // namespace
}  // namespace jw
