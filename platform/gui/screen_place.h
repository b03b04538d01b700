// Where a top-level window is on the screen, as the display server has it.
#pragma once

#include <QPoint>
#include <optional>

class QWidget;

namespace jw {

// The place of the window's top left corner on the screen, asked of the X
// server. A window manager that takes the window into a frame of its own
// moves the frame, and Qt's own record of the window's place can stay where
// the window sat inside the frame; the server knows. Nothing when the window
// has not been made or the display is not X (offscreen in tests).
std::optional<QPoint> WindowPlaceOnScreen(const QWidget& window);

}  // namespace jw
