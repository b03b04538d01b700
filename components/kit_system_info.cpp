#include "components/kit_system_info.h"

#include <QGuiApplication>
#include <QScreen>

namespace jw {

namespace {

TKitSystemInfo ReadSystemInfo() {
  TKitSystemInfo info;
  // Linux is a multi-user system with memory protected between processes,
  // so it belongs to the multi-user family, never to the single-user one;
  // outside that family the desktop extensions always count as present.
  info.MultiUserFamily = true;
  info.DesktopExtensions = true;
  // Qt reports the screen's depth as planes times bits per pixel already.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    info.ColorDepth = static_cast<uint8_t>(screen->depth());
  }
  return info;
}

}  // namespace

const TKitSystemInfo& KitSystemInfo() {
  static const TKitSystemInfo info = ReadSystemInfo();
  return info;
}

}  // namespace jw
