#include "platform/gui/screen_place.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <memory>

namespace jw {

std::optional<QPoint> WindowPlaceOnScreen(const QWidget& window) {
  if (!window.testAttribute(Qt::WA_WState_Created)) return std::nullopt;
  // Other platforms may answer for X11 too (offscreen does, without a
  // connection).
  if (QGuiApplication::platformName() != "xcb") return std::nullopt;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr) return std::nullopt;
  const auto id = static_cast<xcb_window_t>(window.winId());
  const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
  if (!geometry) return std::nullopt;
  const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> place(
      xcb_translate_coordinates_reply(
          connection, xcb_translate_coordinates(connection, id, geometry->root, 0, 0), nullptr),
      &std::free);
  if (!place) return std::nullopt;
  return QPoint(place->dst_x, place->dst_y);
}

}  // namespace jw
