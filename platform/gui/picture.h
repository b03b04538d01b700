// TPicture: the holder of one graphic (a bitmap or an icon) that a picture
// control draws, with a change event fired whenever its graphic changes.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/bitmap.h"
#include "platform/gui/gui_types.h"
#include "platform/rtl/persistent.h"

namespace jw {

class TPicture : public TPersistent {
 public:
  TPicture();
  ~TPicture() override;

  // The graphic held, or null.
  TGraphic* Graphic() const { return graphic_.get(); }
  // Takes a copy of graphic (null empties the picture).
  void SetGraphic(TGraphic* graphic);
  // The held bitmap; an empty one replaces any other graphic first.
  TBitmap& Bitmap();
  TIcon& Icon();

  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // Reads a ".bmp" file as a bitmap and ".ico" and other files as an icon.
  void LoadFromFile(const std::string& file_name);
  void Assign(TPersistent* source) override;

  TNotifyEvent OnChange;

 private:
  void Adopt(std::unique_ptr<TGraphic> graphic);
  void Changed();

  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace jw
