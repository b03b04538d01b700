#include "app/utf8_text.h"

namespace jw {

namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed character that starts at text[at], or 1.
size_t CharLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else if (lead >= 0xE0)
    length = lead <= 0xEF ? 3 : 1;
  else if (lead >= 0xC2)
    length = 2;
  if (at + length > text.size()) return 1;
  for (size_t i = 1; i < length; ++i)
    if (!IsContinuation(static_cast<unsigned char>(text[at + i]))) return 1;
  return length;
}

}  // namespace

void AppendCodePoint(std::string& text, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void DeleteLastCodePoint(std::string& text) {
  const std::vector<size_t> ends = CodePointEnds(text);
  if (ends.empty()) return;
  text.resize(ends.size() >= 2 ? ends[ends.size() - 2] : 0);
}

std::vector<size_t> CodePointEnds(std::string_view text) {
  std::vector<size_t> ends;
  for (size_t at = 0; at < text.size();) {
    at += CharLength(text, at);
    ends.push_back(at);
  }
  return ends;
}

}  // namespace jw
