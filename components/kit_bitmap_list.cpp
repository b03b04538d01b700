#include "components/kit_bitmap_list.h"

#include "components/kit_folders.h"
#include "components/kit_graphics.h"
#include "components/stream_records.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

constexpr TColor kOutOfRangeColor = 0xFFFFFF;

}  // namespace

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
      return;
    case TKitContainerSource::csContainerFile:
    case TKitContainerSource::csBitmapFile:
      break;
    default:
      // Module resources and libraries of bitmaps do not exist here.
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

TCanvas* TKitBitmapList::GetCanvas(int i) {
  TKitBitmapListItem* item = Items(i);
  return item != nullptr ? &item->Bitmap().Canvas() : nullptr;
}

TRect TKitBitmapList::GetBounds(int i) {
  TKitBitmapListItem* item = Items(i);
  if (item == nullptr) return {};
  return Rect(0, 0, item->Bitmap().Width(), item->Bitmap().Height());
}

int TKitBitmapList::GetSize(int i, int what) {
  TKitBitmapListItem* item = Items(i);
  if (item == nullptr) return 0;
  return what == 0 ? item->Bitmap().Width() : item->Bitmap().Height();
}

int TKitBitmapList::Count(int i) const {
  TKitBitmapListItem* item = Items(i);
  return item != nullptr && !item->Bitmap().Empty() ? 1 : 0;
}

bool TKitBitmapList::IsValid(int i, int) {
  TKitBitmapListItem* item = Items(i);
  return item != nullptr && !item->Bitmap().Empty();
}

void TKitBitmapList::GetBitmap(int i, int j, TBitmap& dest) {
  if (IsValid(i, j)) dest.Assign(&Items(i)->Bitmap());
}

TColor TKitBitmapList::GetTransparentColor(int i) {
  if (!IsValid(i, 0)) return kOutOfRangeColor;
  TBitmap& bitmap = Items(i)->Bitmap();
  return bitmap.Canvas().Pixels(0, bitmap.Height() - 1);
}

TColor TKitBitmapList::GetPixel(int i, int j, TPoint pt) {
  if (!IsValid(i, j)) return kOutOfRangeColor;
  const TColor pixel = Items(i)->Bitmap().Canvas().Pixels(pt.X, pt.Y);
  return pixel == clNone ? kOutOfRangeColor : pixel;
}

void TKitBitmapList::Draw(TCanvas& canvas, int x, int y, int i, int j) {
  if (!IsValid(i, j)) return;
  DrawExt(canvas, Bounds(x, y, GetSize(i, 0), GetSize(i, 1)), i, j, clNone, 0);
}

void TKitBitmapList::DrawExt(TCanvas& canvas, const TRect& dest, int i, int j, TColor color,
                             uint32_t flags) {
  if (!IsValid(i, j)) return;
  TRect placed;
  DrawBitmap(canvas, dest, Items(i)->Bitmap(), placed, color, flags);
}

}  // namespace jw
