// Numbers: the Currency type (an int64 count of ten-thousandths), checked
// rounding and truncation, and the float and currency <-> text conversions.
// Every out-of-range value raises an exception; none reaches undefined
// behaviour.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/exceptions.h"

namespace jw {

// Integer arithmetic that would leave its type's range ("Integer overflow").
class EIntOverflow : public Exception {
  using Exception::Exception;
};
// Integer or currency division by zero ("Division by zero").
class EDivByZero : public Exception {
  using Exception::Exception;
};

// A fixed-point amount with four decimals, held as value x 10000 in an int64.
// Conversions that cannot hold the result raise; arithmetic is checked.
class Currency {
 public:
  static constexpr int64_t kScale = 10000;

  constexpr Currency() = default;
  // The amount whose value x 10000 is `raw` (no scaling, never fails).
  static constexpr Currency FromRaw(int64_t raw) {
    Currency c;
    c.raw_ = raw;
    return c;
  }
  // Whole units; EIntOverflow outside +-922337203685477.
  static Currency FromInt64(int64_t value);
  // Nearest amount, ties to even in the fourth decimal; EConvertError
  // "Invalid floating point operation" for NaN, infinities and values outside
  // the range.
  static Currency FromDouble(double value);

  constexpr int64_t Raw() const { return raw_; }
  double ToDouble() const { return static_cast<double>(raw_) / kScale; }

  Currency operator-() const;
  Currency operator+(Currency other) const;
  Currency operator-(Currency other) const;
  // Products and quotients are rounded to four decimals, ties to even.
  Currency operator*(Currency other) const;
  Currency operator/(Currency other) const;
  Currency& operator+=(Currency other) { return *this = *this + other; }
  Currency& operator-=(Currency other) { return *this = *this - other; }

  constexpr auto operator<=>(const Currency&) const = default;

 private:
  int64_t raw_ = 0;
};

// Nearest integer, ties to even; EConvertError "Invalid floating point
// operation" for NaN, infinities and values outside int64.
int64_t Round(double value);
int64_t Round(Currency value);
// Integer part (toward zero); the same failure as Round.
int64_t Trunc(double value);
int64_t Trunc(Currency value);
// Fractional part, with the sign of value: the time of day of a TDateTime.
double Frac(double value);

// General format: up to 15 significant digits, trailing zeros dropped, the
// current decimal separator. Fixed notation when the decimal exponent of the
// rounded value is in [-5, 15), that is from 0.00001 up to below 1E15;
// otherwise "1.5E+20" / "1E-6" (mantissa in general form, "E", sign, exponent
// without leading zeros). "NAN", "INF" and "-INF" for the special values;
// negative zero prints as "0".
std::string FloatToStr(double value);

// Formats `value` by a picture: '0' a digit that is always shown, '#' a digit
// shown when significant, the first '.' the decimal separator, ',' before it
// groups the integer part by thousands, "E+"/"E-"/"e+"/"e-" followed by '0's
// scientific notation ("E+" always shows the exponent's sign), text in single
// or double quotes and any other character copied. Up to three sections
// separated by ';': positive, negative (shown without a minus sign) and zero.
// Values are rounded half away from zero from their 15 significant digits.
// An empty pattern gives FloatToStr. A result that rounds to zero has no
// minus sign.
std::string FormatFloat(std::string_view pattern, double value);
// The same pattern rules applied to the exact currency amount.
std::string FormatCurr(std::string_view pattern, Currency value);

// Float text: optional blanks (' ', tab) around, an optional sign, digits with
// at most one current decimal separator (at least one digit in all), and an
// optional exponent "E"/"e" with optional sign and digits. Values too large
// for a double fail; values too small read as zero. Failure raises
// EConvertError "'<s>' is not a valid floating point value".
double StrToFloat(std::string_view s);
bool TryStrToFloat(std::string_view s, double& value);

// Fixed notation with up to four decimals, trailing zeros dropped, the current
// decimal separator: "12.5", "-0.5", "0". Exact for every amount.
std::string CurrToStr(Currency value);
// The float text syntax above, read exactly and rounded to four decimals
// (ties to even); failure, also outside the Currency range, raises
// EConvertError "'<s>' is not a valid floating point value".
Currency StrToCurr(std::string_view s);
bool TryStrToCurr(std::string_view s, Currency& value);

}  // namespace jw
