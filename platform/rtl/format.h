// Format: printf-like text formatting in the host library's dialect. The
// variadic front packs its arguments into tagged FormatArg values so that one
// non-template routine does the work and can check every argument it uses.
//
// A specifier is "%" [index ":"] ["-"] ["0"] [width] ["." precision] type,
// where index, width and precision may be "*" (taken from the next int
// argument; a negative width means left-justified, a negative precision
// none). Types (either case):
//   d  integer in decimal; the precision is the minimum number of digits
//   u  integer as unsigned (negative int32 values as 32-bit, int64 as 64-bit)
//   x  integer in upper-case hex, two's complement; precision = minimum digits
//   s  string or char; the precision is the maximum number of bytes
//   f  fixed, precision decimals (default 2)
//   e  scientific "-d.dddE+ddd", precision significant digits (default 15)
//   g  general (as FloatToStr), precision significant digits (default 15)
//   n  fixed with thousand separators, precision decimals (default 2)
//   m  currency by FormatSettings(), precision decimals (default CurrencyDecimals)
//   p  pointer, 16 upper-case hex digits
// f, e, g, n and m take double or Currency arguments and use the current
// decimal and thousand separators; decimals are capped at 18 and significant
// digits at 17 (19 for Currency). "%%" is a percent sign. "-" left-justifies
// within the width, "0" pads numbers with zeros after the sign. After an
// explicit index the following specifiers continue with the next argument.
// Arguments left over are ignored. A malformed specifier, a missing argument
// or an argument of the wrong kind raises EConvertError "Format '<fmt>'
// invalid or incompatible with argument".
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/rtl/numbers.h"

namespace jw {

// One argument of Format. It refers to string data without copying it, so it
// lives only as long as the argument it was made from.
class FormatArg {
 public:
  enum class Kind : uint8_t { Int32, Int64, UInt64, Double, Currency, Char, String, Pointer };

  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>) FormatArg(T value) {
    if constexpr (std::is_signed_v<T>) {
      if constexpr (sizeof(T) <= 4) {
        kind_ = Kind::Int32;
      } else {
        kind_ = Kind::Int64;
      }
      int_ = value;
    } else {
      kind_ = Kind::UInt64;
      uint_ = value;
    }
  }
  FormatArg(bool) = delete;  // no host conversion shows a boolean
  FormatArg(char value) : kind_(Kind::Char), char_(value) {}
  FormatArg(double value) : kind_(Kind::Double), double_(value) {}
  FormatArg(jw::Currency value) : kind_(Kind::Currency), int_(value.Raw()) {}
  FormatArg(const char* value) : kind_(Kind::String), text_(value ? value : "") {}
  FormatArg(const std::string& value) : kind_(Kind::String), text_(value) {}
  FormatArg(std::string_view value) : kind_(Kind::String), text_(value) {}
  FormatArg(const void* value) : kind_(Kind::Pointer), pointer_(value) {}

  Kind kind() const { return kind_; }
  // Valid for Int32 and Int64 (also the raw amount of Currency).
  int64_t Int() const { return int_; }
  uint64_t UInt() const { return uint_; }
  double Double() const { return double_; }
  char Char() const { return char_; }
  std::string_view Text() const { return text_; }
  const void* Pointer() const { return pointer_; }

 private:
  Kind kind_;
  union {
    int64_t int_ = 0;
    uint64_t uint_;
    double double_;
    char char_;
    const void* pointer_;
  };
  std::string_view text_;
};

std::string FormatV(std::string_view fmt, std::span<const FormatArg> args);

template <class... Args>
std::string Format(std::string_view fmt, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> packed{FormatArg(args)...};
  return FormatV(fmt, packed);
}

}  // namespace jw
