#include "platform/gui/picture.h"

#include "platform/rtl/strings.h"

namespace jw {

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::SetGraphic(TGraphic* graphic) {
  if (graphic == nullptr) {
    Adopt(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy;
  if (dynamic_cast<TIcon*>(graphic) != nullptr) {
    copy = std::make_unique<TIcon>();
  } else {
    copy = std::make_unique<TBitmap>();
  }
  copy->Assign(graphic);
  Adopt(std::move(copy));
}

TBitmap& TPicture::Bitmap() {
  if (dynamic_cast<TBitmap*>(graphic_.get()) == nullptr) Adopt(std::make_unique<TBitmap>());
  return static_cast<TBitmap&>(*graphic_);
}

TIcon& TPicture::Icon() {
  if (dynamic_cast<TIcon*>(graphic_.get()) == nullptr) Adopt(std::make_unique<TIcon>());
  return static_cast<TIcon&>(*graphic_);
}

void TPicture::LoadFromFile(const std::string& file_name) {
  std::unique_ptr<TGraphic> graphic;
  const std::string lower = LowerCase(file_name);
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".bmp") == 0) {
    graphic = std::make_unique<TBitmap>();
  } else {
    graphic = std::make_unique<TIcon>();
  }
  graphic->LoadFromFile(file_name);
  Adopt(std::move(graphic));
}

void TPicture::Assign(TPersistent* source) {
  if (source == nullptr) {
    SetGraphic(nullptr);
  } else if (auto* picture = dynamic_cast<TPicture*>(source)) {
    if (picture != this) SetGraphic(picture->Graphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this](TPersistent*) { Changed(); };
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

}  // namespace jw
