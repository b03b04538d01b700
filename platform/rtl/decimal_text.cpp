#include "platform/rtl/decimal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace jw {

namespace {

void StripTrailingZeros(DecimalNumber& n) {
  while (!n.digits.empty() && n.digits.back() == '0') n.digits.pop_back();
}

// Keeps the first `keep` digits, rounding half away from zero on the next one.
void RoundToDigitCount(DecimalNumber& n, int keep) {
  if (n.IsZero() || keep >= static_cast<int>(n.digits.size())) return;
  if (keep < 0) {
    n.digits.clear();
    return;
  }
  const bool up = n.digits[keep] >= '5';
  n.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && n.digits[i] == '9') n.digits[i--] = '0';
    if (i >= 0) {
      ++n.digits[i];
    } else {
      n.digits.insert(n.digits.begin(), '1');
      ++n.exponent;
    }
  }
  StripTrailingZeros(n);
}

}  // namespace

DecimalNumber DecimalFromDouble(double value, int significant) {
  DecimalNumber n;
  n.negative = std::signbit(value);
  if (value == 0) return n;
  significant = std::clamp(significant, 1, kMaxFloatDigits);
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, significant - 1);
  // The text is "d[.ddd]e<sign><digits>".
  const std::string_view text(buffer, result.ptr - buffer);
  const std::size_t e = text.find('e');
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] != '.') n.digits.push_back(text[i]);
  }
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  n.exponent = exponent + 1;
  StripTrailingZeros(n);
  return n;
}

DecimalNumber DecimalFromCurrency(Currency value) {
  DecimalNumber n;
  const int64_t raw = value.Raw();
  n.negative = raw < 0;
  // The magnitude in unsigned arithmetic, which also holds that of INT64_MIN.
  const uint64_t magnitude = raw < 0 ? uint64_t{0} - static_cast<uint64_t>(raw) : raw;
  if (magnitude == 0) return n;
  n.digits = std::to_string(magnitude);
  n.exponent = static_cast<int>(n.digits.size()) - 4;
  StripTrailingZeros(n);
  return n;
}

void RoundToDecimals(DecimalNumber& n, int decimals) {
  RoundToDigitCount(n, n.exponent + decimals);
}

void RoundToSignificant(DecimalNumber& n, int significant) {
  RoundToDigitCount(n, significant);
}

std::string IntegerDigits(const DecimalNumber& n) {
  if (n.exponent <= 0) return {};
  std::string digits = n.digits.substr(0, n.exponent);
  digits.resize(n.exponent, '0');
  return digits;
}

std::string FractionDigits(const DecimalNumber& n, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i) {
    const int at = n.exponent + i;  // index into n.digits
    digits.push_back(at >= 0 && at < static_cast<int>(n.digits.size()) ? n.digits[at] : '0');
  }
  return digits;
}

std::string GroupThousands(const std::string& integer_digits, char separator) {
  std::string grouped;
  const std::size_t size = integer_digits.size();
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0 && (size - i) % 3 == 0 && separator != '\0') grouped.push_back(separator);
    grouped.push_back(integer_digits[i]);
  }
  return grouped;
}

std::string GeneralText(DecimalNumber n, int precision, char decimal_separator) {
  RoundToSignificant(n, precision);
  if (n.IsZero()) return "0";
  std::string text = n.negative ? "-" : "";
  const int x = n.exponent - 1;  // the value is d.ddd x 10^x
  const int size = static_cast<int>(n.digits.size());
  if (x >= -5 && x < precision) {
    const std::string integer = IntegerDigits(n);
    text += integer.empty() ? "0" : integer;
    const int decimals = size - n.exponent;
    if (decimals > 0) {
      text.push_back(decimal_separator);
      text += FractionDigits(n, decimals);
    }
    return text;
  }
  text.push_back(n.digits[0]);
  if (size > 1) {
    text.push_back(decimal_separator);
    text.append(n.digits, 1);
  }
  text += x < 0 ? "E-" : "E+";
  text += std::to_string(x < 0 ? -x : x);
  return text;
}

std::string SpecialFloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  return {};
}

}  // namespace jw
