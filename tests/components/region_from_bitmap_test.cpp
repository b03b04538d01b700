#include "components/region_from_bitmap.h"

#include <memory>

#include <gtest/gtest.h>

#include "tests/components/bmp_bytes.h"

namespace jw {
namespace {

using test_support::BmpBytes;

constexpr TColor R = clRed;
constexpr TColor W = clWhite;
constexpr TColor B = clBlue;

std::unique_ptr<TBitmap> BitmapOf(const std::vector<std::vector<TColor>>& rows, int bits = 24) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->LoadFromBytes(BmpBytes(rows, bits));
  return bitmap;
}

std::vector<TRect> RectsOf(const std::optional<TRegion>& region) {
  return region ? region->Rects() : std::vector<TRect>{};
}

TEST(RegionFromBitmapTest, NoBitmapOrNoPixelsGivesNoRegion) {
  EXPECT_FALSE(RegionFromBitmap(nullptr, clRed));
  TBitmap empty;
  EXPECT_FALSE(RegionFromBitmap(&empty, clRed));
  auto all_red = BitmapOf({{R, R, R}, {R, R, R}});
  EXPECT_FALSE(RegionFromBitmap(all_red.get(), clRed));
}

TEST(RegionFromBitmapTest, RunsEndAtATransparentPixelAndAtTheRightEdge) {
  auto bitmap = BitmapOf({
      {W, W, R, W},  // a run ending at red, another at the right edge
      {R, B, B, R},
      {R, R, R, R},  // fully transparent row
      {W, W, W, W},
  });
  EXPECT_EQ(
      RectsOf(RegionFromBitmap(bitmap.get(), clRed)),
      (std::vector<TRect>{Rect(0, 0, 2, 1), Rect(3, 0, 4, 1), Rect(1, 1, 3, 2), Rect(0, 3, 4, 4)}));
}

TEST(RegionFromBitmapTest, TheColourIsReadAsBlueGreenRedBytes) {
  // Only pure red (blue 0, green 0, red 255) is left out, not pure blue.
  auto bitmap = BitmapOf({{B, R}});
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)), (std::vector<TRect>{Rect(0, 0, 1, 1)}));
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clBlue)),
            (std::vector<TRect>{Rect(1, 0, 2, 1)}));
}

TEST(RegionFromBitmapTest, PaletteAndOneBitPicturesGiveTheRegionOfTheir24BitTwin) {
  // 9 pixels wide, so the 1-bit rows cross a byte boundary.
  const std::vector<std::vector<TColor>> rows = {
      {R, W, W, R, R, W, W, W, W},
      {W, R, R, R, R, R, R, R, W},
      {R, R, R, R, R, R, R, R, R},
      {W, W, W, W, W, W, W, W, R},
  };
  auto bits24 = BitmapOf(rows, 24);
  const std::optional<TRegion> expected = RegionFromBitmap(bits24.get(), clRed);
  ASSERT_TRUE(expected);
  for (int bits : {8, 1}) {
    auto bitmap = BitmapOf(rows, bits);
    ASSERT_NE(bitmap->PixelFormat(), TPixelFormat::pf24bit) << bits;
    EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)), expected->Rects()) << bits;
  }
}

TEST(RegionFromBitmapTest, TheSourceBitmapIsLeftUnchanged) {
  auto bitmap = BitmapOf({{R, W}, {W, R}}, 8);
  RegionFromBitmap(bitmap.get(), clRed);
  EXPECT_EQ(bitmap->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(bitmap->Canvas().Pixels(0, 0), clRed);
}

// Outlines are remembered by picture, so pictures that share pixels trace
// once; a picture changed since, through its canvas, its scan lines or a new
// size, gives the outline of its new pixels, and the copy that still shares
// the old pixels keeps the old outline.
TEST(RegionFromBitmapTest, AChangedPictureGivesItsNewOutline) {
  auto bitmap = BitmapOf({{W, W, R}, {R, W, W}});
  TBitmap shared;
  shared.Assign(bitmap.get());
  const std::vector<TRect> before{Rect(0, 0, 2, 1), Rect(1, 1, 3, 2)};
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)), before);
  EXPECT_EQ(RectsOf(RegionFromBitmap(&shared, clRed)), before);

  bitmap->Canvas().SetPixels(0, 0, clRed);
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)),
            (std::vector<TRect>{Rect(1, 0, 2, 1), Rect(1, 1, 3, 2)}));
  uint8_t* line = bitmap->ScanLine(1);
  line[0] = 255;  // blue, green, red: white again
  line[1] = 255;
  line[2] = 255;
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)),
            (std::vector<TRect>{Rect(1, 0, 2, 1), Rect(0, 1, 3, 2)}));
  bitmap->SetSize(1, 1);
  EXPECT_EQ(RectsOf(RegionFromBitmap(bitmap.get(), clRed)), std::vector<TRect>{});
  EXPECT_EQ(RectsOf(RegionFromBitmap(&shared, clRed)), before);
}

}  // namespace
}  // namespace jw
