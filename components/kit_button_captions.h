// The captions of the kit's standard button kinds, and the process-wide
// cache of glyph bitmaps that starts empty and is freed at exit.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/bitmap.h"

namespace jw {

enum class TKitButtonKind {
  kbOk,
  kbCancel,
  kbHelp,
  kbYes,
  kbNo,
  kbClose,
  kbAbort,
  kbRetry,
  kbIgnore,
  kbAll
};

// "OK", "Cancel", "&Help", "&Yes", "&No", "&Close", "Abort", "&Retry",
// "&Ignore" or "&All"; '&' marks the accelerator key.
const std::string& ButtonCaption(TKitButtonKind kind);

inline constexpr int kButtonGlyphSlots = 11;
// The glyph cached in slot, or null when it is empty or out of range.
TBitmap* ButtonGlyph(int slot);
// Keeps glyph in slot (null empties it); a slot out of range keeps nothing.
void SetButtonGlyph(int slot, std::unique_ptr<TBitmap> glyph);

}  // namespace jw
