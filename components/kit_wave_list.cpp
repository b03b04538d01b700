#include "components/kit_wave_list.h"

#include "components/stream_records.h"

namespace jw {

TKitWaveListItem::TKitWaveListItem(TComponent* owner)
    : TKitListItem(owner), wave_(std::make_unique<TKitWave>()) {}

TKitWaveListItem::~TKitWaveListItem() = default;

void TKitWaveListItem::Clear() {
  wave_->Clear();
  Change();
}

void TKitWaveListItem::ReadPayload(TStream& stream, uint8_t flags) {
  if ((flags & kItemPayload) == 0) {
    wave_->Clear();
    return;
  }
  ReadWave(stream, *wave_, (flags & kItemCompressed) != 0);
}

void TKitWaveListItem::WritePayload(TStream& stream) {
  WriteWave(stream, *wave_, Compressed());
}

void TKitWaveListItem::AssignPayload(TKitListItem& source) {
  wave_->Assign(&static_cast<TKitWaveListItem&>(source).Wave());
}

TKitWaveList::TKitWaveList(TComponent* owner)
    : TKitCustomContainer(
          owner, [](TComponent* o) -> TKitListItem* { return new TKitWaveListItem(o); },
          "KITWVL30") {}

TKitWaveListItem* TKitWaveList::Items(int i) const {
  return dynamic_cast<TKitWaveListItem*>(Item(i));
}

}  // namespace jw
