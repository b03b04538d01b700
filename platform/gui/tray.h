// The notification-area (tray) icon behind a small interface: the component
// sends the original notify-icon messages with their record, and the backend
// reports the mouse messages of the icon. Production code gets the Qt
// backend (Qt's system tray icon, or a small window with the icon where the
// desktop has no tray host); tests install a fake.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/gui/gui_types.h"

namespace jw {

// The notify-icon messages.
inline constexpr uint32_t NIM_ADD = 0;
inline constexpr uint32_t NIM_MODIFY = 1;
inline constexpr uint32_t NIM_DELETE = 2;

// uFlags of the record: which of its fields count.
inline constexpr uint32_t NIF_MESSAGE = 1;
inline constexpr uint32_t NIF_ICON = 2;
inline constexpr uint32_t NIF_TIP = 4;

// The longest tip in characters (the record's tip field holds 64 bytes with
// the terminating zero).
inline constexpr size_t kNotifyTipMaxChars = 63;

// The notify-icon record. The window that the shell posts the callback to is
// the backend's own business here.
struct TNotifyIconData {
  uint32_t cbSize = 88;
  uint32_t uID = 0;
  uint32_t uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  uint32_t uCallbackMessage = 0;
  QImage hIcon;
  std::string szTip;  // at most kNotifyTipMaxChars characters
};

// text cut to kNotifyTipMaxChars characters; a UTF-8 sequence is never split.
std::string CutNotifyTip(const std::string& text);

class TrayBackend {
 public:
  virtual ~TrayBackend() = default;
  // The shell call: NIM_ADD shows the icon, NIM_MODIFY changes its picture
  // and tip, NIM_DELETE removes it. Failures are not reported, as the
  // component does not check them.
  virtual void Notify(uint32_t message, const TNotifyIconData& data) = 0;
  // The mouse cursor's screen position.
  virtual TPoint CursorPos() = 0;

  // Receives the mouse messages of the icon (WM_LBUTTONDOWN ...).
  std::function<void(uint32_t mouse_message)> OnMouseMessage;
};

// Qt's system tray icon. Where Qt sees no tray host it shows a small
// window with the icon in the top-right corner of the screen, which reports
// the same mouse messages, and it looks again for a tray host for a few
// seconds after the icon was added (a session's tray may start after us).
// A click is reported from the event loop once Qt is done with it, as a
// press and its release; the handlers may destroy the backend.
class QtTrayBackend : public TrayBackend {
 public:
  QtTrayBackend();
  ~QtTrayBackend() override;

  void Notify(uint32_t message, const TNotifyIconData& data) override;
  TPoint CursorPos() override;

  // Whether the icon is shown in a tray, or in the fallback window.
  bool InTray() const;
  bool InFallbackWindow() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

using TrayBackendFactory = std::function<std::unique_ptr<TrayBackend>()>;

// A new backend from the installed factory: the Qt backend unless a test
// installed another.
std::unique_ptr<TrayBackend> CreateTrayBackend();
// Installs factory (empty restores the Qt backend) and returns the previous one.
TrayBackendFactory SetTrayBackendFactory(TrayBackendFactory factory);

}  // namespace jw
