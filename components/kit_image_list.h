// The image containers: TKitCustomImageList, the interface through which the
// tray icon and other users draw the images of a container, and
// TKitImageList, whose items are strips of equally sized images with an
// optional mask strip.
//
// Image-list item payload (the item record's payload, always written):
//   4  height   4  width   4  AllocBy   1  masked (0 or 1)   4  image count c
//   when c > 0: the image strip as a bitmap record (c x width wide) and,
//   when masked, the mask strip as a 1-bit bitmap record
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "components/dib_file.h"
#include "components/kit_container_base.h"
#include "components/kit_drawing_style.h"
#include "platform/gui/bitmap.h"
#include "platform/gui/canvas.h"

namespace jw {

// A bitmap's colour table; empty for a bitmap without one.
using TKitPalette = std::vector<TColor>;

// An image operation the strip cannot take.
class EInvalidGraphicOperation : public Exception {
  using Exception::Exception;
};

// List index i names an item; image index j an image inside it. The
// operations work on where a list keeps each image (FindImage); the base
// holds no images and answers as for an index out of range.
class TKitCustomImageList : public TKitCustomContainer {
 public:
  using TKitCustomContainer::TKitCustomContainer;

  TKitSavePixelFormat DefaultPixelFormat() const { return default_pixel_format_; }
  void SetDefaultPixelFormat(TKitSavePixelFormat format) { default_pixel_format_ = format; }

  // The canvas that holds the images of item i, or null.
  virtual TCanvas* GetCanvas(int i);
  // Where image 0 of item i lies on that canvas.
  virtual TRect GetBounds(int i);
  // The width (what 0) or height (what 1) of the images of item i.
  virtual int GetSize(int i, int what);
  // The number of images of item i.
  virtual int Count(int i) const;
  virtual bool IsValid(int i, int j);
  // Makes dest a copy of image j of item i.
  virtual void GetBitmap(int i, int j, TBitmap& dest);
  virtual bool IsMasked(int i);
  // The colour table of the bitmap that holds the images of item i; empty
  // out of range.
  virtual TKitPalette GetPalette(int i);
  // The colour of the bottom-left pixel of image 0; white out of range.
  virtual TColor GetTransparentColor(int i);
  // The pixel of image j at pt; white out of range.
  virtual TColor GetPixel(int i, int j, TPoint pt);
  // Draws image j of item i with its top-left corner at (x, y).
  virtual void Draw(TCanvas& canvas, int x, int y, int i, int j);
  // Draws image j of item i into dest with the flags of DrawBitmapPart, as
  // the item's drawing style shows it; a masked image is drawn through its
  // mask.
  virtual void DrawExt(TCanvas& canvas, const TRect& dest, int i, int j, TColor color,
                       uint32_t flags);
  // Draws image j of item i at its own size at (x, y) with the flags; the
  // colour they use is the item's transparent colour.
  virtual void DrawFlags(TCanvas& canvas, int x, int y, int i, int j, uint32_t flags);

 protected:
  // Where image j of item i is kept: its bitmap, its place in it and its
  // mask (null when unmasked).
  struct TKitImagePlace {
    TBitmap* bitmap = nullptr;
    TRect bounds;
    TBitmap* mask = nullptr;
    TKitDrawingStyle style = TKitDrawingStyle::dsNormal;
    TColor background = clNone;
    TColor blend = clNone;
  };
  // False when there is no such image.
  virtual bool FindImage(int i, int j, TKitImagePlace& place);
  void AssignDefaults(TKitCustomContainer& source) override;

 private:
  TKitSavePixelFormat default_pixel_format_ = TKitSavePixelFormat::spfDefault;
};

class TKitImageListItem : public TKitListItem {
 public:
  explicit TKitImageListItem(TComponent* owner);
  ~TKitImageListItem() override;

  int AllocBy() const { return alloc_by_; }
  void SetAllocBy(int images) { alloc_by_ = images > 0 ? images : 1; }
  // Changing the size (to a positive value) or the mask flag empties the
  // strip.
  int Width() const { return width_; }
  void SetWidth(int width);
  int Height() const { return height_; }
  void SetHeight(int height);
  bool Masked() const { return masked_; }
  void SetMasked(bool masked);
  // How the images are drawn, on which background and with which blend
  // colour; clNone for none.
  TKitDrawingStyle DrawingStyle() const { return drawing_style_; }
  void SetDrawingStyle(TKitDrawingStyle style);
  TColor BkColor() const { return bk_color_; }
  void SetBkColor(TColor color);
  TColor BlendColor() const { return blend_color_; }
  void SetBlendColor(TColor color);

  int Count() const { return static_cast<int>(entries_.size()); }
  // The x offset of image j in the strip.
  int Offset(int j) const { return static_cast<int>(entries_[static_cast<size_t>(j)] & 0xFFFF); }
  TBitmap& Strip() { return *strip_; }
  TBitmap& MaskStrip() { return *mask_; }

  // Appends the images of a bitmap that is Height high and a multiple of
  // Width wide; the mask, when given, covers it alike, and a masked item
  // without one takes the bitmap's bottom-left colour as transparent.
  // Returns the index of the first new image. Another size raises
  // EInvalidGraphicOperation "Invalid image size"; a strip that would pass
  // 32768 pixels "Too many images".
  int Add(const TBitmap& images, const TBitmap* mask);
  // Appends the images of another item of the same image size.
  void AddImages(TKitImageListItem& source);

  void Clear() override;
  bool IsEmpty() const override { return entries_.empty(); }
  uint8_t GetFlags() const override;
  void DefineProperties(TFiler& filer) override;

 protected:
  bool WritesPayload() const override { return true; }
  bool MarksPayload() const override { return false; }
  void ReadPayload(TStream& stream, uint8_t flags) override;
  void WritePayload(TStream& stream) override;
  void AssignPayload(TKitListItem& source) override;

 private:
  void ReadImages(TStream& stream, bool compressed);
  // Grows the strips to hold count more images, AllocBy at a time.
  void Reserve(int count);

  int alloc_by_ = 4;
  int width_ = 16;
  int height_ = 16;
  bool masked_ = false;
  TKitDrawingStyle drawing_style_ = TKitDrawingStyle::dsNormal;
  TColor bk_color_ = clNone;
  TColor blend_color_ = clNone;
  std::unique_ptr<TBitmap> strip_;
  std::unique_ptr<TBitmap> mask_;
  int used_ = 0;
  std::vector<uint32_t> entries_;  // x offset in bits 0..15, masked flag at bit 16
  TKitSavePixelFormat pixel_format_ = TKitSavePixelFormat::spfDefault;
};

class TKitImageList : public TKitCustomImageList {
 public:
  explicit TKitImageList(TComponent* owner);

  TKitImageListItem* Items(int i) const;

  int GetSize(int i, int what) override;
  // -1 out of range.
  int Count(int i) const override;
  bool IsMasked(int i) override;

 protected:
  bool FindImage(int i, int j, TKitImagePlace& place) override;
};

}  // namespace jw
