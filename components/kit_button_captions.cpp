#include "components/kit_button_captions.h"

#include <array>

namespace jw {

namespace {

std::array<std::unique_ptr<TBitmap>, kButtonGlyphSlots>& Glyphs() {
  static std::array<std::unique_ptr<TBitmap>, kButtonGlyphSlots> glyphs;
  return glyphs;
}

bool InRange(int slot) {
  return slot >= 0 && slot < kButtonGlyphSlots;
}

}  // namespace

const std::string& ButtonCaption(TKitButtonKind kind) {
  static const std::array<std::string, 10> kCaptions = {
      "OK", "Cancel", "&Help", "&Yes", "&No", "&Close", "Abort", "&Retry", "&Ignore", "&All"};
  return kCaptions.at(static_cast<size_t>(kind));
}

TBitmap* ButtonGlyph(int slot) {
  return InRange(slot) ? Glyphs()[static_cast<size_t>(slot)].get() : nullptr;
}

void SetButtonGlyph(int slot, std::unique_ptr<TBitmap> glyph) {
  if (InRange(slot)) Glyphs()[static_cast<size_t>(slot)] = std::move(glyph);
}

}  // namespace jw
