// TCanvas with its TPen and TBrush: drawing on a bitmap or, during a paint,
// on a control. Text is anchored at the top-left corner of its cell and
// turned counter-clockwise by the font's orientation.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/color.h"
#include "platform/gui/font.h"
#include "platform/gui/gui_types.h"

class QPainter;

namespace jw {

class TGraphic;

enum class TPenStyle { psSolid, psDash, psDot, psClear };
enum class TBrushStyle { bsSolid, bsClear };

class TPen {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  int Width() const { return width_; }
  void SetWidth(int width) { width_ = width < 1 ? 1 : width; }
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle style) { style_ = style; }

 private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = TPenStyle::psSolid;
};

class TBrush {
 public:
  TColor Color() const { return color_; }
  // Choosing a colour makes the brush solid, as on the original platform.
  void SetColor(TColor color) {
    color_ = color;
    style_ = TBrushStyle::bsSolid;
  }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle style) { style_ = style; }

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = TBrushStyle::bsSolid;
};

class TCanvas {
 public:
  TCanvas();
  virtual ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TFont& Font() { return font_; }
  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }

  // Writes text with its cell's top-left corner at (x, y). A solid brush
  // fills the cell first; a clear brush leaves the background.
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  // The cell height: ascent plus descent of the font.
  int TextHeight(const std::string& text);

  // Draws the graphic at its own size with its top-left corner at (x, y).
  void Draw(int x, int y, TGraphic& graphic);
  // Scales the graphic into rect by nearest neighbour, so no new colours
  // appear at the edges.
  void StretchDraw(const TRect& rect, TGraphic& graphic);
  // Fills rect with the brush.
  void FillRect(const TRect& rect);
  // Outlines rect with the pen and fills its inside with the brush.
  void Rectangle(const TRect& rect);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  // Where the next LineTo starts: set by MoveTo, LineTo and TextOut.
  TPoint PenPos() const { return pen_pos_; }

  // The colour at (x, y); clNone where the canvas has no readable pixels.
  virtual TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor color);

  // Binds the canvas to a painter for the length of a paint; origin is where
  // the canvas's (0, 0) lies on the painter's device. The layer uses this.
  void BindPainter(QPainter* painter, TPoint origin);
  void UnbindPainter();
  bool HasPainter() const { return bound_ != nullptr; }

 protected:
  // A painter for one drawing call, or null when the canvas cannot draw now;
  // EndDraw follows every non-null BeginDraw.
  virtual QPainter* BeginDraw();
  virtual void EndDraw() {}
  // Called when a drawing call found no painter: a control asks to repaint.
  virtual void DrawingRefused() {}

 private:
  class DrawScope;

  TFont font_;
  TPen pen_;
  TBrush brush_;
  TPoint pen_pos_;
  QPainter* bound_ = nullptr;
  TPoint origin_;
};

}  // namespace jw
