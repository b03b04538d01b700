#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <string>
#include <vector>

#include "components/kit_button_captions.h"
#include "components/kit_system_info.h"

namespace jw {
namespace {

TEST(KitSystemTest, ButtonCaptionsWordForWordAndAnEmptyGlyphCache) {
  const std::vector<std::string> captions = {"OK",     "Cancel", "&Help",  "&Yes",    "&No",
                                             "&Close", "Abort",  "&Retry", "&Ignore", "&All"};
  for (size_t k = 0; k < captions.size(); ++k) {
    EXPECT_EQ(ButtonCaption(static_cast<TKitButtonKind>(k)), captions[k]) << k;
  }
  for (int slot = -1; slot <= kButtonGlyphSlots; ++slot) EXPECT_EQ(ButtonGlyph(slot), nullptr);
  SetButtonGlyph(kButtonGlyphSlots - 1, std::make_unique<TBitmap>());
  SetButtonGlyph(kButtonGlyphSlots, std::make_unique<TBitmap>());
  EXPECT_NE(ButtonGlyph(kButtonGlyphSlots - 1), nullptr);
  EXPECT_EQ(ButtonGlyph(kButtonGlyphSlots), nullptr);
  SetButtonGlyph(kButtonGlyphSlots - 1, nullptr);
}

TEST(KitSystemTest, LinuxIsTheMultiUserFamilyWithTheScreensDepth) {
  const TKitSystemInfo& info = KitSystemInfo();
  EXPECT_TRUE(info.MultiUserFamily);
  EXPECT_TRUE(info.DesktopExtensions);
  EXPECT_FALSE(info.SingleUserFamily);
  EXPECT_FALSE(info.LaterSingleUser);
  ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
  EXPECT_EQ(info.ColorDepth, QGuiApplication::primaryScreen()->depth());
  EXPECT_GT(info.ColorDepth, 8);
}

}  // namespace
}  // namespace jw
