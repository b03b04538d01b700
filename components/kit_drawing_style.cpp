#include "components/kit_drawing_style.h"

#include "platform/gui/qt_convert.h"

namespace jw {

namespace {

constexpr QRgb kShows = 0xFFFFFFFF;
constexpr QRgb kCovers = 0xFF000000;

bool BlendsAt(TKitDrawingStyle style, int x, int y) {
  if (style == TKitDrawingStyle::dsBlendSparse) return x % 2 == 0 && y % 2 == 0;
  if (style == TKitDrawingStyle::dsBlendChecked) return x % 2 != y % 2;
  return false;
}

}  // namespace

bool StyleImage(const TBitmap& bitmap, const TRect& bounds, const TBitmap* mask,
                TKitDrawingStyle style, TColor background, TColor blend, TBitmap& image,
                TBitmap& through) {
  QImage picture = bitmap.Image().copy(ToQRect(bounds)).convertToFormat(QImage::Format_RGB32);
  QImage shows(picture.size(), QImage::Format_RGB32);
  shows.fill(kCovers);
  if (mask != nullptr) {
    const QImage bits = mask->Image().copy(ToQRect(bounds));
    for (int y = 0; y < shows.height(); ++y) {
      for (int x = 0; x < shows.width(); ++x) {
        if (bits.valid(x, y) && (bits.pixel(x, y) & 0xFFFFFF) != 0) shows.setPixel(x, y, kShows);
      }
    }
  }
  const bool on_background = background != clNone && style != TKitDrawingStyle::dsMasked;
  const bool blended = blend != clNone;
  const QRgb background_rgb = ToQColor(background).rgb();
  const QRgb blend_rgb = ToQColor(blend).rgb();
  bool any_shows = false;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (shows.pixel(x, y) == kShows) {
        if (!on_background) {
          any_shows = true;
          continue;
        }
        picture.setPixel(x, y, background_rgb);
        shows.setPixel(x, y, kCovers);
      }
      if (blended && BlendsAt(style, x, y)) picture.setPixel(x, y, blend_rgb);
    }
  }
  image.SetImage(picture.convertToFormat(QImage::Format_BGR888));
  through.SetImage(shows);
  return any_shows;
}

}  // namespace jw
