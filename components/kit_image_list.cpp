#include "components/kit_image_list.h"

#include <algorithm>

namespace jw {

TKitCustomImageList::~TKitCustomImageList() {
  for (TKitChangeLink* link : links_) link->sender_ = nullptr;
}

void TKitCustomImageList::RegisterChanges(TKitChangeLink* link) {
  if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end()) return;
  link->sender_ = this;
  links_.push_back(link);
}

void TKitCustomImageList::UnRegisterChanges(TKitChangeLink* link) {
  if (link == nullptr) return;
  std::erase(links_, link);
  link->sender_ = nullptr;
}

void TKitCustomImageList::Change() {
  for (TKitChangeLink* link : std::vector<TKitChangeLink*>(links_)) {
    if (link->OnChange) link->OnChange(this);
  }
  TKitComponent::Change();
}

}  // namespace jw
