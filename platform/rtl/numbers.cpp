#include "platform/rtl/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/rtl/decimal_text.h"
#include "platform/rtl/format_settings.h"

namespace jw {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
// 2^63: the first double above every int64.
constexpr double kTwoPow63 = 9223372036854775808.0;

[[noreturn]] void RaiseInvalidFloatOperation() {
  throw EConvertError("Invalid floating point operation");
}
[[noreturn]] void RaiseOverflow() {
  throw EIntOverflow("Integer overflow");
}
[[noreturn]] void RaiseInvalidFloatText(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid floating point value");
}

double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;  // exact for every finite double
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2) == 0 ? floor : floor + 1;
}

int64_t CheckedInt64(double value) {
  if (!(value >= -kTwoPow63 && value < kTwoPow63)) RaiseInvalidFloatOperation();
  return static_cast<int64_t>(value);
}

// Rounds numerator / denominator (denominator not 0) to the nearest integer,
// ties to even.
__int128 DivideHalfEven(__int128 numerator, __int128 denominator) {
  __int128 quotient = numerator / denominator;
  const __int128 remainder = numerator % denominator;
  const __int128 twice = 2 * (remainder < 0 ? -remainder : remainder);
  const __int128 magnitude = denominator < 0 ? -denominator : denominator;
  if (twice > magnitude || (twice == magnitude && quotient % 2 != 0)) {
    quotient += ((numerator < 0) != (denominator < 0)) ? -1 : 1;
  }
  return quotient;
}

Currency CheckedCurrency(__int128 raw) {
  if (raw > kInt64Max || raw < kInt64Min) RaiseOverflow();
  return Currency::FromRaw(static_cast<int64_t>(raw));
}

// Reads the float text syntax (see StrToFloat) into exact decimal digits.
bool ParseDecimalText(std::string_view s, DecimalNumber& n) {
  const char separator = FormatSettings().DecimalSeparator;
  std::size_t i = 0;
  std::size_t end = s.size();
  while (i < end && (s[i] == ' ' || s[i] == '\t')) ++i;
  while (end > i && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;

  n = DecimalNumber();
  if (i < end && (s[i] == '+' || s[i] == '-')) n.negative = s[i++] == '-';
  bool any_digit = false;
  bool after_separator = false;
  int64_t exponent = 0;  // the value is 0.<digits> x 10^exponent
  for (; i < end; ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      any_digit = true;
      if (n.digits.empty() && c == '0') {
        if (after_separator) --exponent;  // a leading zero after the point
        continue;
      }
      n.digits.push_back(c);
      if (!after_separator) ++exponent;
    } else if (c == separator && !after_separator) {
      after_separator = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  if (i < end && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < end && (s[i] == '+' || s[i] == '-')) negative_exponent = s[i++] == '-';
    if (i == end) return false;
    // Saturates far beyond any double's exponent, so huge texts cannot overflow.
    int64_t written = 0;
    for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i) {
      written = std::min<int64_t>(written * 10 + (s[i] - '0'), 1000000000);
    }
    exponent += negative_exponent ? -written : written;
  }
  if (i != end) return false;
  while (!n.digits.empty() && n.digits.back() == '0') n.digits.pop_back();
  if (n.digits.empty()) exponent = 0;
  // No double or currency lies near these bounds; clamping keeps them in int.
  n.exponent = static_cast<int>(std::clamp<int64_t>(exponent, -100000, 100000));
  return true;
}

}  // namespace

Currency Currency::FromInt64(int64_t value) {
  int64_t raw = 0;
  if (__builtin_mul_overflow(value, kScale, &raw)) RaiseOverflow();
  return FromRaw(raw);
}

Currency Currency::FromDouble(double value) {
  return FromRaw(CheckedInt64(RoundHalfEven(value * kScale)));
}

Currency Currency::operator-() const {
  if (raw_ == kInt64Min) RaiseOverflow();
  return FromRaw(-raw_);
}

Currency Currency::operator+(Currency other) const {
  int64_t raw = 0;
  if (__builtin_add_overflow(raw_, other.raw_, &raw)) RaiseOverflow();
  return FromRaw(raw);
}

Currency Currency::operator-(Currency other) const {
  int64_t raw = 0;
  if (__builtin_sub_overflow(raw_, other.raw_, &raw)) RaiseOverflow();
  return FromRaw(raw);
}

Currency Currency::operator*(Currency other) const {
  return CheckedCurrency(DivideHalfEven(static_cast<__int128>(raw_) * other.raw_, kScale));
}

Currency Currency::operator/(Currency other) const {
  if (other.raw_ == 0) throw EDivByZero("Division by zero");
  return CheckedCurrency(DivideHalfEven(static_cast<__int128>(raw_) * kScale, other.raw_));
}

int64_t Round(double value) {
  return CheckedInt64(RoundHalfEven(value));
}

int64_t Round(Currency value) {
  return static_cast<int64_t>(DivideHalfEven(value.Raw(), Currency::kScale));
}

int64_t Trunc(double value) {
  return CheckedInt64(std::trunc(value));
}

int64_t Trunc(Currency value) {
  return value.Raw() / Currency::kScale;
}

double Frac(double value) {
  return value - std::trunc(value);
}

std::string FloatToStr(double value) {
  std::string special = SpecialFloatText(value);
  if (!special.empty()) return special;
  return GeneralText(DecimalFromDouble(value, kFloatDigits), kFloatDigits,
                     FormatSettings().DecimalSeparator);
}

bool TryStrToFloat(std::string_view s, double& value) {
  DecimalNumber n;
  if (!ParseDecimalText(s, n)) return false;
  if (n.IsZero() || n.exponent < -400) {
    value = n.negative ? -0.0 : 0.0;
    return true;
  }
  if (n.exponent > 400) return false;
  // A plain "0.<digits>e<exponent>" text in the C locale for the exact reader.
  std::string text = "0." + n.digits + "e" + std::to_string(n.exponent);
  double magnitude = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    if (n.exponent > 0) return false;
    magnitude = 0;
  } else if (result.ec != std::errc() || std::isinf(magnitude)) {
    return false;
  }
  value = n.negative ? -magnitude : magnitude;
  return true;
}

double StrToFloat(std::string_view s) {
  double value = 0;
  if (!TryStrToFloat(s, value)) RaiseInvalidFloatText(s);
  return value;
}

std::string CurrToStr(Currency value) {
  // Every amount has at most 19 digits, so the general form stays fixed and exact.
  return GeneralText(DecimalFromCurrency(value), 19, FormatSettings().DecimalSeparator);
}

bool TryStrToCurr(std::string_view s, Currency& value) {
  DecimalNumber n;
  if (!ParseDecimalText(s, n)) return false;
  // The digits that stay once the amount is scaled to ten-thousandths.
  const int keep = n.exponent + 4;
  if (keep > 19) return false;
  uint64_t raw = 0;
  for (int i = 0; i < keep; ++i) {
    raw = raw * 10 + (i < static_cast<int>(n.digits.size()) ? n.digits[i] - '0' : 0);
  }
  if (keep >= 0 && keep < static_cast<int>(n.digits.size())) {
    // Ties to even on the first dropped digit and whatever follows it.
    const char first = n.digits[keep];
    const bool beyond_half = n.digits.size() > static_cast<std::size_t>(keep) + 1;
    if (first > '5' || (first == '5' && (beyond_half || raw % 2 != 0))) ++raw;
  }
  const uint64_t limit = n.negative ? uint64_t{1} << 63 : static_cast<uint64_t>(kInt64Max);
  if (raw > limit) return false;
  value = Currency::FromRaw(n.negative ? static_cast<int64_t>(uint64_t{0} - raw)
                                       : static_cast<int64_t>(raw));
  return true;
}

Currency StrToCurr(std::string_view s) {
  Currency value;
  if (!TryStrToCurr(s, value)) RaiseInvalidFloatText(s);
  return value;
}

}  // namespace jw
