#include "components/kit_string_list.h"

#include "components/stream_records.h"

namespace jw {

TKitStringListItem::TKitStringListItem(TComponent* owner)
    : TKitListItem(owner), items_(std::make_unique<TStringList>()) {}

TKitStringListItem::~TKitStringListItem() = default;

void TKitStringListItem::Clear() {
  items_->Clear();
  Change();
}

void TKitStringListItem::ReadPayload(TStream& stream, uint8_t flags) {
  if ((flags & kItemPayload) == 0) {
    items_->Clear();
    return;
  }
  ReadStringList(stream, *items_, (flags & kItemCompressed) != 0);
}

void TKitStringListItem::WritePayload(TStream& stream) {
  WriteStringList(stream, *items_, Compressed());
}

void TKitStringListItem::AssignPayload(TKitListItem& source) {
  items_->Assign(&static_cast<TKitStringListItem&>(source).Items());
}

TKitStringList::TKitStringList(TComponent* owner)
    : TKitCustomContainer(
          owner, [](TComponent* o) -> TKitListItem* { return new TKitStringListItem(o); },
          "KITSLL30") {}

TKitStringListItem* TKitStringList::Items(int i) const {
  return dynamic_cast<TKitStringListItem*>(Item(i));
}

}  // namespace jw
