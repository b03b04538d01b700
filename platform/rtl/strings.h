// Byte-string helpers in the host library's style: 1-based positions with
// clamping, blank trimming, ASCII case rules, short strings of at most 255
// bytes, and the integer <-> text conversions every layer uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jw {

// Positions are 1-based. An index below 1 counts as 1, a count below 0 as 0,
// and a range past the end stops at the end: no call reads outside `s`.

// Up to `count` bytes of `s` from position `index`; empty when index is past the end.
std::string Copy(std::string_view s, int64_t index, int64_t count);
// Position of the first occurrence of `sub` in `s`; 0 when absent or `sub` is empty.
int64_t Pos(std::string_view sub, std::string_view s);
// Removes up to `count` bytes from position `index`; nothing when index is
// below 1 or past the end (the host leaves the string alone then).
void Delete(std::string& s, int64_t index, int64_t count);
// Inserts `sub` before position `index`; an index below 1 inserts at the
// front, one past the end appends.
void Insert(std::string_view sub, std::string& s, int64_t index);

// Remove every leading and/or trailing byte <= ' ' (bytes >= 0x80 are text, not blanks).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII case only: bytes outside 'a'..'z' / 'A'..'Z' are left as they are.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Compares after upper-casing ASCII letters; <0, 0 or >0 like memcmp (bytes unsigned).
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// `count` copies of `c`; empty for count <= 0.
std::string StringOfChar(char c, int64_t count);

// The longest text a short string holds.
inline constexpr std::size_t kShortStringMax = 255;
// Assignment to a short string: the first 255 bytes of `s`.
std::string ShortString(std::string_view s);

std::string IntToStr(int32_t value);
std::string IntToStr(int64_t value);
// Upper-case hex, at least `digits` digits (zero-padded). Negative values are
// shown in two's complement of the argument's width (8 or 16 digits).
std::string IntToHex(int32_t value, int digits);
std::string IntToHex(int64_t value, int digits);

// Integer text: optional blanks (' ', tab) around, an optional sign, then
// decimal digits or hex digits after "$", "0x" or "0X". Decimal values must be
// in the type's range. Hex values may use the type's full unsigned width and
// are read in two's complement ("$FFFFFFFF" is -1 for int32), so IntToHex
// output reads back. Failure raises EConvertError "'<s>' is not a valid
// integer value" with the text as given.
int32_t StrToInt(std::string_view s);
bool TryStrToInt(std::string_view s, int32_t& value);
int32_t StrToIntDef(std::string_view s, int32_t default_value);
int64_t StrToInt64(std::string_view s);
bool TryStrToInt64(std::string_view s, int64_t& value);

}  // namespace jw
