#include "components/kit_bitmap_list.h"

#include "components/kit_folders.h"
#include "components/stream_records.h"
#include "platform/rtl/file_names.h"

namespace jw {

// ------------------------------------------------------ TKitBitmapListItem

TKitBitmapListItem::TKitBitmapListItem(TComponent* owner)
    : TKitListItem(owner), bitmap_(std::make_unique<TBitmap>()) {
  if (auto* list = dynamic_cast<TKitCustomImageList*>(owner)) {
    pixel_format_ = list->DefaultPixelFormat();
  }
}

TKitBitmapListItem::~TKitBitmapListItem() = default;

TBitmap& TKitBitmapListItem::Bitmap() {
  const TComponentState state = ComponentState();
  if (bitmap_->Empty() && !state.Contains(csDesigning) && !state.Contains(csLoading) &&
      Container() != nullptr) {
    LoadFromSource();
  }
  return *bitmap_;
}

void TKitBitmapListItem::LoadFromSource() {
  TKitCustomContainer& container = *Container();
  const std::string& name = container.FileName();
  const TKitPathPrefix prefix = container.PathPrefix();
  switch (container.Source()) {
    case TKitContainerSource::csInternal:
    case TKitContainerSource::csLibrary:
      // A library source only ever checked that its library loads and took
      // no bitmap from it; with no such libraries here the item stays empty.
      return;
    case TKitContainerSource::csContainerFile:
    case TKitContainerSource::csBitmapFile:
      break;
    default:
      // Module resources of bitmaps do not exist here.
      throw EReadError("Stream read error");
  }
  BeginUpdate();
  try {
    if (container.Source() == TKitContainerSource::csContainerFile) {
      TKitBitmapListItem loaded(nullptr);
      container.ReadFileItem(PrefixFolder(prefix, true) + name, Ident(), loaded);
      bitmap_->SetImage(loaded.bitmap_->Image());
    } else {
      const std::string folder =
          prefix == TKitPathPrefix::ppFixed ? ExtractFilePath(name) : PrefixFolder(prefix, true);
      bitmap_->LoadFromFile(folder + ExtractFileName(name).substr(0, 3) + std::to_string(Ident()) +
                            ".bmp");
    }
  } catch (...) {
    EndUpdate(false);
    throw;
  }
  EndUpdate(false);
}

void TKitBitmapListItem::SetBitmap(const TBitmap& bitmap) {
  bitmap_->SetImage(bitmap.Image());
  Change();
}

void TKitBitmapListItem::Clear() {
  bitmap_->SetSize(0, 0);
  Change();
}

uint8_t TKitBitmapListItem::GetFlags() const {
  return TKitListItem::GetFlags() | PixelFormatFlags(pixel_format_);
}

void TKitBitmapListItem::ReadPayload(TStream& stream, uint8_t flags) {
  pixel_format_ = PixelFormatFromFlags(flags);
  auto bitmap = std::make_unique<TBitmap>();
  if ((flags & kItemPayload) != 0) ReadBitmap(stream, *bitmap, (flags & kItemCompressed) != 0);
  bitmap_ = std::move(bitmap);
}

void TKitBitmapListItem::WritePayload(TStream& stream) {
  WriteBitmap(stream, *bitmap_, Compressed(), DibFormatCode(pixel_format_));
}

void TKitBitmapListItem::AssignPayload(TKitListItem& source) {
  auto& item = static_cast<TKitBitmapListItem&>(source);
  bitmap_->SetImage(item.bitmap_->Image());
  pixel_format_ = item.pixel_format_;
}

// ---------------------------------------------------------- TKitBitmapList

TKitBitmapList::TKitBitmapList(TComponent* owner)
    : TKitCustomImageList(
          owner, [](TComponent* o) -> TKitListItem* { return new TKitBitmapListItem(o); },
          "KITBML30") {}

TKitBitmapListItem* TKitBitmapList::Items(int i) const {
  return dynamic_cast<TKitBitmapListItem*>(Item(i));
}

int TKitBitmapList::Count(int i) const {
  TKitBitmapListItem* item = Items(i);
  return item != nullptr && !item->Bitmap().Empty() ? 1 : 0;
}

bool TKitBitmapList::FindImage(int i, int, TKitImagePlace& place) {
  TKitBitmapListItem* item = Items(i);
  if (item == nullptr || item->Bitmap().Empty()) return false;
  place.bitmap = &item->Bitmap();
  place.bounds = Rect(0, 0, place.bitmap->Width(), place.bitmap->Height());
  return true;
}

}  // namespace jw
