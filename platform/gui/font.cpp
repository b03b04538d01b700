#include "platform/gui/font.h"

#include <QFont>
#include <QFontMetrics>
#include <cmath>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

// MulDiv of the original platform: rounded, halves away from zero.
int MulDiv(int value, int numerator, int denominator) {
  return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

}  // namespace

TFont::TFont() = default;

void TFont::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  Changed();
}

int TFont::Size() const {
  if (height_ < 0) return MulDiv(-height_, 72, kScreenPixelsPerInch);
  return MulDiv(ToQFont().pixelSize(), 72, kScreenPixelsPerInch);
}

void TFont::SetSize(int points) {
  SetHeight(-MulDiv(points, kScreenPixelsPerInch, 72));
}

void TFont::SetHeight(int pixels) {
  if (pixels == height_) return;
  height_ = pixels;
  Changed();
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == style_) return;
  style_ = style;
  Changed();
}

void TFont::SetOrientation(int tenths) {
  if (tenths == orientation_) return;
  orientation_ = tenths;
  Changed();
}

void TFont::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TFont*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (*other == *this) return;
  name_ = other->name_;
  height_ = other->height_;
  color_ = other->color_;
  style_ = other->style_;
  orientation_ = other->orientation_;
  Changed();
}

bool TFont::operator==(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && color_ == other.color_ &&
         style_ == other.style_ && orientation_ == other.orientation_;
}

struct TFont::QtFont {
  QFont font;
  QFontMetrics metrics;
};

const QFont& TFont::ToQFont() const {
  return QtCache().font;
}

const QFontMetrics& TFont::Metrics() const {
  return QtCache().metrics;
}

const TFont::QtFont& TFont::QtCache() const {
  if (qt_) return *qt_;
  QFont font;
  if (!name_.empty()) font.setFamily(QString::fromStdString(name_));
  font.setBold(style_ & fsBold);
  font.setItalic(style_ & fsItalic);
  font.setUnderline(style_ & fsUnderline);
  font.setStrikeOut(style_ & fsStrikeOut);
  if (height_ < 0) {
    font.setPixelSize(-height_);
  } else if (height_ > 0) {
    // A positive height is the whole cell; find the em size that gives it.
    font.setPixelSize(height_);
    const int cell = QFontMetrics(font).height();
    if (cell > 0 && cell != height_) {
      font.setPixelSize(std::max(1, MulDiv(height_, height_, cell)));
    }
  } else {
    font.setPixelSize(MulDiv(8, kScreenPixelsPerInch, 72));
  }
  qt_ = std::make_shared<const QtFont>(QtFont{font, QFontMetrics(font)});
  return *qt_;
}

void TFont::Changed() {
  qt_.reset();
  if (OnChange) OnChange(this);
}

}  // namespace jw
