// Conversions between the layer's value types and Qt's, shared by the
// layer's own sources.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <string>

#include "platform/gui/color.h"
#include "platform/gui/gui_types.h"

namespace jw {

inline QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}
inline TColor FromQColor(const QColor& c) {
  return RGB(c.red(), c.green(), c.blue());
}
inline QRect ToQRect(const TRect& r) {
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}
inline TRect FromQRect(const QRect& r) {
  return Bounds(r.x(), r.y(), r.width(), r.height());
}
inline QString ToQString(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string FromQString(const QString& s) {
  return s.toUtf8().toStdString();
}

}  // namespace jw
