#include "platform/rtl/format.h"

#include <algorithm>
#include <cstdint>

#include "platform/rtl/decimal_text.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

// Widths, precisions and indexes above this are refused rather than turned
// into texts of gigabytes.
constexpr int64_t kMaxSpecifierNumber = 1000000;
constexpr int kMaxDecimals = 18;

struct Spec {
  bool left = false;
  bool zero_pad = false;
  int64_t width = 0;
  int64_t precision = -1;  // none
  char type = 0;           // lower case
};

class Formatter {
 public:
  Formatter(std::string_view fmt, std::span<const FormatArg> args) : fmt_(fmt), args_(args) {}

  std::string Run();

 private:
  [[noreturn]] void Fail() const {
    throw EConvertError("Format '" + std::string(fmt_) + "' invalid or incompatible with argument");
  }
  const FormatArg& NextArg() {
    if (next_ >= args_.size()) Fail();
    return args_[next_++];
  }
  // Reads digits or "*" at the cursor; false when neither is there.
  bool ReadNumber(int64_t& value, bool& leading_zero);
  Spec ReadSpec();
  std::string Convert(const Spec& spec, const FormatArg& arg);
  std::string Integer(const Spec& spec, const FormatArg& arg);
  std::string Float(const Spec& spec, const FormatArg& arg);

  std::string_view fmt_;
  std::span<const FormatArg> args_;
  std::size_t pos_ = 0;
  std::size_t next_ = 0;
};

bool IsInteger(const FormatArg& arg) {
  return arg.kind() == FormatArg::Kind::Int32 || arg.kind() == FormatArg::Kind::Int64 ||
         arg.kind() == FormatArg::Kind::UInt64;
}

DecimalNumber DecimalOf(const FormatArg& arg, int significant) {
  if (arg.kind() == FormatArg::Kind::Currency) {
    return DecimalFromCurrency(Currency::FromRaw(arg.Int()));
  }
  return DecimalFromDouble(arg.Double(), std::max(significant, kFloatDigits));
}

// The unsigned fixed-point digits of `n` rounded to `decimals`, optionally grouped.
std::string FixedDigits(DecimalNumber& n, int decimals, bool grouped) {
  const TFormatSettings& settings = FormatSettings();
  RoundToDecimals(n, decimals);
  std::string integer = IntegerDigits(n);
  if (integer.empty()) integer = "0";
  std::string text = grouped ? GroupThousands(integer, settings.ThousandSeparator) : integer;
  if (decimals > 0) {
    text.push_back(settings.DecimalSeparator);
    text += FractionDigits(n, decimals);
  }
  return text;
}

std::string ScientificText(DecimalNumber n, int precision) {
  RoundToSignificant(n, precision);
  std::string digits = n.digits;
  digits.resize(precision, '0');
  const int x = n.IsZero() ? 0 : n.exponent - 1;
  std::string text = n.negative && !n.IsZero() ? "-" : "";
  text.push_back(digits[0]);
  if (precision > 1) {
    text.push_back(FormatSettings().DecimalSeparator);
    text.append(digits, 1);
  }
  const std::string exponent = std::to_string(x < 0 ? -x : x);
  text += x < 0 ? "E-" : "E+";
  text.append(exponent.size() < 3 ? 3 - exponent.size() : 0, '0');
  text += exponent;
  return text;
}

// Places the symbol and sign around an unsigned amount as the settings say.
std::string CurrencyText(const std::string& amount, bool negative) {
  const TFormatSettings& s = FormatSettings();
  const std::string& c = s.CurrencyString;
  if (!negative) {
    switch (s.CurrencyFormat) {
      case 1:
        return amount + c;
      case 2:
        return c + " " + amount;
      case 3:
        return amount + " " + c;
      default:
        return c + amount;
    }
  }
  switch (s.NegCurrFormat) {
    case 1:
      return "-" + c + amount;
    case 2:
      return c + "-" + amount;
    case 3:
      return c + amount + "-";
    case 4:
      return "(" + amount + c + ")";
    case 5:
      return "-" + amount + c;
    case 6:
      return amount + "-" + c;
    case 7:
      return amount + c + "-";
    case 8:
      return "-" + amount + " " + c;
    case 9:
      return "-" + c + " " + amount;
    case 10:
      return amount + " " + c + "-";
    case 11:
      return c + " " + amount + "-";
    case 12:
      return c + " -" + amount;
    case 13:
      return amount + "- " + c;
    case 14:
      return "(" + c + " " + amount + ")";
    case 15:
      return "(" + amount + " " + c + ")";
    default:
      return "(" + c + amount + ")";
  }
}

std::string Formatter::Run() {
  std::string out;
  while (pos_ < fmt_.size()) {
    const char c = fmt_[pos_++];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (pos_ < fmt_.size() && fmt_[pos_] == '%') {
      out.push_back('%');
      ++pos_;
      continue;
    }
    const Spec spec = ReadSpec();
    std::string text = Convert(spec, NextArg());
    const std::size_t width = static_cast<std::size_t>(spec.width);
    if (text.size() < width) {
      // Zeros pad integers and finite floats; NAN, INF and texts pad with blanks.
      const bool numeric =
          spec.type == 'd' || spec.type == 'u' || spec.type == 'x' ||
          ((spec.type == 'e' || spec.type == 'f' || spec.type == 'g' || spec.type == 'n') &&
           text.back() >= '0' && text.back() <= '9');
      if (spec.left) {
        text.append(width - text.size(), ' ');
      } else if (spec.zero_pad && numeric) {
        const std::size_t sign = text[0] == '-' ? 1 : 0;
        text.insert(sign, width - text.size(), '0');
      } else {
        text.insert(0, width - text.size(), ' ');
      }
    }
    out += text;
  }
  return out;
}

bool Formatter::ReadNumber(int64_t& value, bool& leading_zero) {
  leading_zero = false;
  if (pos_ < fmt_.size() && fmt_[pos_] == '*') {
    ++pos_;
    const FormatArg& arg = NextArg();
    if (arg.kind() != FormatArg::Kind::Int32 && arg.kind() != FormatArg::Kind::Int64) Fail();
    value = arg.Int();
    if (value > kMaxSpecifierNumber || value < -kMaxSpecifierNumber) Fail();
    return true;
  }
  if (pos_ >= fmt_.size() || fmt_[pos_] < '0' || fmt_[pos_] > '9') return false;
  leading_zero = fmt_[pos_] == '0';
  value = 0;
  while (pos_ < fmt_.size() && fmt_[pos_] >= '0' && fmt_[pos_] <= '9') {
    value = value * 10 + (fmt_[pos_++] - '0');
    if (value > kMaxSpecifierNumber) Fail();
  }
  return true;
}

Spec Formatter::ReadSpec() {
  Spec spec;
  int64_t number = 0;
  bool leading_zero = false;
  bool have = ReadNumber(number, leading_zero);
  if (have && pos_ < fmt_.size() && fmt_[pos_] == ':') {
    if (number < 0) Fail();
    next_ = static_cast<std::size_t>(number);
    ++pos_;
    have = false;
  }
  if (!have) {
    if (pos_ < fmt_.size() && fmt_[pos_] == '-') {
      spec.left = true;
      ++pos_;
    }
    have = ReadNumber(number, leading_zero);
  }
  // A "0" just before "*" is the zero flag of a width taken from the
  // arguments, not a width of its own.
  if (have && leading_zero && number == 0 && pos_ < fmt_.size() && fmt_[pos_] == '*') {
    ReadNumber(number, leading_zero);
    leading_zero = true;
  }
  if (have) {
    spec.zero_pad = leading_zero;
    if (number < 0) spec.left = true;
    spec.width = number < 0 ? -number : number;
  }
  if (pos_ < fmt_.size() && fmt_[pos_] == '.') {
    ++pos_;
    int64_t precision = 0;  // "." without digits means 0
    ReadNumber(precision, leading_zero);
    spec.precision = precision < 0 ? -1 : precision;
  }
  if (pos_ >= fmt_.size()) Fail();
  const char type = fmt_[pos_++];
  spec.type = static_cast<char>(type >= 'A' && type <= 'Z' ? type - 'A' + 'a' : type);
  return spec;
}

std::string Formatter::Convert(const Spec& spec, const FormatArg& arg) {
  switch (spec.type) {
    case 'd':
    case 'u':
    case 'x':
      return Integer(spec, arg);
    case 'e':
    case 'f':
    case 'g':
    case 'n':
    case 'm':
      return Float(spec, arg);
    case 's': {
      std::string text;
      if (arg.kind() == FormatArg::Kind::String) {
        text = arg.Text();
      } else if (arg.kind() == FormatArg::Kind::Char) {
        text = std::string(1, arg.Char());
      } else {
        Fail();
      }
      if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision)) {
        text.resize(spec.precision);
      }
      return text;
    }
    case 'p':
      if (arg.kind() != FormatArg::Kind::Pointer) Fail();
      return IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(arg.Pointer())), 16);
    default:
      Fail();
  }
}

std::string Formatter::Integer(const Spec& spec, const FormatArg& arg) {
  if (!IsInteger(arg)) Fail();
  const bool is32 = arg.kind() == FormatArg::Kind::Int32;
  const bool is_unsigned = arg.kind() == FormatArg::Kind::UInt64;
  // The argument's bits in its own width: what %u and %x show of a negative value.
  const uint64_t bits = is_unsigned ? arg.UInt()
                        : is32      ? static_cast<uint32_t>(arg.Int())
                                    : static_cast<uint64_t>(arg.Int());
  std::string digits;
  bool negative = false;
  if (spec.type == 'x') {
    digits = IntToHex(static_cast<int64_t>(bits), 0);
  } else if (spec.type == 'u' || is_unsigned) {
    digits = std::to_string(bits);
  } else {
    negative = arg.Int() < 0;
    // The magnitude in unsigned arithmetic, which also holds that of INT64_MIN.
    const uint64_t value = static_cast<uint64_t>(arg.Int());
    digits = std::to_string(negative ? uint64_t{0} - value : value);
  }
  if (spec.precision > static_cast<int64_t>(digits.size())) {
    digits.insert(0, spec.precision - digits.size(), '0');
  }
  return negative ? "-" + digits : digits;
}

std::string Formatter::Float(const Spec& spec, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::Double && arg.kind() != FormatArg::Kind::Currency) Fail();
  if (arg.kind() == FormatArg::Kind::Double) {
    std::string special = SpecialFloatText(arg.Double());
    if (!special.empty()) return special;
  }
  if (spec.type == 'e' || spec.type == 'g') {
    // A Currency amount has up to 19 significant digits, a double 17.
    const int max_digits = arg.kind() == FormatArg::Kind::Currency ? 19 : kMaxFloatDigits;
    const int precision =
        spec.precision < 0 ? kFloatDigits
                           : static_cast<int>(std::clamp<int64_t>(spec.precision, 1, max_digits));
    DecimalNumber n = DecimalOf(arg, precision);
    if (spec.type == 'e') return ScientificText(n, precision);
    return GeneralText(n, precision, FormatSettings().DecimalSeparator);
  }
  const int default_decimals = spec.type == 'm' ? FormatSettings().CurrencyDecimals : 2;
  const int decimals = spec.precision < 0
                           ? default_decimals
                           : static_cast<int>(std::min<int64_t>(spec.precision, kMaxDecimals));
  DecimalNumber n = DecimalOf(arg, kFloatDigits);
  const std::string amount = FixedDigits(n, decimals, spec.type != 'f');
  const bool negative = n.negative && !n.IsZero();
  if (spec.type == 'm') return CurrencyText(amount, negative);
  return negative ? "-" + amount : amount;
}

}  // namespace

std::string FormatV(std::string_view fmt, std::span<const FormatArg> args) {
  return Formatter(fmt, args).Run();
}

}  // namespace jw
