// The note text is UTF-8: typing appends one character (code point) and
// Backspace removes one, and line breaking steps from character to
// character, so no character is ever split.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jw {

// Appends c in UTF-8; a value that is no character (a surrogate or beyond
// U+10FFFF) appends U+FFFD.
void AppendCodePoint(std::string& text, char32_t c);

// Removes the last character; a stray byte that is no part of a well-formed
// character counts as one.
void DeleteLastCodePoint(std::string& text);

// The byte offset after each character of text, in order.
std::vector<size_t> CodePointEnds(std::string_view text);

}  // namespace jw
