#include "platform/gui/color.h"

#include <gtest/gtest.h>

#include "platform/gui/font.h"

namespace jw {
namespace {

TEST(ColorEncoding, BlueGreenRedAndSpecialValues) {
  EXPECT_EQ(RGB(0x12, 0x34, 0x56), 0x563412);
  EXPECT_EQ(clRed, 255);
  EXPECT_EQ(clNone, 0x1FFFFFFF);
  EXPECT_LT(clBtnFace, 0);  // system colours are negative as signed numbers
  EXPECT_EQ(static_cast<uint32_t>(clWindowText), 0x80000008u);
  EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
  EXPECT_EQ(ColorToRGB(clWindow), clWhite);
  EXPECT_EQ(ColorToRGB(0x00ABCDEF), 0x00ABCDEF);
  EXPECT_EQ(GetRValue(0x563412), 0x12);
  EXPECT_EQ(GetBValue(0x563412), 0x56);
}

TEST(FontSizes, PointsAtNinetySixDotsPerInch) {
  TFont font;
  font.SetSize(12);
  EXPECT_EQ(font.Height(), -16);
  EXPECT_EQ(font.Size(), 12);
  font.SetSize(6);
  EXPECT_EQ(font.Height(), -8);
  font.SetHeight(-11);
  EXPECT_EQ(font.Size(), 8);
  int changes = 0;
  font.OnChange = [&](TPersistent*) { ++changes; };
  font.SetOrientation(450);
  font.SetOrientation(450);
  EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace jw
