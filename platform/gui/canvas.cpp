#include "platform/gui/canvas.h"

#include <QFontMetrics>
#include <QPainter>

#include "platform/gui/bitmap.h"
#include "platform/gui/qt_convert.h"

namespace jw {

// One drawing call: a painter with the canvas's origin applied, restored at
// the end; invalid when the canvas cannot draw now.
class TCanvas::DrawScope {
 public:
  explicit DrawScope(TCanvas& canvas) : canvas_(canvas), painter_(canvas.BeginDraw()) {
    if (painter_ == nullptr) {
      canvas_.DrawingRefused();
      return;
    }
    painter_->save();
    painter_->translate(canvas_.origin_.X, canvas_.origin_.Y);
  }
  ~DrawScope() {
    if (painter_ == nullptr) return;
    painter_->restore();
    canvas_.EndDraw();
  }
  DrawScope(const DrawScope&) = delete;
  DrawScope& operator=(const DrawScope&) = delete;

  QPainter* operator->() const { return painter_; }
  explicit operator bool() const { return painter_ != nullptr; }

 private:
  TCanvas& canvas_;
  QPainter* painter_;
};

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

QPainter* TCanvas::BeginDraw() {
  return bound_;
}

void TCanvas::BindPainter(QPainter* painter, TPoint origin) {
  bound_ = painter;
  origin_ = origin;
}

void TCanvas::UnbindPainter() {
  bound_ = nullptr;
  origin_ = {};
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  DrawScope p(*this);
  if (!p) return;
  const QFont& font = font_.ToQFont();
  const QFontMetrics& metrics = font_.Metrics();
  const QString s = ToQString(text);
  p->setFont(font);
  p->translate(x, y);
  // Orientation counts counter-clockwise; Qt turns clockwise.
  p->rotate(-font_.Orientation() / 10.0);
  if (brush_.Style() == TBrushStyle::bsSolid) {
    p->fillRect(QRect(0, 0, metrics.horizontalAdvance(s), metrics.height()),
                ToQColor(brush_.Color()));
  }
  p->setPen(ToQColor(font_.Color()));
  p->drawText(0, metrics.ascent(), s);
  pen_pos_ = {x + metrics.horizontalAdvance(s), y};
}

int TCanvas::TextWidth(const std::string& text) {
  return font_.Metrics().horizontalAdvance(ToQString(text));
}

int TCanvas::TextHeight(const std::string&) {
  return font_.Metrics().height();
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  if (graphic.Empty()) return;
  DrawScope p(*this);
  if (!p) return;
  p->drawImage(x, y, graphic.ToImage());
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
  if (graphic.Empty() || rect.IsEmpty()) return;
  DrawScope p(*this);
  if (!p) return;
  QImage image = graphic.ToImage();
  if (image.width() != rect.Width() || image.height() != rect.Height()) {
    image =
        image.scaled(rect.Width(), rect.Height(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  p->drawImage(rect.Left, rect.Top, image);
}

void TCanvas::FillRect(const TRect& rect) {
  if (brush_.Style() == TBrushStyle::bsClear || rect.IsEmpty()) return;
  DrawScope p(*this);
  if (!p) return;
  p->fillRect(ToQRect(rect), ToQColor(brush_.Color()));
}

void TCanvas::Rectangle(const TRect& rect) {
  if (rect.IsEmpty()) return;
  FillRect(rect);
  if (pen_.Style() == TPenStyle::psClear) return;
  DrawScope p(*this);
  if (!p) return;
  QPen pen(ToQColor(pen_.Color()));
  pen.setWidth(pen_.Width());
  pen.setStyle(pen_.Style() == TPenStyle::psDash  ? Qt::DashLine
               : pen_.Style() == TPenStyle::psDot ? Qt::DotLine
                                                  : Qt::SolidLine);
  p->setPen(pen);
  p->setBrush(Qt::NoBrush);
  p->drawRect(QRect(rect.Left, rect.Top, rect.Width() - 1, rect.Height() - 1));
}

void TCanvas::MoveTo(int x, int y) {
  pen_pos_ = {x, y};
}

void TCanvas::LineTo(int x, int y) {
  const TPoint from = pen_pos_;
  pen_pos_ = {x, y};
  if (pen_.Style() == TPenStyle::psClear) return;
  DrawScope p(*this);
  if (!p) return;
  QPen pen(ToQColor(pen_.Color()));
  pen.setWidth(pen_.Width());
  p->setPen(pen);
  p->drawLine(from.X, from.Y, x, y);
}

TColor TCanvas::Pixels(int, int) {
  return clNone;
}

void TCanvas::SetPixels(int x, int y, TColor color) {
  DrawScope p(*this);
  if (!p) return;
  p->fillRect(QRect(x, y, 1, 1), ToQColor(color));
}

}  // namespace jw
