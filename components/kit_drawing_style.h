// The drawing styles of image-list images: how an image is laid over the
// list's background colour and dithered with its blend colour before the
// kit's bitmap drawing places it.
#pragma once

#include "platform/gui/bitmap.h"
#include "platform/gui/color.h"
#include "platform/gui/gui_types.h"

namespace jw {

enum class TKitDrawingStyle {
  dsBlendSparse,   // on the background, blend colour at every pixel with x and y even
  dsBlendChecked,  // on the background, blend colour where the parities of x and y differ
  dsNormal,        // through the mask, or onto the background when one is set
  dsMasked         // through the mask
};

// Makes image the part bounds of bitmap as the style shows it, with x and y
// counted from the image's corner, and through a mask of it whose white
// pixels show the canvas. mask, when not null, marks those pixels of
// bitmap alike. A background or blend colour of clNone is not applied.
// Returns whether any pixel shows the canvas.
bool StyleImage(const TBitmap& bitmap, const TRect& bounds, const TBitmap* mask,
                TKitDrawingStyle style, TColor background, TColor blend, TBitmap& image,
                TBitmap& through);

}  // namespace jw
