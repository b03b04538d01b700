#include "platform/rtl/strings.h"

#include <algorithm>
#include <limits>

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The blanks an integer or float text may carry around it.
bool IsNumberBlank(char c) {
  return c == ' ' || c == '\t';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads an integer text of `bits` width (32 or 64) by the rules in the header.
bool ParseInteger(std::string_view s, int bits, int64_t& value) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && IsNumberBlank(s[begin])) ++begin;
  while (end > begin && IsNumberBlank(s[end - 1])) --end;
  std::string_view text = s.substr(begin, end - begin);

  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  bool hex = false;
  if (!text.empty() && text[0] == '$') {
    hex = true;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;

  const uint64_t unsigned_max = bits == 32 ? 0xFFFFFFFFu : std::numeric_limits<uint64_t>::max();
  // Decimal magnitudes may reach the negative limit, one above the positive one.
  const uint64_t decimal_max = (uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
  const uint64_t limit = hex ? unsigned_max : decimal_max;
  const unsigned base = hex ? 16 : 10;
  uint64_t magnitude = 0;
  for (char c : text) {
    const int digit = hex ? HexDigitValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return false;
    if (magnitude > (limit - static_cast<unsigned>(digit)) / base) return false;
    magnitude = magnitude * base + static_cast<unsigned>(digit);
  }
  // Two's complement in the target width; unsigned arithmetic wraps by definition.
  uint64_t bits_value = negative ? uint64_t{0} - magnitude : magnitude;
  if (bits == 32) {
    value = static_cast<int32_t>(static_cast<uint32_t>(bits_value));
  } else {
    value = static_cast<int64_t>(bits_value);
  }
  return true;
}

[[noreturn]] void RaiseInvalidInteger(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}

std::string HexText(uint64_t value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.push_back(kHex[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (digits > static_cast<int>(text.size())) text.append(digits - text.size(), '0');
  std::reverse(text.begin(), text.end());
  return text;
}

}  // namespace

std::string Copy(std::string_view s, int64_t index, int64_t count) {
  const int64_t size = static_cast<int64_t>(s.size());
  if (index < 1) index = 1;
  if (count <= 0 || index > size) return {};
  const int64_t available = size - index + 1;
  return std::string(s.substr(index - 1, std::min(count, available)));
}

int64_t Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const std::size_t at = s.find(sub);
  return at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
}

void Delete(std::string& s, int64_t index, int64_t count) {
  const int64_t size = static_cast<int64_t>(s.size());
  if (index < 1 || index > size || count <= 0) return;
  const int64_t available = size - index + 1;
  s.erase(index - 1, std::min(count, available));
}

void Insert(std::string_view sub, std::string& s, int64_t index) {
  const int64_t size = static_cast<int64_t>(s.size());
  index = std::clamp<int64_t>(index, 1, size + 1);
  s.insert(index - 1, sub);
}

std::string Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

std::string TrimLeft(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && IsBlank(s[begin])) ++begin;
  return std::string(s.substr(begin));
}

std::string TrimRight(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0 && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(0, end));
}

std::string UpperCase(std::string_view s) {
  std::string result(s);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(std::string_view s) {
  std::string result(s);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    const int cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

std::string StringOfChar(char c, int64_t count) {
  return count <= 0 ? std::string() : std::string(static_cast<std::size_t>(count), c);
}

std::string ShortString(std::string_view s) {
  return std::string(s.substr(0, kShortStringMax));
}

std::string IntToStr(int32_t value) {
  return std::to_string(value);
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(int32_t value, int digits) {
  return HexText(static_cast<uint32_t>(value), digits);
}

std::string IntToHex(int64_t value, int digits) {
  return HexText(static_cast<uint64_t>(value), digits);
}

int32_t StrToInt(std::string_view s) {
  int32_t value = 0;
  if (!TryStrToInt(s, value)) RaiseInvalidInteger(s);
  return value;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  int64_t wide = 0;
  if (!ParseInteger(s, 32, wide)) return false;
  value = static_cast<int32_t>(wide);
  return true;
}

int32_t StrToIntDef(std::string_view s, int32_t default_value) {
  int32_t value = 0;
  return TryStrToInt(s, value) ? value : default_value;
}

int64_t StrToInt64(std::string_view s) {
  int64_t value = 0;
  if (!TryStrToInt64(s, value)) RaiseInvalidInteger(s);
  return value;
}

bool TryStrToInt64(std::string_view s, int64_t& value) {
  return ParseInteger(s, 64, value);
}

}  // namespace jw
