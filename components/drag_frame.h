// The frame that shows where a dragged window will land: a thin top-level
// window (3 pixels wide, no input) in place of the original platform's XOR
// frame drawn on the screen. Like that frame, drawing it twice at the same
// place takes it away again.
#pragma once

#include <memory>

#include "platform/gui/gui_types.h"

class QWidget;

namespace jw {

class TDragFrame {
 public:
  TDragFrame();
  ~TDragFrame();
  TDragFrame(const TDragFrame&) = delete;
  TDragFrame& operator=(const TDragFrame&) = delete;

  // Shows the frame around rect (screen coordinates), or hides it when it
  // is showing there already.
  void Toggle(const TRect& rect);
  void Hide();
  bool Showing() const;
  // Where the frame shows; empty while hidden.
  TRect Rect() const;

 private:
  std::unique_ptr<QWidget> window_;
  TRect rect_;
};

}  // namespace jw
