// The kit's bitmap drawing: one routine that places a bitmap (or part of it)
// in a rectangle plain, centred, stretched or tiled, with three kinds of
// transparency, and the small helpers it is made of. The containers draw
// their items through it.
#pragma once

#include <cstdint>

#include "platform/gui/bitmap.h"
#include "platform/gui/canvas.h"
#include "platform/gui/gui_types.h"

namespace jw {

// Drawing flags.
inline constexpr uint32_t kDrawClip = 0x01;       // clip to the destination (DrawBitmapClipped)
inline constexpr uint32_t kDrawCentre = 0x08;     // centred in the destination
inline constexpr uint32_t kDrawStretch = 0x10;    // stretched to the destination
inline constexpr uint32_t kDrawTile = 0x20;       // tiled over the destination
inline constexpr uint32_t kDrawColorMask = 0x40;  // pixels of the colour show through
inline constexpr uint32_t kDrawBrushCopy =
    0x80;  // the bitmap's transparent colour becomes the colour
inline constexpr uint32_t kDrawMasked = 0x100;  // set mask bits show through
// With kDrawStretch: 0x200 keeps the height and scales the width with it,
// 0x400 keeps the width and scales the height, both fit the bitmap inside
// with its aspect ratio.
inline constexpr uint32_t kDrawScaleWidth = 0x200;
inline constexpr uint32_t kDrawScaleHeight = 0x400;
// Draw with the bitmap's own colour table. Qt paints only on true-colour
// surfaces and always maps an indexed image through its own colour table,
// so a paletted bitmap draws with its own colours with or without this
// flag: there is no device palette to select and realise into the target,
// and the condition for doing so (option bit 0 of the application object
// clear, or a screen deeper than 8 bits) cannot change a pixel.
inline constexpr uint32_t kDrawPalette = 0x1000;

// The largest rectangle with source's aspect ratio inside dest, at dest's
// top-left corner; sides round to the nearest integer, halves to even.
TRect FitRect(const TRect& source, const TRect& dest);

// Draws the part source of bitmap into dest on canvas and returns the
// rectangle it placed (dest itself when nothing was placed). Tiles are cut
// at dest's edges; clip, when not empty, cuts every drawing. A mask marks
// with set (white) pixels where the canvas shows through; it is used with
// kDrawMasked and must cover source. An empty dest draws nothing.
TRect DrawBitmapPart(TCanvas& canvas, const TRect& dest, const TBitmap& bitmap, const TRect& source,
                     const TBitmap* mask, TColor color, uint32_t flags, const TRect& clip = {});

// The whole bitmap into dest; out_rect receives the placed rectangle. A
// bitmap whose canvas has its pen at x = -1 is marked not to be drawn: it
// draws nothing and out_rect is empty.
void DrawBitmap(TCanvas& canvas, const TRect& dest, TBitmap& bitmap, TRect& out_rect, TColor color,
                uint32_t flags);
// The same; with kDrawClip the drawing is cut to dest moved by offset (x in
// its low 16 bits, y in its high 16 bits, both signed).
void DrawBitmapClipped(TCanvas& canvas, const TRect& dest, TBitmap& bitmap, TColor color,
                       int32_t offset, uint32_t flags);

// Sizes the bitmap to rect and fills it with the colour; an empty rect or a
// null bitmap does nothing.
void FillBitmap(TBitmap* bitmap, const TRect& rect, TColor color);

// Copies rect of canvas into image and into mask, makes mask a 1-bit mask
// of the transparent colour and turns the transparent pixels of image black.
void MakeColorMask(TCanvas& canvas, const TRect& rect, TBitmap& mask, TColor transparent_color,
                   TBitmap& image);

}  // namespace jw
