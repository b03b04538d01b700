// The window region of a bitmap: every pixel that does not have the
// transparent colour, as rectangles one row high joined into one region.
#pragma once

#include <optional>

#include "platform/gui/bitmap.h"
#include "platform/gui/color.h"
#include "platform/gui/region.h"

namespace jw {

// None for a missing or empty bitmap, or when every pixel is transparent.
// A 24-bit bitmap is read as blue, green, red bytes forming a TColor value;
// any other format is first turned into a mask of the transparent colour.
std::optional<TRegion> RegionFromBitmap(const TBitmap* bitmap, TColor transparent_color);

}  // namespace jw
