// The graphic family: TGraphic (what a picture holds), TBitmap over a QImage
// with the original platform's pixel formats and scan-line layouts, and
// TIcon. 24-bit scan lines hold blue, green, red; 1-bit ones are MSB first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QImage>
#include <optional>

#include "platform/gui/canvas.h"
#include "platform/gui/color.h"
#include "platform/gui/gui_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/persistent.h"

namespace jw {

// A picture file that cannot be read as the graphic asked for.
class EInvalidGraphic : public Exception {
  using Exception::Exception;
};

class TGraphic : public TPersistent {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  bool Empty() const { return Width() == 0 || Height() == 0; }
  bool Transparent() const { return transparent_; }
  virtual void SetTransparent(bool transparent);

  // Loads the file; EFOpenError when it cannot be opened, EInvalidGraphic
  // when its contents are not this kind of graphic.
  virtual void LoadFromFile(const std::string& file_name) = 0;

  // The pixels as a Qt image for drawing (ARGB for transparent graphics).
  virtual QImage ToImage() const = 0;

  TNotifyEvent OnChange;

 protected:
  void Changed();

 private:
  bool transparent_ = false;
};

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf24bit, pf32bit };

class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  // Keeps the pixels that still fit; new ones are white.
  void SetWidth(int width) { SetSize(width, Height()); }
  void SetHeight(int height) { SetSize(Width(), height); }
  void SetSize(int width, int height);

  // pfDevice is what a new bitmap and anything drawn on it becomes: 24-bit.
  TPixelFormat PixelFormat() const;
  // Converts the pixels to the format (palette formats keep their colours
  // where they can).
  void SetPixelFormat(TPixelFormat format);

  // Row y's bytes: 3 per pixel blue, green, red for 24 bits; 8 pixels a byte,
  // MSB first, for 1 bit; palette indices for 8 bits. EInvalidGraphic for
  // a row outside the bitmap.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;

  // Makes the bitmap a 1-bit mask of itself: pixels of the colour become set
  // bits (1), all others clear bits (0).
  void Mask(TColor transparent_color);

  // The canvas draws on the pixels; drawing turns palette formats into 24-bit.
  TCanvas& Canvas();

  // Reads an uncompressed BMP file of 1, 4, 8, 24 or 32 bits;
  // EInvalidGraphic "Bitmap image is not valid" for anything else.
  void LoadFromFile(const std::string& file_name) override;
  void LoadFromBytes(const std::string& bytes);
  // Writes a 24-bit BMP file.
  void SaveToFile(const std::string& file_name) const;

  void Assign(TPersistent* source) override;
  QImage ToImage() const override;
  const QImage& Image() const { return image_; }
  void SetImage(QImage image);

 private:
  class BitmapCanvas;
  friend class BitmapCanvas;

  // Turns palette images into 24-bit before drawing on them.
  QImage& DrawableImage();

  QImage image_;
  std::unique_ptr<BitmapCanvas> canvas_;
};

// An icon is a small picture with transparent parts; we keep it as ARGB.
class TIcon : public TGraphic {
 public:
  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  // Reads any picture format Qt knows (ICO, PNG, BMP).
  void LoadFromFile(const std::string& file_name) override;
  void Assign(TPersistent* source) override;
  QImage ToImage() const override { return image_; }
  void SetImage(QImage image);

 private:
  QImage image_;
};

}  // namespace jw
