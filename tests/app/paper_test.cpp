// The paper bitmaps the build draws for the ready folder.
#include <gtest/gtest.h>

#include "components/region_from_bitmap.h"
#include "platform/gui/bitmap.h"
#include "platform/rtl/file_names.h"

namespace jw {
namespace {

TEST(ShippedPaperTest, EveryPaperIsA24BitBitmapSurroundedByPureRed) {
  const std::vector<std::string> names = FindFiles(JW_PAPER_DIR, "*.bmp");
  ASSERT_GE(names.size(), 5u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    TBitmap bitmap;
    bitmap.LoadFromFile(std::string(JW_PAPER_DIR) + "/" + name);
    EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    const int w = bitmap.Width(), h = bitmap.Height();
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(bitmap.Canvas().Pixels(x, 0), clRed);
      EXPECT_EQ(bitmap.Canvas().Pixels(x, h - 1), clRed);
    }
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ(bitmap.Canvas().Pixels(0, y), clRed);
      EXPECT_EQ(bitmap.Canvas().Pixels(w - 1, y), clRed);
    }
    const std::optional<TRegion> region = RegionFromBitmap(&bitmap, clRed);
    ASSERT_TRUE(region.has_value());
    const TRect box = region->BoundingBox();
    EXPECT_GT(box.Width(), w / 2);
    EXPECT_GT(box.Height(), h / 2);
  }
}

}  // namespace
}  // namespace jw
