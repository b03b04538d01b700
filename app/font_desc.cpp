#include "app/font_desc.h"

#include <QApplication>
#include <QFontInfo>
#include <algorithm>

#include "app/str_lib.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

struct StyleName {
  TFontStyle style;
  const char* text;
};

// In the order in which descriptions list them.
constexpr StyleName kStyleNames[] = {
    {fsBold, "fsBold"},
    {fsItalic, "fsItalic"},
    {fsUnderline, "fsUnderline"},
    {fsStrikeOut, "fsStrikeout"},
};

}  // namespace

std::string FontToDesc(const TFont& font) {
  std::string desc =
      font.Name() + "," + IntToStr(int32_t(font.Size())) + "," + IntToStr(int32_t(font.Color()));
  for (const StyleName& s : kStyleNames)
    if (font.Style() & s.style) desc += std::string(",") + s.text;
  return desc;
}

void DescToFont(TFont& font, const std::string& desc) {
  SetTokenDelimiters(",");
  if (desc.empty()) {
    // A first run has no stored description: its notes use the desktop's
    // own text font rather than the 6-point floor.
    const QFontInfo standard(QApplication::font());
    font.SetName(FromQString(standard.family()));
    font.SetSize(std::clamp(standard.pointSize(), kMinFontDescSize, kMaxFontDescSize));
    font.SetColor(clBlack);
    font.SetStyle(0);
    return;
  }
  font.SetName(NthToken(desc, 1));
  font.SetSize(std::clamp(StrToIntOrZero(NthToken(desc, 2)), kMinFontDescSize, kMaxFontDescSize));
  font.SetColor(StrToIntOrZero(NthToken(desc, 3)));
  TFontStyles style = 0;
  for (const StyleName& s : kStyleNames)
    if (desc.find(s.text) != std::string::npos) style |= s.style;
  font.SetStyle(style);
}

void SetAngledFont(TCanvas& canvas, double angle) {
  const int cell_height = canvas.TextHeight("M");
  TFont& font = canvas.Font();
  font.SetHeight(cell_height);
  font.SetStyle(font.Style() & ~fsStrikeOut);
  font.SetOrientation(static_cast<int>(Trunc(angle * 10)));
}

}  // namespace jw
