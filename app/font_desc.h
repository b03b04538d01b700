// The font description text with which fonts are stored (name, size in
// points and colour joined by commas, then ",fsBold", ",fsItalic",
// ",fsUnderline", ",fsStrikeout" for each style: "Arial,12,0,fsBold"), and
// the angled font with which note text is drawn.
#pragma once

#include <string>

#include "platform/gui/canvas.h"
#include "platform/gui/font.h"

namespace jw {

inline constexpr int kMinFontDescSize = 6;
inline constexpr int kMaxFontDescSize = 1000;

std::string FontToDesc(const TFont& font);

// Sets name, size (bounded to 6..1000 points), colour and styles from desc;
// missing fields give an empty name, size 6 and colour 0. The empty text
// gives the application's default font at its size, black, plain. Makes the
// comma the token delimiter for the rest of the run.
void DescToFont(TFont& font, const std::string& desc);

// Gives the canvas's font the angle (degrees, counter-clockwise, truncated to
// tenths) at the cell height of its "M", keeping bold, italic and underline
// and dropping strike-out.
void SetAngledFont(TCanvas& canvas, double angle);

}  // namespace jw
