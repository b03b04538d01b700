// Single-byte code pages for the engine's text: each byte's Unicode
// character (read once through an ICU converter), the way back, and the
// byte-to-byte upper and lower case tables. Text keeps its length through
// every mapping: one byte is always one character.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace jw {

class TCodePage {
 public:
  // Loads the table of "windows-<number>"; raises EConvertError
  // "Code page <number> is not available" when ICU has no such converter.
  explicit TCodePage(uint16_t number);

  uint16_t Number() const { return number_; }

  // Every byte has a character of its own and comes back unchanged, which
  // also fixes how stored text collates. A byte the code page leaves
  // undefined keeps the character ICU's converter gives it (a C1 control, or
  // for code page 874 one of ICU's private-use characters); only a byte with
  // no character at all, or whose character an earlier byte took, stands
  // for the private-use character U+F700 + byte.
  char16_t ToUnicode(uint8_t byte) const { return to_unicode_[byte]; }
  // False when the character has no byte in this code page.
  bool FromUnicode(char16_t c, uint8_t& byte) const;

  // Simple case mapping: a byte whose mapped character has no byte of its
  // own stays as it is (so 0xDF, sharp s, stays 0xDF).
  uint8_t Upper(uint8_t byte) const { return upper_[byte]; }
  uint8_t Lower(uint8_t byte) const { return lower_[byte]; }
  const std::array<uint8_t, 256>& UpperTable() const { return upper_; }
  const std::array<uint8_t, 256>& LowerTable() const { return lower_; }

  std::u16string Decode(std::string_view bytes) const;
  // False when a character has no byte here; `bytes` then holds the
  // characters converted up to that one.
  bool Encode(std::u16string_view text, std::string& bytes) const;

 private:
  uint16_t number_;
  std::array<char16_t, 256> to_unicode_{};
  std::array<uint8_t, 256> upper_{};
  std::array<uint8_t, 256> lower_{};
};

// The one table of each code page in the process, built on first use.
const TCodePage& CodePage(uint16_t number);

// The code page of language-0 text (Western, US English case mapping).
constexpr uint16_t kWesternCodePage = 1252;

}  // namespace jw
