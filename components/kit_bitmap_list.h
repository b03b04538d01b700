// TKitBitmapList: a container of single bitmaps, one image per item. An
// item's payload is one bitmap record in the item's pixel format, written
// only for a bitmap that is not empty. An empty item of a container whose
// Source is not internal loads its bitmap when it is first asked for.
#pragma once

#include <memory>

#include "components/kit_image_list.h"

namespace jw {

class TKitBitmapListItem : public TKitListItem {
 public:
  explicit TKitBitmapListItem(TComponent* owner);
  ~TKitBitmapListItem() override;

  // The bitmap, loaded first from the container's source when it is empty
  // (outside loading), by the item's Ident. A library or resource source
  // has no bitmaps here and raises EReadError "Stream read error".
  TBitmap& Bitmap();
  // The bitmap as it is, without loading.
  const TBitmap& Held() const { return *bitmap_; }
  void SetBitmap(const TBitmap& bitmap);
  TKitSavePixelFormat PixelFormat() const { return pixel_format_; }
  void SetPixelFormat(TKitSavePixelFormat format) { pixel_format_ = format; }

  void Clear() override;
  bool IsEmpty() const override { return bitmap_->Empty(); }
  uint8_t GetFlags() const override;

 protected:
  void ReadPayload(TStream& stream, uint8_t flags) override;
  void WritePayload(TStream& stream) override;
  void AssignPayload(TKitListItem& source) override;

 private:
  void LoadFromSource();

  std::unique_ptr<TBitmap> bitmap_;
  TKitSavePixelFormat pixel_format_ = TKitSavePixelFormat::spfDefault;
};

class TKitBitmapList : public TKitCustomImageList {
 public:
  explicit TKitBitmapList(TComponent* owner);

  TKitBitmapListItem* Items(int i) const;

  // 1 for an item with a bitmap, else 0.
  int Count(int i) const override;

 protected:
  // Every image index names the item's one bitmap.
  bool FindImage(int i, int j, TKitImagePlace& place) override;
};

}  // namespace jw
