#include "platform/gui/keys.h"

#include <QList>
#include <QString>
#include <Qt>

namespace jw {

uint16_t VirtualKeyCode(int qt_key) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
    return static_cast<uint16_t>('A' + qt_key - Qt::Key_A);
  }
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) {
    return static_cast<uint16_t>('0' + qt_key - Qt::Key_0);
  }
  switch (qt_key) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

char32_t KeyPressChar(int qt_key, int qt_modifiers, const std::string& text) {
  switch (qt_key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    default:
      break;
  }
  if ((qt_modifiers & Qt::ControlModifier) && qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
    return static_cast<char32_t>(qt_key - Qt::Key_A + 1);
  }
  const QString typed = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QList<uint> code_points = typed.toUcs4();
  // A press types one character; anything else (dead keys, pure modifiers,
  // function keys) types none.
  if (code_points.size() != 1) return 0;
  const char32_t c = code_points.front();
  return c < 32 || c == 127 ? 0 : c;
}

}  // namespace jw
