// Window messages with their original numbers, for the messages that
// components inspect, and the hook chain through which a component can watch
// or replace a window's handling of them (see TWinControl::HookWindowProc).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/gui/gui_types.h"

namespace jw {

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_SIZE = 0x0005;
inline constexpr uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr uint32_t WM_CUT = 0x0300;
inline constexpr uint32_t WM_PASTE = 0x0302;

// Sent down the control tree for Return and Escape (WParam: VK_RETURN or
// VK_ESCAPE); a control that acts on the key sets Result to 1, which ends
// the round. Default and cancel buttons answer it.
inline constexpr uint32_t CM_DIALOGKEY = 0xB005;

// WParam of WM_SYSCOMMAND; the low four bits are the system's own.
inline constexpr uintptr_t SC_MINIMIZE = 0xF020;
inline constexpr uintptr_t SC_KEYMENU = 0xF100;
inline constexpr uintptr_t SC_CLOSE = 0xF060;

// WParam of the mouse messages: the buttons and keys held.
inline constexpr uintptr_t MK_LBUTTON = 0x0001;
inline constexpr uintptr_t MK_RBUTTON = 0x0002;
inline constexpr uintptr_t MK_SHIFT = 0x0004;
inline constexpr uintptr_t MK_CONTROL = 0x0008;
inline constexpr uintptr_t MK_MBUTTON = 0x0010;

// WParam of WM_SIZE.
inline constexpr uintptr_t SIZE_RESTORED = 0;
inline constexpr uintptr_t SIZE_MINIMIZED = 1;
inline constexpr uintptr_t SIZE_MAXIMIZED = 2;

// LParam of the mouse messages and of WM_SIZE: x (or width) in the low
// word, y (or height) in the high word, each a signed 16-bit value.
inline intptr_t MakeLParam(int low, int high) {
  return static_cast<intptr_t>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}
inline int LParamX(const TMessage& m) {
  return static_cast<int16_t>(m.LParam & 0xFFFF);
}
inline int LParamY(const TMessage& m) {
  return static_cast<int16_t>((m.LParam >> 16) & 0xFFFF);
}

// The shift state of a mouse message's key flags.
TShiftState KeysToShiftState(uintptr_t keys);

// A window procedure, and a hook that replaces it: the hook receives the
// message and the procedure it replaced, which it may call or skip.
using TWindowProc = std::function<void(TMessage& message)>;
using TWindowHook = std::function<void(TMessage& message, const TWindowProc& previous)>;

}  // namespace jw
