#include "components/image.h"

namespace jw {

TsfCustomImage::TsfCustomImage(TComponent* owner)
    : TGraphicControl(owner), picture_(std::make_unique<TPicture>()) {
  SetControlStyle(ControlStyle() | csReplicatable);
  picture_->OnChange = [this](TPersistent*) { PictureChanged(); };
  SetBounds(Left(), Top(), 105, 105);
}

TsfCustomImage::~TsfCustomImage() {
  picture_->OnChange = nullptr;
}

void TsfCustomImage::SetPicture(TPicture* value) {
  picture_->Assign(value);
}

void TsfCustomImage::SetAutoSize(bool value) {
  auto_size_ = value;
  PictureChanged();
}

void TsfCustomImage::Paint() {
  if (ComponentState().Contains(csDesigning)) {
    Canvas().Pen().SetStyle(TPenStyle::psDash);
    Canvas().Brush().SetStyle(TBrushStyle::bsClear);
    Canvas().Rectangle(Rect(0, 0, Width(), Height()));
  }
  {
    // Restored on every path, before the owner draws over the picture.
    struct RestoreDrawing {
      bool& flag;
      bool value;
      ~RestoreDrawing() { flag = value; }
    } restore{drawing_, drawing_};
    drawing_ = true;
    if (TGraphic* graphic = picture_->Graphic())
      Canvas().StretchDraw(Rect(0, 0, picture_->Width(), picture_->Height()), *graphic);
  }
  if (OnAfterPaint) OnAfterPaint(this);
}

// The original platform also realised a changed palette here; our surfaces
// are true colour, so graphics carry no palette to realise.
void TsfCustomImage::PictureChanged() {
  if (auto_size_ && picture_->Width() > 0 && picture_->Height() > 0)
    SetBounds(Left(), Top(), picture_->Width(), picture_->Height());
  if (TGraphic* graphic = picture_->Graphic()) {
    if (dynamic_cast<TIcon*>(graphic) == nullptr) graphic->SetTransparent(transparent_);
    const bool opaque =
        !graphic->Transparent() && graphic->Width() >= Width() && graphic->Height() >= Height();
    SetControlStyle(opaque ? ControlStyle() | csOpaque : ControlStyle() & ~csOpaque);
  } else {
    SetControlStyle(ControlStyle() & ~csOpaque);
  }
  if (!drawing_) Invalidate();
}

}  // namespace jw
