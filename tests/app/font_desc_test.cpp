#include "app/font_desc.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

#include "app/str_lib.h"
#include "platform/gui/bitmap.h"

namespace jw {
namespace {

TEST(FontToDescTest, JoinsNameSizeColourAndStylesInOrder) {
  TFont font;
  font.SetName("Arial");
  font.SetSize(12);
  font.SetColor(clBlack);
  font.SetStyle(fsBold);
  EXPECT_EQ(FontToDesc(font), "Arial,12,0,fsBold");
  font.SetStyle(fsStrikeOut | fsUnderline | fsItalic | fsBold);
  font.SetColor(clWindowText);
  EXPECT_EQ(FontToDesc(font), "Arial,12,-2147483640,fsBold,fsItalic,fsUnderline,fsStrikeout");
}

TEST(DescToFontTest, ReadsTheDescriptionTable) {
  const struct {
    const char* desc;
    const char* name;
    int size;
    TColor color;
    TFontStyles style;
  } cases[] = {
      {"Arial,12,0,fsBold", "Arial", 12, 0, fsBold},
      {"Arial,4,255", "Arial", 6, 255, 0},
      {",", "", 6, 0, 0},
      {"DejaVu Sans", "DejaVu Sans", 6, 0, 0},
      {",,Courier,,10,,16711680,fsItalic,fsStrikeout", "Courier", 10, 0xFF0000,
       fsItalic | fsStrikeOut},
      {"Arial, 14 ,x", "Arial", 14, 0, 0},
      {"Arial,99999,0", "Arial", 1000, 0, 0},
      {"Arial,-5,-2147483640", "Arial", 6, clWindowText, 0},
      {"Arial,12,0,fsbold,xfsUnderlinex", "Arial", 12, 0, fsUnderline},
  };
  for (const auto& c : cases) {
    TFont font;
    font.SetStyle(fsBold | fsItalic);
    DescToFont(font, c.desc);
    EXPECT_EQ(font.Name(), c.name) << c.desc;
    EXPECT_EQ(font.Size(), c.size) << c.desc;
    EXPECT_EQ(font.Color(), c.color) << c.desc;
    EXPECT_EQ(font.Style(), c.style) << c.desc;
  }
}

// A first run stores no description; its notes get the desktop's text font
// (the test environment pins DejaVu Sans) at its own size.
TEST(DescToFontTest, EmptyDescriptionGivesTheApplicationFontAtItsSize) {
  TFont font;
  font.SetName("DejaVu Serif");
  font.SetSize(30);
  font.SetColor(255);
  font.SetStyle(fsBold);
  DescToFont(font, "");
  EXPECT_EQ(font.Name(), "DejaVu Sans");
  EXPECT_EQ(font.Size(), QApplication::font().pointSize());
  EXPECT_GT(font.Size(), kMinFontDescSize);
  EXPECT_EQ(font.Color(), clBlack);
  EXPECT_EQ(font.Style(), 0);
}

TEST(DescToFontTest, RoundTripsThroughFontToDesc) {
  for (const char* desc : {"DejaVu Sans,12,0", "DejaVu Serif,28,16711935,fsBold,fsUnderline",
                           "DejaVu Sans Mono,6,-2147483640,fsItalic,fsStrikeout"}) {
    TFont font;
    DescToFont(font, desc);
    EXPECT_EQ(FontToDesc(font), desc);
  }
}

TEST(DescToFontTest, LeavesTheCommaAsTokenDelimiter) {
  TFont font;
  SetTokenDelimiters(" ");
  DescToFont(font, "Arial,12,0");
  EXPECT_EQ(TokenDelimiters(), ",");
  EXPECT_EQ(NthToken("a b,c", 1), "a b");
}

TEST(SetAngledFontTest, TurnsTheFontAndKeepsItsCellHeight) {
  TBitmap bitmap;
  bitmap.SetSize(10, 10);
  TCanvas& canvas = bitmap.Canvas();
  DescToFont(canvas.Font(), "DejaVu Sans,14,255,fsBold,fsStrikeout");
  const int cell = canvas.TextHeight("M");
  const int width = canvas.TextWidth("Mg");
  SetAngledFont(canvas, 12.59);
  EXPECT_EQ(canvas.Font().Orientation(), 125);
  EXPECT_EQ(canvas.Font().Height(), cell);
  EXPECT_EQ(canvas.TextHeight("M"), cell);
  EXPECT_EQ(canvas.TextWidth("Mg"), width);
  EXPECT_EQ(canvas.Font().Style(), fsBold);
  EXPECT_EQ(canvas.Font().Color(), 255);
  SetAngledFont(canvas, -45.07);
  EXPECT_EQ(canvas.Font().Orientation(), -450);
}

}  // namespace
}  // namespace jw
