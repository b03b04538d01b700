// FormatFloat and FormatCurr: numbers laid out by a picture pattern.

#include <algorithm>
#include <vector>

#include "platform/rtl/decimal_text.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/numbers.h"

namespace jw {

namespace {

// One section of a pattern, taken apart into what it prints in order.
struct Picture {
  enum class Item { Literal, IntegerDigit, Point, FractionDigit, Exponent, IntegerAnchor };
  struct Token {
    Item item;
    std::string text;  // Literal: the text; Exponent: "E" or "e"
    int index = 0;     // IntegerDigit / FractionDigit: position from the left
  };
  std::vector<Token> tokens;
  int integer_places = 0;
  int min_integer_digits = 0;
  int fraction_places = 0;
  int min_fraction_digits = 0;
  bool thousands = false;
  bool scientific = false;
  bool exponent_sign_always = false;
  int exponent_digits = 0;
};

std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> sections;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';' && sections.size() < 2) {
      sections.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(pattern.substr(start));
  return sections;
}

Picture ParsePicture(std::string_view section) {
  Picture p;
  bool after_point = false;
  int first_integer_zero = -1;
  bool anchored = false;
  auto literal = [&p](std::string_view text) {
    if (!p.tokens.empty() && p.tokens.back().item == Picture::Item::Literal) {
      p.tokens.back().text += text;
    } else {
      p.tokens.push_back({Picture::Item::Literal, std::string(text)});
    }
  };
  // Integer digits of a picture without integer places print where the
  // integer part ends.
  auto anchor = [&]() {
    if (!anchored && p.integer_places == 0) p.tokens.push_back({Picture::Item::IntegerAnchor, ""});
    anchored = true;
  };
  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = section.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? section.size() : close;
      literal(section.substr(i + 1, end - i - 1));
      i = end;
    } else if ((c == '0' || c == '#') && p.scientific) {
      literal(std::string_view(&section[i], 1));  // digits past the exponent's own
    } else if ((c == '0' || c == '#') && !after_point) {
      if (c == '0' && first_integer_zero < 0) first_integer_zero = p.integer_places;
      p.tokens.push_back({Picture::Item::IntegerDigit, "", p.integer_places++});
    } else if (c == '0' || c == '#') {
      if (c == '0') p.min_fraction_digits = p.fraction_places + 1;
      p.tokens.push_back({Picture::Item::FractionDigit, "", p.fraction_places++});
    } else if (c == '.') {
      if (!after_point) {
        anchor();
        after_point = true;
        p.tokens.push_back({Picture::Item::Point, ""});
      }
    } else if (c == ',') {
      if (!after_point) p.thousands = true;
    } else if ((c == 'E' || c == 'e') && !p.scientific && i + 1 < section.size() &&
               (section[i + 1] == '+' || section[i + 1] == '-')) {
      anchor();
      after_point = true;
      p.scientific = true;
      p.exponent_sign_always = section[i + 1] == '+';
      i += 2;
      while (i < section.size() && section[i] == '0' && p.exponent_digits < 4) {
        ++p.exponent_digits;
        ++i;
      }
      --i;
      p.tokens.push_back({Picture::Item::Exponent, std::string(1, c)});
    } else {
      literal(std::string_view(&section[i], 1));
    }
  }
  anchor();
  p.min_integer_digits = first_integer_zero < 0 ? 0 : p.integer_places - first_integer_zero;
  return p;
}

// Lays out the rounded digits (integer part, shown fraction digits, exponent
// text) along the picture's tokens.
std::string Render(const Picture& p, const std::string& integer, const std::string& fraction,
                   const std::string& exponent_text, bool minus) {
  const TFormatSettings& settings = FormatSettings();
  const int size = static_cast<int>(integer.size());
  const int offset = p.integer_places - size;  // placeholders left of the first digit
  std::string text = minus ? "-" : "";
  auto put_digits = [&](int from, int to) {  // integer[from, to) with group separators
    for (int i = from; i < to; ++i) {
      text.push_back(integer[i]);
      const int left = size - 1 - i;
      if (p.thousands && left > 0 && left % 3 == 0 && settings.ThousandSeparator != '\0') {
        text.push_back(settings.ThousandSeparator);
      }
    }
  };
  for (const Picture::Token& token : p.tokens) {
    switch (token.item) {
      case Picture::Item::Literal:
        text += token.text;
        break;
      case Picture::Item::IntegerDigit:
        if (token.index == 0 && offset < 0) {
          put_digits(0, 1 - offset);
        } else if (token.index - offset >= 0) {
          put_digits(token.index - offset, token.index - offset + 1);
        }
        break;
      case Picture::Item::IntegerAnchor:
        put_digits(0, size);
        break;
      case Picture::Item::Point:
        if (!fraction.empty()) text.push_back(settings.DecimalSeparator);
        break;
      case Picture::Item::FractionDigit:
        if (token.index < static_cast<int>(fraction.size())) text.push_back(fraction[token.index]);
        break;
      case Picture::Item::Exponent:
        text += token.text + exponent_text;
        break;
    }
  }
  return text;
}

std::string TrimFraction(std::string fraction, int min_digits) {
  while (static_cast<int>(fraction.size()) > min_digits && fraction.back() == '0') {
    fraction.pop_back();
  }
  return fraction;
}

// Formats `n` with one section; `show_minus` is false for the negative section.
// Sets `nonzero` to whether the value stays nonzero after rounding.
std::string FormatSection(std::string_view section, DecimalNumber n, bool show_minus,
                          bool& nonzero) {
  const Picture p = ParsePicture(section);
  if (!p.scientific) {
    RoundToDecimals(n, p.fraction_places);
    nonzero = !n.IsZero();
    std::string integer = IntegerDigits(n);
    if (static_cast<int>(integer.size()) < p.min_integer_digits) {
      integer.insert(0, p.min_integer_digits - integer.size(), '0');
    }
    const std::string fraction =
        TrimFraction(FractionDigits(n, p.fraction_places), p.min_fraction_digits);
    return Render(p, integer, fraction, "", show_minus && n.negative && nonzero);
  }
  RoundToSignificant(n, 1 + p.fraction_places);
  nonzero = !n.IsZero();
  const int x = nonzero ? n.exponent - 1 : 0;
  const std::string integer = nonzero ? n.digits.substr(0, 1) : "0";
  std::string fraction;
  for (int i = 1; i <= p.fraction_places; ++i) {
    fraction.push_back(i < static_cast<int>(n.digits.size()) ? n.digits[i] : '0');
  }
  fraction = TrimFraction(fraction, p.min_fraction_digits);
  std::string exponent = x < 0 ? "-" : (p.exponent_sign_always ? "+" : "");
  const std::string digits = std::to_string(x < 0 ? -x : x);
  exponent.append(std::max(0, p.exponent_digits - static_cast<int>(digits.size())), '0');
  exponent += digits;
  // In scientific form the mantissa's one digit takes the last integer place.
  Picture one_place = p;
  for (Picture::Token& token : one_place.tokens) {
    if (token.item == Picture::Item::IntegerDigit) token.index -= p.integer_places - 1;
  }
  one_place.integer_places = std::min(p.integer_places, 1);
  return Render(one_place, integer, fraction, exponent, show_minus && n.negative && nonzero);
}

std::string FormatDecimal(std::string_view pattern, const DecimalNumber& n, int general_digits) {
  const std::vector<std::string_view> sections = SplitSections(pattern);
  const bool has_zero_section = sections.size() >= 3 && !sections[2].empty();
  auto format = [&](std::string_view section, bool show_minus, bool& nonzero) {
    if (section.empty()) {
      nonzero = !n.IsZero();
      return GeneralText(n, general_digits, FormatSettings().DecimalSeparator);
    }
    return FormatSection(section, n, show_minus, nonzero);
  };
  bool nonzero = true;
  if (n.IsZero() && has_zero_section) return format(sections[2], true, nonzero);
  const bool negative_section = n.negative && sections.size() >= 2 && !sections[1].empty();
  std::string text =
      format(negative_section ? sections[1] : sections[0], !negative_section, nonzero);
  // A value that rounds to zero shows as zero: by the zero section, else by
  // the first section (which prints no sign for it).
  if (!nonzero && (has_zero_section || negative_section)) {
    text = format(has_zero_section ? sections[2] : sections[0], true, nonzero);
  }
  return text;
}

}  // namespace

std::string FormatFloat(std::string_view pattern, double value) {
  std::string special = SpecialFloatText(value);
  if (!special.empty()) return special;
  return FormatDecimal(pattern, DecimalFromDouble(value, kFloatDigits), kFloatDigits);
}

std::string FormatCurr(std::string_view pattern, Currency value) {
  return FormatDecimal(pattern, DecimalFromCurrency(value), 19);
}

}  // namespace jw
