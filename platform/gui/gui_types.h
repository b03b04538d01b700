// The small value types every GUI unit shares: points, rectangles, mouse
// buttons, the shift state of keys and buttons, alignment and cursors.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/rtl/persistent.h"

namespace jw {

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Half-open: Left and Top are inside, Right and Bottom are not.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom) {
  return {left, top, right, bottom};
}
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}
// Moves every side of r inward by dx and dy (outward for negative values).
inline void InflateRect(TRect& r, int dx, int dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
}

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// The shift state as a bit set, with the host library's members.
enum TShiftFlag : uint8_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64,
};
using TShiftState = uint8_t;

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

enum TCursor : int {
  crDefault = 0,
  crArrow = -2,
  crCross = -3,
  crIBeam = -4,
  crSizeAll = -22,
  crHourGlass = -11,
  crHandPoint = -21,
};

// Events name their sender as a TPersistent, the root of our object tree
// (TNotifyEvent comes with it).
using TMouseEvent =
    std::function<void(TPersistent* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TPersistent* sender, TShiftState shift, int x, int y)>;
// Key holds one typed character as a Unicode code point; a handler may change it,
// and setting it to 0 swallows the key.
using TKeyPressEvent = std::function<void(TPersistent* sender, char32_t& key)>;

}  // namespace jw
