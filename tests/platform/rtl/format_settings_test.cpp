#include "platform/rtl/format_settings.h"

#include <gtest/gtest.h>

namespace jw {
namespace {

TEST(FormatSettings, StartsAsLanguageZeroAndRestoresAsAValue) {
  EXPECT_EQ(FormatSettings(), DefaultFormatSettings());
  EXPECT_EQ(FormatSettings().ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(FormatSettings().DecimalSeparator, '.');

  const TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().LongDayNames[0] = "Sonntag";
  EXPECT_NE(FormatSettings(), saved);
  FormatSettings() = saved;
  EXPECT_EQ(FormatSettings(), DefaultFormatSettings());
}

}  // namespace
}  // namespace jw
