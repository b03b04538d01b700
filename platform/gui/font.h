// TFont: the font of a canvas or control by name, size, colour, styles and
// orientation. Sizes are points at 96 pixels per inch, whatever the screen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/gui/color.h"
#include "platform/gui/gui_types.h"
#include "platform/rtl/persistent.h"

class QFont;
class QFontMetrics;

namespace jw {

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;

inline constexpr int kScreenPixelsPerInch = 96;

class TFont : public TPersistent {
 public:
  TFont();

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  // Points; a font set by a positive Height reports the points of its em size.
  int Size() const;
  void SetSize(int points);
  // Pixels: negative for the character (em) height, positive for the cell
  // height (ascent plus descent), as with the original platform's fonts.
  int Height() const { return height_; }
  void SetHeight(int pixels);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style);
  // Tenths of a degree, counter-clockwise; text drawn with the font is
  // rotated about the top-left corner of its cell.
  int Orientation() const { return orientation_; }
  void SetOrientation(int tenths);

  void Assign(TPersistent* source) override;
  bool operator==(const TFont& other) const;

  // The Qt font with the pixel size that gives this font's height, and its
  // metrics; both are built once and kept until the font changes, since
  // building metrics costs as much as measuring a short text.
  const QFont& ToQFont() const;
  const QFontMetrics& Metrics() const;

  TNotifyEvent OnChange;

 private:
  struct QtFont;

  void Changed();
  const QtFont& QtCache() const;

  std::string name_ = "DejaVu Sans";
  int height_ = -11;  // 8 points
  TColor color_ = clWindowText;
  TFontStyles style_ = 0;
  int orientation_ = 0;
  mutable std::shared_ptr<const QtFont> qt_;
};

}  // namespace jw
