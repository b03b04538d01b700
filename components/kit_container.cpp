#include "components/kit_container.h"

namespace jw {

TKitContainer::TKitContainer(TComponent* owner)
    : TKitBaseContainer(owner),
      bitmap_list_(new TKitBitmapList(this)),
      image_list_(new TKitImageList(this)),
      string_list_(new TKitStringList(this)),
      wave_list_(new TKitWaveList(this)) {}

TKitContainer& KitContainer() {
  static TKitContainer* const container = new TKitContainer(nullptr);
  return *container;
}

}  // namespace jw
