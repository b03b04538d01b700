#include "components/kit_graphics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/kit_folders.h"
#include "platform/rtl/file_names.h"

namespace jw {
namespace {

// A 10 x 10 red bitmap whose top-left pixel is blue.
TBitmap& Marked(TBitmap& bitmap) {
  FillBitmap(&bitmap, Rect(0, 0, 10, 10), clRed);
  bitmap.Canvas().SetPixels(0, 0, clBlue);
  return bitmap;
}

// A white canvas of 40 x 40.
TBitmap& Blank(TBitmap& target) {
  FillBitmap(&target, Rect(0, 0, 40, 40), clWhite);
  return target;
}

// The canvas as rows of letters: w white, r red, b blue, g green, k black.
std::vector<std::string> Letters(TBitmap& target, int width, int height) {
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      switch (target.Canvas().Pixels(x, y)) {
        case clWhite:
          row += 'w';
          break;
        case clRed:
          row += 'r';
          break;
        case clBlue:
          row += 'b';
          break;
        case clLime:
          row += 'g';
          break;
        case clBlack:
          row += 'k';
          break;
        default:
          row += '?';
      }
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(KitGraphicsTest, FitRectKeepsTheAspectRatioAtTheCorner) {
  struct Case {
    TRect source, dest, fitted;
  };
  const std::vector<Case> cases = {
      {Rect(0, 0, 200, 100), Rect(10, 20, 60, 70), Bounds(10, 20, 50, 25)},
      {Rect(0, 0, 100, 200), Rect(0, 0, 60, 60), Bounds(0, 0, 30, 60)},
      {Rect(0, 0, 4, 1), Rect(0, 0, 10, 10), Bounds(0, 0, 10, 2)},  // 2.5 rounds to even
      {Rect(0, 0, 4, 3), Rect(5, 5, 15, 15), Bounds(5, 5, 10, 8)},  // 7.5 rounds to even
  };
  for (const Case& c : cases) EXPECT_EQ(FitRect(c.source, c.dest), c.fitted);
}

TEST(KitGraphicsTest, PlacementsPutTheBitmapWhereTheyPromise) {
  struct Case {
    const char* name;
    TRect dest;
    uint32_t flags;
    TRect placed;
    std::vector<TPoint> marks;  // where the blue corner pixel lands
    std::vector<TPoint> red;    // bitmap pixels
    std::vector<TPoint> white;  // untouched canvas
  };
  const std::vector<Case> cases = {
      {"plain",
       Rect(3, 4, 30, 30),
       0,
       Bounds(3, 4, 10, 10),
       {{3, 4}},
       {{12, 13}},
       {{13, 4}, {3, 14}}},
      {"centred",
       Rect(0, 0, 25, 25),
       kDrawCentre,
       Bounds(7, 7, 10, 10),
       {{7, 7}},
       {{16, 16}},
       {{6, 6}, {17, 17}}},
      {"stretched",
       Rect(0, 0, 20, 30),
       kDrawStretch,
       Rect(0, 0, 20, 30),
       {{0, 0}, {1, 2}},
       {{2, 0}, {19, 29}},
       {{20, 0}, {0, 30}}},
      {"stretched by width",
       Rect(0, 0, 20, 30),
       kDrawStretch | kDrawScaleHeight,
       Bounds(0, 0, 20, 20),
       {{1, 1}},
       {{19, 19}},
       {{0, 20}}},
      {"stretched by height",
       Rect(0, 0, 30, 20),
       kDrawStretch | kDrawScaleWidth,
       Bounds(0, 0, 20, 20),
       {{1, 1}},
       {{19, 19}},
       {{20, 0}}},
      {"fitted",
       Rect(0, 0, 30, 20),
       kDrawStretch | kDrawScaleWidth | kDrawScaleHeight,
       Bounds(0, 0, 20, 20),
       {{1, 1}},
       {{19, 19}},
       {{20, 0}}},
      {"tiled and cut at the edges",
       Rect(0, 0, 25, 25),
       kDrawTile,
       Rect(0, 0, 25, 25),
       {{0, 0}, {10, 0}, {20, 0}, {0, 20}, {20, 20}},
       {{24, 24}, {19, 9}},
       {{25, 0}, {0, 25}, {25, 25}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap, target;
    Marked(bitmap);
    Blank(target);
    TRect placed;
    DrawBitmap(target.Canvas(), c.dest, bitmap, placed, clNone, c.flags);
    EXPECT_EQ(placed, c.placed);
    for (const TPoint& p : c.marks)
      EXPECT_EQ(target.Canvas().Pixels(p.X, p.Y), clBlue) << p.X << "," << p.Y;
    for (const TPoint& p : c.red)
      EXPECT_EQ(target.Canvas().Pixels(p.X, p.Y), clRed) << p.X << "," << p.Y;
    for (const TPoint& p : c.white)
      EXPECT_EQ(target.Canvas().Pixels(p.X, p.Y), clWhite) << p.X << "," << p.Y;
  }
  TBitmap bitmap, target;
  TRect placed = Rect(1, 1, 2, 2);
  DrawBitmap(Blank(target).Canvas(), Rect(5, 5, 5, 9), Marked(bitmap), placed, clNone, 0);
  EXPECT_TRUE(placed.IsEmpty());
  EXPECT_EQ(target.Canvas().Pixels(5, 5), clWhite);
}

TEST(KitGraphicsTest, TransparencyKindsByPixel) {
  // Two columns of red, two of blue, two rows high; the canvas is green.
  TBitmap bitmap;
  FillBitmap(&bitmap, Rect(0, 0, 4, 2), clRed);
  bitmap.Canvas().Brush().SetColor(clBlue);
  bitmap.Canvas().FillRect(Rect(2, 0, 4, 2));
  TBitmap mask;
  FillBitmap(&mask, Rect(0, 0, 4, 2), clBlack);
  mask.Canvas().SetPixels(1, 0, clWhite);
  mask.Canvas().SetPixels(2, 1, clWhite);
  struct Case {
    const char* name;
    uint32_t flags;
    TColor color;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"opaque", 0, clLime, {"rrbb", "rrbb"}},
      {"colour mask", kDrawColorMask, clRed, {"ggbb", "ggbb"}},
      {"mask bitmap", kDrawMasked, clNone, {"rgbb", "rrgb"}},
      {"brush copy of the bottom-left colour", kDrawBrushCopy, clBlack, {"kkbb", "kkbb"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap target;
    FillBitmap(&target, Rect(0, 0, 4, 2), clLime);
    DrawBitmapPart(target.Canvas(), Rect(0, 0, 4, 2), bitmap, Rect(0, 0, 4, 2), &mask, c.color,
                   c.flags);
    EXPECT_EQ(Letters(target, 4, 2), c.rows);
  }
}

TEST(KitGraphicsTest, ClippedDrawingStaysInsideTheMovedRectangle) {
  TBitmap bitmap, target;
  Marked(bitmap);
  Blank(target);
  // Offset x 5, y -3: the clip is the destination moved right and up.
  const int32_t offset = 5 | static_cast<int32_t>(0xFFFDu << 16);
  DrawBitmapClipped(target.Canvas(), Rect(0, 10, 10, 20), bitmap, clNone, offset,
                    kDrawClip | kDrawStretch);
  EXPECT_EQ(Letters(target, 12, 1)[0], std::string(12, 'w'));
  EXPECT_EQ(Letters(target, 12, 18)[16], "wwwwwrrrrrww");
  EXPECT_EQ(Letters(target, 12, 18)[17], std::string(12, 'w'));
}

TEST(KitGraphicsTest, ABitmapWithItsPenAtMinusOneIsNotDrawn) {
  for (const int pen_x : {-1, 0, -2}) {
    SCOPED_TRACE(pen_x);
    const bool drawn = pen_x != -1;
    TBitmap bitmap, target;
    Marked(bitmap).Canvas().MoveTo(pen_x, 3);
    TRect placed = Rect(1, 1, 2, 2);
    DrawBitmap(Blank(target).Canvas(), Rect(0, 0, 20, 20), bitmap, placed, clNone, 0);
    EXPECT_EQ(placed, drawn ? Rect(0, 0, 10, 10) : TRect{});
    EXPECT_EQ(target.Canvas().Pixels(0, 0), drawn ? clBlue : clWhite);
    DrawBitmapClipped(target.Canvas(), Rect(20, 20, 30, 30), bitmap, clNone, 0, kDrawClip);
    EXPECT_EQ(target.Canvas().Pixels(20, 20), drawn ? clBlue : clWhite);
  }
}

TEST(KitGraphicsTest, ColorMaskBlackensTheTransparentPixels) {
  TBitmap source;
  FillBitmap(&source, Rect(0, 0, 6, 3), clBlue);
  source.Canvas().SetPixels(2, 1, clRed);
  source.Canvas().SetPixels(4, 1, clRed);
  TBitmap mask, image;
  MakeColorMask(source.Canvas(), Rect(1, 1, 5, 2), mask, clRed, image);
  EXPECT_EQ(Letters(image, 4, 1)[0], "bkbk");
  EXPECT_EQ(mask.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(Letters(mask, 4, 1)[0], "kwkw");
}

TEST(KitFoldersTest, SeparatorsPrefixesAndExtensions) {
  const std::vector<std::pair<std::string, std::string>> add = {
      {"", "/"}, {"  ", "/"}, {"a", "a/"}, {"a/", "a/"}};
  for (const auto& [in, out] : add) EXPECT_EQ(AddBackslash(in), out) << in;
  const std::vector<std::pair<std::string, std::string>> remove = {
      {"", ""}, {"  ", "  "}, {"a/", "a"}, {"a//", "a/"}, {"a", "a"}};
  for (const auto& [in, out] : remove) EXPECT_EQ(RemoveBackslash(in), out) << in;
  EXPECT_EQ(PrefixFolder(TKitPathPrefix::ppProgram, true), ExecutableFolder());
  EXPECT_EQ(PrefixFolder(TKitPathPrefix::ppProgram, false) + "/", ExecutableFolder());
  EXPECT_EQ(PrefixFolder(TKitPathPrefix::ppFixed, true), "");
  EXPECT_EQ(ContainerExtension(TKitContainerKind::ckImageList, true), ".iml");
  EXPECT_EQ(ContainerExtension(TKitContainerKind::ckRichTextList, false), "rtf");
  EXPECT_EQ(ContainerExtension(static_cast<TKitContainerKind>(5), true), "");
}

}  // namespace
}  // namespace jw
