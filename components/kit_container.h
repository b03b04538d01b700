// TKitContainer: one container of each kind (bitmaps, image strips, string
// lists, waves) under one owner, and the process-wide instance of it.
#pragma once

#include "components/kit_bitmap_list.h"
#include "components/kit_image_list.h"
#include "components/kit_string_list.h"
#include "components/kit_wave_list.h"

namespace jw {

class TKitContainer : public TKitBaseContainer {
 public:
  explicit TKitContainer(TComponent* owner);

  TKitBitmapList& BitmapList() { return *bitmap_list_; }
  TKitImageList& ImageList() { return *image_list_; }
  TKitStringList& StringList() { return *string_list_; }
  TKitWaveList& WaveList() { return *wave_list_; }

 private:
  // Owned through the component list.
  TKitBitmapList* bitmap_list_;
  TKitImageList* image_list_;
  TKitStringList* string_list_;
  TKitWaveList* wave_list_;
};

// The kit's container, made on first use and kept to the end of the process.
TKitContainer& KitContainer();

}  // namespace jw
