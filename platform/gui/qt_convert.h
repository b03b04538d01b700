// Conversions between the layer's value types and Qt's, shared by the
// layer's own sources.
#pragma once

#include <QColor>
#include <QDate>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTime>
#include <string>

#include "platform/gui/color.h"
#include "platform/gui/gui_types.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/numbers.h"

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
// Day 0 of TDateTime.
inline QDate DateTimeEpoch() {
  return QDate(1899, 12, 30);
}
// The day of value (its whole days).
inline QDate ToQDate(TDateTime value) {
  return DateTimeEpoch().addDays(Trunc(value));
}
inline TDateTime FromQDate(const QDate& date) {
  return static_cast<TDateTime>(DateTimeEpoch().daysTo(date));
}
// The time of day of value, to the millisecond.
inline QTime ToQTime(TDateTime value) {
  int hour, min, sec, msec;
  DecodeTime(value, hour, min, sec, msec);
  return QTime(hour, min, sec, msec);
}
inline TDateTime FromQTime(const QTime& time) {
  return EncodeTime(time.hour(), time.minute(), time.second(), time.msec());
}

}  // namespace jw
