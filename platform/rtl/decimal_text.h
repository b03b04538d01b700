// Decimal digit strings shared by the number-to-text conversions (FloatToStr,
// FormatFloat, Format): a value as sign, significant digits and a decimal
// exponent, with the rounding and layout steps those conversions have in common.
#pragma once

#include <string>

#include "platform/rtl/numbers.h"

namespace jw {

struct DecimalNumber {
  bool negative = false;
  std::string digits;  // '0'..'9', no leading or trailing zeros; empty for zero
  int exponent = 0;    // value = 0.<digits> x 10^exponent

  bool IsZero() const { return digits.empty(); }
};

// The significant digits every float text starts from: enough to show any
// double as typed, few enough that binary noise (2.675 is 2.67499...) never
// shows or decides a rounding.
inline constexpr int kFloatDigits = 15;
// The most significant digits a double carries.
inline constexpr int kMaxFloatDigits = 17;

// `value` (finite) correctly rounded to `significant` digits (1..17).
DecimalNumber DecimalFromDouble(double value, int significant);
// The exact amount.
DecimalNumber DecimalFromCurrency(Currency value);

// Rounds half away from zero, keeping `decimals` digits after the point or
// `significant` digits in all.
void RoundToDecimals(DecimalNumber& n, int decimals);
void RoundToSignificant(DecimalNumber& n, int significant);

// The digits before the point ("" for values below 1) and the first `count`
// digits after it, zero-padded.
std::string IntegerDigits(const DecimalNumber& n);
std::string FractionDigits(const DecimalNumber& n, int count);

// Groups integer digits by three with `separator` (none when it is NUL,
// which a locale without a thousand separator gives).
std::string GroupThousands(const std::string& integer_digits, char separator);

// General form (see FloatToStr) with at most `precision` significant digits;
// fixed while the decimal exponent is in [-5, precision).
std::string GeneralText(DecimalNumber n, int precision, char decimal_separator);

// "NAN", "INF" or "-INF" for the special values, else empty.
std::string SpecialFloatText(double value);

}  // namespace jw
