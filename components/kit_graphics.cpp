#include "components/kit_graphics.h"

#include <algorithm>

#include "platform/gui/qt_convert.h"
#include "platform/rtl/numbers.h"

namespace jw {

namespace {

TRect Intersection(const TRect& a, const TRect& b) {
  return Rect(std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
              std::min(a.Bottom, b.Bottom));
}

QRgb Rgb(TColor color) {
  return ToQColor(color).rgb() & 0xFFFFFF;
}

// Makes the pixels of the colour key clear (alpha 0).
void ClearColor(QImage& picture, QRgb key) {
  for (int y = 0; y < picture.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int x = 0; x < picture.width(); ++x) {
      if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
    }
  }
}

// The part of the bitmap as ARGB pixels, clear where the canvas is to show
// through. Drawing it over the canvas gives what the mask's AND followed by
// the image's OR gives when the image is black under the mask.
QImage Picture(const TBitmap& bitmap, const TRect& source, const TBitmap* mask, TColor color,
               uint32_t flags) {
  QImage picture = bitmap.Image().copy(ToQRect(source)).convertToFormat(QImage::Format_ARGB32);
  if ((flags & kDrawBrushCopy) != 0) {
    // The bitmap's own transparent colour is that of its bottom-left pixel.
    const QRgb key = bitmap.Image().pixel(0, bitmap.Height() - 1) & 0xFFFFFF;
    const QRgb fill = 0xFF000000 | Rgb(color);
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x) {
        if ((row[x] & 0xFFFFFF) == key) row[x] = fill;
      }
    }
  } else if ((flags & kDrawMasked) != 0 && mask != nullptr) {
    const QImage bits = mask->Image().copy(ToQRect(source));
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x) {
        if (bits.valid(x, y) && (bits.pixel(x, y) & 0xFFFFFF) != 0) row[x] = 0;
      }
    }
  } else if ((flags & kDrawColorMask) != 0) {
    ClearColor(picture, Rgb(color));
  }
  return picture;
}

// Where the picture of w x h pixels goes in dest, by the placement flags.
TRect Placement(const TRect& dest, int w, int h, uint32_t flags) {
  if ((flags & kDrawCentre) != 0) {
    return Bounds(dest.Left + (dest.Width() - w) / 2, dest.Top + (dest.Height() - h) / 2, w, h);
  }
  if ((flags & kDrawStretch) != 0) {
    const uint32_t scale = flags & (kDrawScaleWidth | kDrawScaleHeight);
    if (scale == (kDrawScaleWidth | kDrawScaleHeight)) return FitRect(Rect(0, 0, w, h), dest);
    if (scale == kDrawScaleHeight) {
      return Bounds(dest.Left, dest.Top, dest.Width(),
                    static_cast<int>(Round(static_cast<double>(dest.Width()) / w * h)));
    }
    if (scale == kDrawScaleWidth) {
      return Bounds(dest.Left, dest.Top,
                    static_cast<int>(Round(static_cast<double>(dest.Height()) / h * w)),
                    dest.Height());
    }
    return dest;
  }
  return Bounds(dest.Left, dest.Top, w, h);
}

// A bitmap's owner marks it not to be drawn by moving its canvas's pen to
// x = -1.
bool NotToBeDrawn(TBitmap& bitmap) {
  return bitmap.Canvas().PenPos().X == -1;
}

}  // namespace

TRect FitRect(const TRect& source, const TRect& dest) {
  if (source.Width() <= 0 || source.Height() <= 0) return Bounds(dest.Left, dest.Top, 0, 0);
  const double scale = std::min(static_cast<double>(dest.Width()) / source.Width(),
                                static_cast<double>(dest.Height()) / source.Height());
  return Bounds(dest.Left, dest.Top, static_cast<int>(Round(source.Width() * scale)),
                static_cast<int>(Round(source.Height() * scale)));
}

TRect DrawBitmapPart(TCanvas& canvas, const TRect& dest, const TBitmap& bitmap, const TRect& source,
                     const TBitmap* mask, TColor color, uint32_t flags, const TRect& clip) {
  if (dest.IsEmpty()) return {};
  const TRect part = Intersection(source, Rect(0, 0, bitmap.Width(), bitmap.Height()));
  const int w = part.Width();
  const int h = part.Height();
  if (w <= 0 || h <= 0) return dest;
  const bool tiled = (flags & kDrawTile) != 0 && (flags & kDrawStretch) == 0;
  const TRect placed = tiled ? dest : Placement(dest, w, h, flags);
  if (placed.IsEmpty()) return dest;

  QImage picture = Picture(bitmap, part, mask, color, flags);
  if (!tiled && (placed.Width() != w || placed.Height() != h)) {
    // Nearest neighbour, so that no new colours appear.
    picture = picture.scaled(placed.Width(), placed.Height(), Qt::IgnoreAspectRatio,
                             Qt::FastTransformation);
  }
  auto draw_at = [&](const TRect& target) {
    TRect visible = tiled ? Intersection(target, dest) : target;
    if (!clip.IsEmpty()) visible = Intersection(visible, clip);
    if (visible.IsEmpty()) return;
    TIcon piece;
    piece.SetImage(picture.copy(visible.Left - target.Left, visible.Top - target.Top,
                                visible.Width(), visible.Height()));
    canvas.Draw(visible.Left, visible.Top, piece);
  };
  if (tiled) {
    const int columns = dest.Width() / w + 1;
    const int rows = dest.Height() / h + 1;
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        draw_at(Bounds(dest.Left + column * w, dest.Top + row * h, w, h));
      }
    }
  } else {
    draw_at(placed);
  }
  return placed;
}

void DrawBitmap(TCanvas& canvas, const TRect& dest, TBitmap& bitmap, TRect& out_rect, TColor color,
                uint32_t flags) {
  out_rect = {};
  if (NotToBeDrawn(bitmap)) return;
  out_rect = DrawBitmapPart(canvas, dest, bitmap, Rect(0, 0, bitmap.Width(), bitmap.Height()),
                            nullptr, color, flags);
}

void DrawBitmapClipped(TCanvas& canvas, const TRect& dest, TBitmap& bitmap, TColor color,
                       int32_t offset, uint32_t flags) {
  if (NotToBeDrawn(bitmap)) return;
  TRect clip;
  if ((flags & kDrawClip) != 0) {
    const auto dx = static_cast<int16_t>(offset & 0xFFFF);
    const auto dy = static_cast<int16_t>((static_cast<uint32_t>(offset) >> 16) & 0xFFFF);
    clip = Rect(dest.Left + dx, dest.Top + dy, dest.Right + dx, dest.Bottom + dy);
  }
  DrawBitmapPart(canvas, dest, bitmap, Rect(0, 0, bitmap.Width(), bitmap.Height()), nullptr, color,
                 flags, clip);
}

void FillBitmap(TBitmap* bitmap, const TRect& rect, TColor color) {
  if (bitmap == nullptr || rect.IsEmpty()) return;
  bitmap->SetSize(rect.Width(), rect.Height());
  bitmap->Canvas().Brush().SetColor(color);
  bitmap->Canvas().FillRect(Rect(0, 0, rect.Width(), rect.Height()));
}

void MakeColorMask(TCanvas& canvas, const TRect& rect, TBitmap& mask, TColor transparent_color,
                   TBitmap& image) {
  QImage area(std::max(rect.Width(), 0), std::max(rect.Height(), 0), QImage::Format_BGR888);
  for (int y = 0; y < area.height(); ++y) {
    for (int x = 0; x < area.width(); ++x) {
      const TColor pixel = canvas.Pixels(rect.Left + x, rect.Top + y);
      area.setPixel(x, y, 0xFF000000 | Rgb(pixel == clNone ? clBlack : pixel));
    }
  }
  mask.SetImage(area);
  mask.Mask(ColorToRGB(transparent_color));
  QImage picture = area.convertToFormat(QImage::Format_ARGB32);
  ClearColor(picture, Rgb(transparent_color));
  // The cleared pixels become black, as the mask's AND makes them.
  image.SetImage(
      picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_BGR888));
}

}  // namespace jw
