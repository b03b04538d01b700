#include "platform/gui/std_controls.h"

#include <QLabel>

#include "platform/gui/qt_convert.h"

namespace jw {

TLabel::TLabel(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 65, 17);
  font_.OnChange = [this](TPersistent*) { ApplyLook(); };
}

void TLabel::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (HandleAllocated()) static_cast<QLabel*>(Handle())->setText(ToQString(caption));
}

void TLabel::SetWordWrap(bool on) {
  word_wrap_ = on;
  if (HandleAllocated()) static_cast<QLabel*>(Handle())->setWordWrap(on);
}

void TLabel::SetTransparent(bool on) {
  transparent_ = on;
  ApplyLook();
}

void TLabel::ApplyLook() {
  if (HandleAllocated()) ApplyLook(*static_cast<QLabel*>(Handle()));
}

void TLabel::ApplyLook(QLabel& label_widget) {
  QLabel* label = &label_widget;
  label->setFont(font_.ToQFont());
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, ToQColor(font_.Color()));
  palette.setColor(QPalette::Window, ToQColor(Color()));
  label->setPalette(palette);
  label->setAutoFillBackground(!transparent_);
}

std::unique_ptr<QWidget> TLabel::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto label = std::make_unique<QLabel>(ToQString(Caption()), parent);
  label->setWordWrap(word_wrap_);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ApplyLook(*label);
  return label;
}

TPanel::TPanel(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TPanelBevel bevel) {
  bevel_outer_ = bevel;
  Invalidate();
}

void TPanel::Paint() {
  TCanvas& canvas = Canvas();
  canvas.Brush().SetColor(Color());
  canvas.FillRect(ClientRect());
  if (bevel_outer_ == TPanelBevel::bvNone) return;
  const int w = ClientWidth();
  const int h = ClientHeight();
  const TColor light = RGB(255, 255, 255);
  const TColor shadow = RGB(128, 128, 128);
  const bool lowered = bevel_outer_ == TPanelBevel::bvLowered;
  canvas.Pen().SetColor(lowered ? shadow : light);
  canvas.MoveTo(0, h - 1);
  canvas.LineTo(0, 0);
  canvas.LineTo(w - 1, 0);
  canvas.Pen().SetColor(lowered ? light : shadow);
  canvas.LineTo(w - 1, h - 1);
  canvas.LineTo(0, h - 1);
}

TImage::TImage(TComponent* owner) : TGraphicControl(owner), picture_(std::make_unique<TPicture>()) {
  SetBounds(0, 0, 105, 105);
  picture_->OnChange = [this](TPersistent*) { Invalidate(); };
}

TImage::~TImage() = default;

void TImage::SetStretch(bool on) {
  stretch_ = on;
  Invalidate();
}

void TImage::Paint() {
  TGraphic* graphic = picture_->Graphic();
  if (graphic == nullptr || graphic->Empty()) return;
  if (stretch_) {
    Canvas().StretchDraw(ClientRect(), *graphic);
  } else {
    Canvas().Draw(0, 0, *graphic);
  }
}

}  // namespace jw
