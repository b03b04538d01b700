// Virtual key codes of Qt keys, and the characters that key presses give: the typed text as one
// code point, and the control characters of the original platform for Ctrl+letter (1 to 26),
// Backspace (8), Tab (9), Return and Enter (13) and Escape (27).
#pragma once

#include <cstdint>
#include <string>

namespace jw {

// Virtual key codes of the keys that controls inspect.
inline constexpr uint16_t VK_BACK = 0x08;
inline constexpr uint16_t VK_TAB = 0x09;
inline constexpr uint16_t VK_RETURN = 0x0D;
inline constexpr uint16_t VK_ESCAPE = 0x1B;
inline constexpr uint16_t VK_PRIOR = 0x21;
inline constexpr uint16_t VK_NEXT = 0x22;
inline constexpr uint16_t VK_END = 0x23;
inline constexpr uint16_t VK_HOME = 0x24;
inline constexpr uint16_t VK_LEFT = 0x25;
inline constexpr uint16_t VK_UP = 0x26;
inline constexpr uint16_t VK_RIGHT = 0x27;
inline constexpr uint16_t VK_DOWN = 0x28;
inline constexpr uint16_t VK_INSERT = 0x2D;
inline constexpr uint16_t VK_DELETE = 0x2E;

// The virtual key code of a Qt key: letters and digits stand for
// themselves; 0 for keys without one here.
uint16_t VirtualKeyCode(int qt_key);

// The character of a Qt key press (key, modifiers and the text Qt gives), or
// 0 when the press types none.
char32_t KeyPressChar(int qt_key, int qt_modifiers, const std::string& text);

}  // namespace jw
