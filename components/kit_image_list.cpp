#include "components/kit_image_list.h"

#include <algorithm>

#include "components/kit_graphics.h"
#include "components/stream_records.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/filer.h"

namespace jw {

namespace {

// Image offsets are 16-bit, so the strip ends at 32768 pixels.
constexpr int kMaxStripWidth = 32768;
constexpr uint32_t kEntryMasked = 0x10000;
constexpr TColor kOutOfRangeColor = 0xFFFFFF;

[[noreturn]] void BadStream() {
  throw EReadError("Stream read error");
}

}  // namespace

// ----------------------------------------------------- TKitCustomImageList

TCanvas* TKitCustomImageList::GetCanvas(int i) {
  TKitImagePlace place;
  return FindImage(i, 0, place) ? &place.bitmap->Canvas() : nullptr;
}

TRect TKitCustomImageList::GetBounds(int i) {
  TKitImagePlace place;
  return FindImage(i, 0, place) ? place.bounds : TRect{};
}

int TKitCustomImageList::GetSize(int i, int what) {
  const TRect bounds = GetBounds(i);
  return what == 0 ? bounds.Width() : bounds.Height();
}

int TKitCustomImageList::Count(int) const {
  return 0;
}

bool TKitCustomImageList::IsValid(int i, int j) {
  TKitImagePlace place;
  return FindImage(i, j, place);
}

void TKitCustomImageList::GetBitmap(int i, int j, TBitmap& dest) {
  TKitImagePlace place;
  if (FindImage(i, j, place)) dest.SetImage(place.bitmap->Image().copy(ToQRect(place.bounds)));
}

bool TKitCustomImageList::IsMasked(int i) {
  TKitImagePlace place;
  return FindImage(i, 0, place) && place.mask != nullptr;
}

TColor TKitCustomImageList::GetTransparentColor(int i) {
  TKitImagePlace place;
  if (!FindImage(i, 0, place)) return kOutOfRangeColor;
  return place.bitmap->Canvas().Pixels(place.bounds.Left, place.bounds.Bottom - 1);
}

TColor TKitCustomImageList::GetPixel(int i, int j, TPoint pt) {
  TKitImagePlace place;
  if (!FindImage(i, j, place) || pt.X < 0 || pt.Y < 0 || pt.X >= place.bounds.Width() ||
      pt.Y >= place.bounds.Height()) {
    return kOutOfRangeColor;
  }
  return place.bitmap->Canvas().Pixels(place.bounds.Left + pt.X, place.bounds.Top + pt.Y);
}

void TKitCustomImageList::Draw(TCanvas& canvas, int x, int y, int i, int j) {
  TKitImagePlace place;
  if (!FindImage(i, j, place)) return;
  DrawExt(canvas, Bounds(x, y, place.bounds.Width(), place.bounds.Height()), i, j, clNone, 0);
}

TKitPalette TKitCustomImageList::GetPalette(int i) {
  TKitImagePlace place;
  if (!FindImage(i, 0, place)) return {};
  TKitPalette palette;
  for (const QRgb entry : place.bitmap->Image().colorTable()) {
    palette.push_back(FromQColor(QColor(entry)));
  }
  return palette;
}

void TKitCustomImageList::DrawExt(TCanvas& canvas, const TRect& dest, int i, int j, TColor color,
                                  uint32_t flags) {
  TKitImagePlace place;
  if (!FindImage(i, j, place)) return;
  TBitmap image, through;
  if (StyleImage(*place.bitmap, place.bounds, place.mask, place.style, place.background,
                 place.blend, image, through)) {
    flags |= kDrawMasked;
  }
  DrawBitmapPart(canvas, dest, image, Rect(0, 0, image.Width(), image.Height()), &through, color,
                 flags);
}

void TKitCustomImageList::DrawFlags(TCanvas& canvas, int x, int y, int i, int j, uint32_t flags) {
  TKitImagePlace place;
  if (!FindImage(i, j, place)) return;
  DrawExt(canvas, Bounds(x, y, place.bounds.Width(), place.bounds.Height()), i, j,
          GetTransparentColor(i), flags);
}

bool TKitCustomImageList::FindImage(int, int, TKitImagePlace&) {
  return false;
}

void TKitCustomImageList::AssignDefaults(TKitCustomContainer& source) {
  TKitCustomContainer::AssignDefaults(source);
  default_pixel_format_ = static_cast<TKitCustomImageList&>(source).default_pixel_format_;
}

// ------------------------------------------------------- TKitImageListItem

TKitImageListItem::TKitImageListItem(TComponent* owner)
    : TKitListItem(owner), strip_(std::make_unique<TBitmap>()), mask_(std::make_unique<TBitmap>()) {
  if (auto* list = dynamic_cast<TKitCustomImageList*>(owner)) {
    pixel_format_ = list->DefaultPixelFormat();
  }
}

TKitImageListItem::~TKitImageListItem() = default;

void TKitImageListItem::SetWidth(int width) {
  if (width <= 0 || width == width_) return;
  width_ = width;
  Clear();
}

void TKitImageListItem::SetHeight(int height) {
  if (height <= 0 || height == height_) return;
  height_ = height;
  Clear();
}

void TKitImageListItem::SetMasked(bool masked) {
  if (masked == masked_) return;
  masked_ = masked;
  Clear();
}

void TKitImageListItem::SetDrawingStyle(TKitDrawingStyle style) {
  drawing_style_ = style;
  Change();
}

void TKitImageListItem::SetBkColor(TColor color) {
  bk_color_ = color;
  Change();
}

void TKitImageListItem::SetBlendColor(TColor color) {
  blend_color_ = color;
  Change();
}

void TKitImageListItem::Clear() {
  strip_->SetSize(0, 0);
  mask_->SetSize(0, 0);
  used_ = 0;
  entries_.clear();
  Change();
}

void TKitImageListItem::Reserve(int count) {
  const int needed = used_ + count * width_;
  if (needed > kMaxStripWidth) throw EInvalidGraphicOperation("Too many images");
  if (needed <= strip_->Width()) return;
  const int width = std::min(used_ + std::max(count, alloc_by_) * width_, kMaxStripWidth);
  strip_->SetSize(width, height_);
  if (masked_) mask_->SetSize(width, height_);
}

int TKitImageListItem::Add(const TBitmap& images, const TBitmap* mask) {
  if (images.Height() != height_ || images.Width() == 0 || images.Width() % width_ != 0 ||
      (mask != nullptr && (mask->Width() < images.Width() || mask->Height() < height_))) {
    throw EInvalidGraphicOperation("Invalid image size");
  }
  const int count = images.Width() / width_;
  Reserve(count);
  const int first = Count();
  const TRect whole = Rect(0, 0, images.Width(), height_);
  const TRect target = Bounds(used_, 0, images.Width(), height_);
  DrawBitmapPart(strip_->Canvas(), target, images, whole, nullptr, clNone, 0);
  if (masked_) {
    // Set (white) mask pixels show the canvas through.
    TBitmap bits;
    if (mask != nullptr) {
      bits.SetImage(mask->Image());
    } else {
      bits.SetImage(images.Image());
      bits.Mask(FromQColor(QColor(images.Image().pixel(0, height_ - 1))));
    }
    DrawBitmapPart(mask_->Canvas(), target, bits, whole, nullptr, clNone, 0);
  }
  for (int k = 0; k < count; ++k) {
    entries_.push_back(static_cast<uint32_t>(used_ + k * width_) | (masked_ ? kEntryMasked : 0));
  }
  used_ += count * width_;
  Change();
  return first;
}

void TKitImageListItem::AddImages(TKitImageListItem& source) {
  if (source.width_ != width_ || source.height_ != height_) {
    throw EInvalidGraphicOperation("Invalid image size");
  }
  if (source.IsEmpty()) return;
  TBitmap images;
  images.SetImage(source.strip_->Image().copy(0, 0, source.used_, height_));
  TBitmap mask;
  if (source.masked_) mask.SetImage(source.mask_->Image().copy(0, 0, source.used_, height_));
  Add(images, source.masked_ ? &mask : nullptr);
}

uint8_t TKitImageListItem::GetFlags() const {
  return TKitListItem::GetFlags() | PixelFormatFlags(pixel_format_);
}

void TKitImageListItem::DefineProperties(TFiler& filer) {
  TKitListItem::DefineProperties(filer);
  // The older form of the payload alone; read, never written.
  filer.DefineBinaryProperty(
      "Bitmap", [this](TStream& stream) { ReadImages(stream, false); }, {}, false);
}

void TKitImageListItem::ReadPayload(TStream& stream, uint8_t flags) {
  pixel_format_ = PixelFormatFromFlags(flags);
  ReadImages(stream, (flags & kItemCompressed) != 0);
}

void TKitImageListItem::ReadImages(TStream& stream, bool compressed) {
  const int32_t height = ReadInteger(stream);
  const int32_t width = ReadInteger(stream);
  const int32_t alloc_by = ReadInteger(stream);
  const bool masked = ReadByte(stream) != 0;
  const int32_t count = ReadInteger(stream);
  if (height <= 0 || width <= 0 || width > kMaxStripWidth || height > kMaxStripWidth ||
      alloc_by <= 0 || count < 0 || count > kMaxStripWidth / width) {
    BadStream();
  }
  auto strip = std::make_unique<TBitmap>();
  auto mask = std::make_unique<TBitmap>();
  const int used = count * width;
  if (count > 0) {
    ReadBitmap(stream, *strip, compressed);
    if (masked) ReadBitmap(stream, *mask, compressed);
    if (strip->Width() < used || strip->Height() != height ||
        (masked && (mask->Width() < used || mask->Height() != height))) {
      BadStream();
    }
  }
  height_ = height;
  width_ = width;
  alloc_by_ = alloc_by;
  masked_ = masked;
  strip_ = std::move(strip);
  mask_ = std::move(mask);
  used_ = used;
  entries_.clear();
  for (int k = 0; k < count; ++k) {
    entries_.push_back(static_cast<uint32_t>(k * width) | (masked ? kEntryMasked : 0));
  }
  Change();
}

void TKitImageListItem::WritePayload(TStream& stream) {
  WriteInteger(stream, height_);
  WriteInteger(stream, width_);
  WriteInteger(stream, alloc_by_);
  WriteByte(stream, masked_ ? 1 : 0);
  WriteInteger(stream, Count());
  if (IsEmpty()) return;
  TBitmap strip;
  strip.SetImage(strip_->Image().copy(0, 0, used_, height_));
  WriteBitmap(stream, strip, Compressed(), DibFormatCode(pixel_format_));
  if (!masked_) return;
  TBitmap mask;
  mask.SetImage(mask_->Image().copy(0, 0, used_, height_));
  WriteBitmap(stream, mask, Compressed(), kDibMono);
}

void TKitImageListItem::AssignPayload(TKitListItem& source) {
  auto& item = static_cast<TKitImageListItem&>(source);
  alloc_by_ = item.alloc_by_;
  width_ = item.width_;
  height_ = item.height_;
  masked_ = item.masked_;
  drawing_style_ = item.drawing_style_;
  bk_color_ = item.bk_color_;
  blend_color_ = item.blend_color_;
  strip_->SetImage(item.strip_->Image());
  mask_->SetImage(item.mask_->Image());
  used_ = item.used_;
  entries_ = item.entries_;
  pixel_format_ = item.pixel_format_;
}

// ----------------------------------------------------------- TKitImageList

TKitImageList::TKitImageList(TComponent* owner)
    : TKitCustomImageList(
          owner, [](TComponent* o) -> TKitListItem* { return new TKitImageListItem(o); },
          "KITIML30") {}

TKitImageListItem* TKitImageList::Items(int i) const {
  return dynamic_cast<TKitImageListItem*>(Item(i));
}

int TKitImageList::GetSize(int i, int what) {
  TKitImageListItem* item = Items(i);
  if (item == nullptr) return 0;
  return what == 0 ? item->Width() : item->Height();
}

int TKitImageList::Count(int i) const {
  TKitImageListItem* item = Items(i);
  return item != nullptr ? item->Count() : -1;
}

bool TKitImageList::IsMasked(int i) {
  TKitImageListItem* item = Items(i);
  return item != nullptr && item->Masked();
}

bool TKitImageList::FindImage(int i, int j, TKitImagePlace& place) {
  TKitImageListItem* item = Items(i);
  if (item == nullptr || j < 0 || j >= item->Count()) return false;
  place.bitmap = &item->Strip();
  place.bounds = Bounds(item->Offset(j), 0, item->Width(), item->Height());
  place.mask = item->Masked() ? &item->MaskStrip() : nullptr;
  place.style = item->DrawingStyle();
  place.background = item->BkColor();
  place.blend = item->BlendColor();
  return true;
}

}  // namespace jw
