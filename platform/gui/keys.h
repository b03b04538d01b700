// The characters that key presses give: the typed text as one code point,
// and the control characters of the original platform for Ctrl+letter (1 to
// 26), Backspace (8), Tab (9), Return and Enter (13) and Escape (27).
#pragma once

#include <string>

namespace jw {

// The character of a Qt key press (key, modifiers and the text Qt gives), or
// 0 when the press types none.
char32_t KeyPressChar(int qt_key, int qt_modifiers, const std::string& text);

}  // namespace jw
