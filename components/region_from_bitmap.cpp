#include "components/region_from_bitmap.h"

#include <algorithm>
#include <cstdint>
#include <deque>

namespace jw {

namespace {

// Reads one pixel of a scan line as a value to compare with the transparent
// colour: the TColor of a 24-bit pixel, or for a mask 0 where the bit is set
// (the transparent colour) and 0xFFFFFF where it is clear.
class PixelReader {
 public:
  explicit PixelReader(bool is_mask) : is_mask_(is_mask) {}

  TColor Read(const uint8_t* line, int x) const {
    if (is_mask_) return (line[x / 8] & kMaskBits[x % 8]) != 0 ? 0 : 0xFFFFFF;
    const uint8_t* p = line + 3 * x;
    return TColor(p[0]) * 65536 + TColor(p[1]) * 256 + TColor(p[2]);
  }

 private:
  static constexpr uint8_t kMaskBits[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
  bool is_mask_;
};

std::optional<TRegion> TraceOutline(const TBitmap* bitmap, TColor transparent_color) {
  // Only a mask needs a bitmap of its own; 24-bit pixels are read where
  // they are, without copying them.
  TBitmap mask;
  const TBitmap* pixels = bitmap;
  TColor transparent = transparent_color;
  const bool is_mask = bitmap->PixelFormat() != TPixelFormat::pf24bit;
  if (is_mask) {
    mask.SetImage(bitmap->Image());
    mask.Mask(transparent_color);
    pixels = &mask;
    transparent = 0;
  }
  const PixelReader reader(is_mask);
  const int width = pixels->Width();
  std::optional<TRegion> region;
  for (int y = 0; y < pixels->Height(); ++y) {
    const uint8_t* line = pixels->ScanLine(y);
    int x = 0;
    while (x < width) {
      while (x < width && reader.Read(line, x) == transparent) ++x;
      if (x == width) break;
      int k = x;
      while (k < width && reader.Read(line, k) != transparent) ++k;
      // Runs arrive row by row from the top, which the region adds in
      // constant time; the result equals OR-combining each run's rectangle.
      if (!region) region.emplace();
      region->AddRect(Rect(x, y, k, y + 1));
      x = k;
    }
  }
  return region;
}

// The outlines traced last, by the pixels' cache key (which every write to
// the pixels changes) and transparent colour: many windows on one picture
// share its pixels, and each would otherwise trace the same outline again.
struct TracedOutline {
  int64_t pixels_key;
  TColor transparent;
  std::optional<TRegion> region;
};
constexpr size_t kTracedOutlinesKept = 8;

std::deque<TracedOutline>& TracedOutlines() {
  static std::deque<TracedOutline> outlines;
  return outlines;
}

}  // namespace

std::optional<TRegion> RegionFromBitmap(const TBitmap* bitmap, TColor transparent_color) {
  if (bitmap == nullptr || bitmap->Width() == 0 || bitmap->Height() == 0) return std::nullopt;
  const int64_t key = bitmap->Image().cacheKey();
  auto& outlines = TracedOutlines();
  const auto found = std::find_if(outlines.begin(), outlines.end(), [&](const TracedOutline& o) {
    return o.pixels_key == key && o.transparent == transparent_color;
  });
  if (found != outlines.end()) return found->region;
  if (outlines.size() == kTracedOutlinesKept) outlines.pop_back();
  outlines.push_front({key, transparent_color, TraceOutline(bitmap, transparent_color)});
  return outlines.front().region;
}

}  // namespace jw
