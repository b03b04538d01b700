// TsfCustomImage: a graphic control that holds a picture and draws it at its
// own size from the top-left corner, then calls OnAfterPaint so its owner can
// draw over it.
#pragma once

#include <memory>

#include "platform/gui/controls.h"
#include "platform/gui/picture.h"

namespace jw {

class TsfCustomImage : public TGraphicControl {
 public:
  explicit TsfCustomImage(TComponent* owner);
  ~TsfCustomImage() override;

  TPicture& Picture() { return *picture_; }
  // Copies value into the held picture.
  virtual void SetPicture(TPicture* value);
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value);
  // True while Paint draws the picture.
  bool Drawing() const { return drawing_; }

  // Called after each paint, with the picture already drawn.
  TNotifyEvent OnAfterPaint;

 protected:
  void Paint() override;
  // Follows a change of the picture: size, opacity, repaint.
  virtual void PictureChanged();

 private:
  std::unique_ptr<TPicture> picture_;
  bool auto_size_ = false;
  // No property sets it: pictures are drawn opaque.
  bool transparent_ = false;
  bool drawing_ = false;
};

}  // namespace jw
