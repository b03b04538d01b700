#include "platform/rtl/variant.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/rtl/date_format.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr TVarType kVariantArray = static_cast<TVarType>(varArray | varVariant);

// Arrays nest at most this deep, so that comparing, copying and freeing
// them, which recurse into the elements, stay far within the stack.
constexpr int kMaxArrayNesting = 100;

[[noreturn]] void RaiseNestingError() {
  throw EVariantError(Format("Variant arrays nest deeper than %d levels", kMaxArrayNesting));
}

[[noreturn]] void CastError(TVarType from, TVarType to) {
  throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                             VarTypeAsText(from), VarTypeAsText(to)));
}

// A double rounded to an integer, ties to even; false outside int64 or NaN.
bool TryRoundDouble(double value, int64_t& result) {
  try {
    result = Round(value);
  } catch (const EConvertError&) {
    return false;
  }
  return true;
}

// A number as the comparison sees it: an exact integer, an exact currency
// amount or a double.
struct Number {
  enum Kind { kInt, kCurrency, kDouble } kind;
  int64_t integer = 0;  // kInt: the value; kCurrency: the raw count
  double real = 0;
};

int Sign(long double a, long double b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}
int Sign(int64_t a, int64_t b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareNumbers(const Number& a, const Number& b) {
  if (a.kind == Number::kDouble || b.kind == Number::kDouble) {
    auto as_long_double = [](const Number& n) -> long double {
      switch (n.kind) {
        case Number::kInt:
          return static_cast<long double>(n.integer);
        case Number::kCurrency:
          return static_cast<long double>(n.integer) / Currency::kScale;
        case Number::kDouble:
          break;
      }
      return n.real;
    };
    const long double x = as_long_double(a);
    const long double y = as_long_double(b);
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) - std::isnan(y);
    return Sign(x, y);
  }
  if (a.kind == b.kind) return Sign(a.integer, b.integer);
  // An integer against a currency amount: scale the integer when it fits,
  // else its magnitude exceeds every amount.
  const bool a_is_int = a.kind == Number::kInt;
  const int64_t whole = a_is_int ? a.integer : b.integer;
  const int64_t raw = a_is_int ? b.integer : a.integer;
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / Currency::kScale;
  int result;
  if (whole > kLimit) {
    result = 1;
  } else if (whole < -kLimit) {
    result = -1;
  } else {
    result = Sign(whole * Currency::kScale, raw);
  }
  return a_is_int ? result : -result;
}

Number ToNumber(TVarType type, int64_t integer, double real) {
  switch (type) {
    case varBoolean:
      return {Number::kInt, integer != 0 ? -1 : 0, 0};
    case varCurrency:
      return {Number::kCurrency, integer, 0};
    case varDouble:
    case varDate:
      return {Number::kDouble, 0, real};
    default:
      return {Number::kInt, integer, 0};
  }
}

// Reads text as a number of the other operand's family: a date text against
// a date, else integer text, else float text.
bool TryTextAsNumber(const std::string& text, TVarType other, Number& result) {
  double real = 0;
  if (other == varDate && TryStrToDateTime(text, real)) {
    result = {Number::kDouble, 0, real};
    return true;
  }
  int64_t integer = 0;
  if (TryStrToInt64(text, integer)) {
    result = {Number::kInt, integer, 0};
    return true;
  }
  if (TryStrToFloat(text, real)) {
    result = {Number::kDouble, 0, real};
    return true;
  }
  return false;
}

int Rank(TVarType type) {
  if (type == varEmpty) return 0;
  if (type == varNull) return 1;
  if (type & varArray) return 3;
  return 2;
}

int CompareBytes(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

Variant::Variant(bool value) : type_(varBoolean), int_(value ? 1 : 0) {}
Variant::Variant(int16_t value) : type_(varSmallint), int_(value) {}
Variant::Variant(uint16_t value) : type_(varWord), int_(value) {}
Variant::Variant(int value) : type_(varInteger), int_(value) {}
Variant::Variant(long value) : type_(varInt64), int_(value) {}
Variant::Variant(long long value) : type_(varInt64), int_(value) {}
Variant::Variant(double value) : type_(varDouble), double_(value) {}
Variant::Variant(Currency value) : type_(varCurrency), int_(value.Raw()) {}
Variant::Variant(const char* value) : type_(varString), string_(value ? value : "") {}
Variant::Variant(std::string value) : type_(varString), string_(std::move(value)) {}

Variant Variant::Null() {
  Variant v;
  v.type_ = varNull;
  return v;
}

Variant Variant::FromDateTime(TDateTime value) {
  Variant v(value);
  v.type_ = varDate;
  return v;
}

Variant Variant::ArrayOf(std::vector<Variant> elements) {
  Variant v;
  v.type_ = kVariantArray;
  int nesting = 1;
  for (const Variant& element : elements) nesting = std::max(nesting, element.nesting_ + 1);
  if (nesting > kMaxArrayNesting) RaiseNestingError();
  v.nesting_ = static_cast<uint8_t>(nesting);
  v.elements_ = std::move(elements);
  return v;
}

bool Variant::TryOrdinalValue(int64_t& value) const {
  switch (type_) {
    case varEmpty:
      value = 0;
      return true;
    case varBoolean:
      value = int_ != 0 ? -1 : 0;
      return true;
    case varSmallint:
    case varInteger:
    case varWord:
    case varInt64:
      value = int_;
      return true;
    default:
      return false;
  }
}

int64_t Variant::AsInt64() const {
  int64_t result = 0;
  if (TryOrdinalValue(result)) return result;
  switch (type_) {
    case varCurrency:
      return Round(Currency::FromRaw(int_));
    case varDouble:
    case varDate:
      if (TryRoundDouble(double_, result)) return result;
      break;
    case varString: {
      double real = 0;
      if (TryStrToInt64(string_, result)) return result;
      if (TryStrToFloat(string_, real) && TryRoundDouble(real, result)) return result;
      break;
    }
    default:
      break;
  }
  CastError(type_, varInt64);
}

int32_t Variant::AsInteger() const {
  int64_t value = 0;
  try {
    value = AsInt64();
  } catch (const EVariantError&) {
    CastError(type_, varInteger);
  }
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    CastError(type_, varInteger);
  }
  return static_cast<int32_t>(value);
}

double Variant::AsDouble() const {
  int64_t ordinal = 0;
  if (TryOrdinalValue(ordinal)) return static_cast<double>(ordinal);
  switch (type_) {
    case varCurrency:
      return Currency::FromRaw(int_).ToDouble();
    case varDouble:
    case varDate:
      return double_;
    case varString: {
      double result = 0;
      if (TryStrToFloat(string_, result)) return result;
      break;
    }
    default:
      break;
  }
  CastError(type_, varDouble);
}

bool Variant::AsBoolean() const {
  switch (type_) {
    case varEmpty:
      return false;
    case varBoolean:
      return int_ != 0;
    case varSmallint:
    case varInteger:
    case varWord:
    case varInt64:
    case varCurrency:
      return int_ != 0;
    case varDouble:
    case varDate:
      return double_ != 0;
    case varString: {
      if (SameText(string_, "True")) return true;
      if (SameText(string_, "False")) return false;
      double result = 0;
      if (TryStrToFloat(string_, result)) return result != 0;
      break;
    }
    default:
      break;
  }
  CastError(type_, varBoolean);
}

Currency Variant::AsCurrency() const {
  try {
    int64_t ordinal = 0;
    if (TryOrdinalValue(ordinal)) return Currency::FromInt64(ordinal);
    switch (type_) {
      case varCurrency:
        return Currency::FromRaw(int_);
      case varDouble:
      case varDate:
        return Currency::FromDouble(double_);
      case varString: {
        Currency result;
        if (TryStrToCurr(string_, result)) return result;
        break;
      }
      default:
        break;
    }
  } catch (const EIntOverflow&) {
  } catch (const EConvertError&) {
  }
  CastError(type_, varCurrency);
}

std::string Variant::AsString() const {
  switch (type_) {
    case varEmpty:
      return "";
    case varBoolean:
      return int_ != 0 ? "True" : "False";
    case varSmallint:
    case varInteger:
    case varWord:
    case varInt64:
      return IntToStr(int_);
    case varCurrency:
      return CurrToStr(Currency::FromRaw(int_));
    case varDouble:
      return FloatToStr(double_);
    case varDate:
      try {
        return DateTimeToStr(double_);
      } catch (const EConvertError&) {
        // a day count outside the calendar
      }
      break;
    case varString:
      return string_;
    default:
      break;
  }
  CastError(type_, varString);
}

TDateTime Variant::AsDateTime() const {
  switch (type_) {
    case varString: {
      TDateTime result = 0;
      if (TryStrToDateTime(string_, result)) return result;
      break;
    }
    case varNull:
      break;
    default:
      if (type_ & varArray) break;
      return AsDouble();
  }
  CastError(type_, varDate);
}

int Variant::ArrayIndex(int index) const {
  if (!(type_ & varArray)) throw EVariantError("Variant is not an array");
  if (index < 0 || index >= static_cast<int>(elements_.size())) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  return index;
}

const Variant& Variant::operator[](int index) const {
  return elements_[static_cast<std::size_t>(ArrayIndex(index))];
}

Variant& Variant::operator[](int index) {
  return elements_[static_cast<std::size_t>(ArrayIndex(index))];
}

bool operator==(const Variant& a, const Variant& b) {
  return VarCompare(a, b) == 0;
}

bool VarIsArray(const Variant& value) {
  return (value.VarType() & varArray) != 0;
}

int VarArrayLowBound(const Variant& value, int dim) {
  if (!VarIsArray(value)) throw EVariantError("Variant is not an array");
  if (dim != 1) throw EVariantError("Variant array bounds error");
  return 0;
}

int VarArrayHighBound(const Variant& value, int dim) {
  return VarArrayLowBound(value, dim) + value.ElementCount() - 1;
}

int VarCompare(const Variant& a, const Variant& b) {
  return Variant::Compare(a, b, 1);
}

int Variant::Compare(const Variant& a, const Variant& b, int depth) {
  const int rank_a = Rank(a.type_);
  const int rank_b = Rank(b.type_);
  if (rank_a != rank_b) return rank_a < rank_b ? -1 : 1;
  if (rank_a < 2) return 0;
  if (rank_a == 3) {
    const std::size_t common = std::min(a.elements_.size(), b.elements_.size());
    // An element assigned into an array can nest it deeper than ArrayOf
    // allows; the comparison stops there too.
    if (depth > kMaxArrayNesting) RaiseNestingError();
    for (std::size_t i = 0; i < common; ++i) {
      if (const int c = Compare(a.elements_[i], b.elements_[i], depth + 1); c != 0) return c;
    }
    return Sign(static_cast<int64_t>(a.elements_.size()), static_cast<int64_t>(b.elements_.size()));
  }
  const bool a_text = a.type_ == varString;
  const bool b_text = b.type_ == varString;
  if (a_text && b_text) return CompareBytes(a.string_, b.string_);
  if (!a_text && !b_text) {
    if (a.type_ == varBoolean && b.type_ == varBoolean) {
      return Sign(a.int_, b.int_);
    }
    return CompareNumbers(ToNumber(a.type_, a.int_, a.double_),
                          ToNumber(b.type_, b.int_, b.double_));
  }
  // One string, one number.
  const Variant& text = a_text ? a : b;
  const Variant& number = a_text ? b : a;
  Number parsed{};
  int result;
  if (TryTextAsNumber(text.string_, number.type_, parsed)) {
    result = CompareNumbers(parsed, ToNumber(number.type_, number.int_, number.double_));
  } else {
    std::string number_text;
    try {
      number_text = number.AsString();
    } catch (const EVariantError&) {
      number_text = FloatToStr(number.double_);  // a date outside the calendar
    }
    result = CompareBytes(text.string_, number_text);
  }
  return a_text ? result : -result;
}

std::string VarToStr(const Variant& value) {
  return VarIsNull(value) ? std::string() : value.AsString();
}

std::string VarTypeAsText(TVarType type) {
  if (type & varArray) return "Array " + VarTypeAsText(static_cast<TVarType>(type & ~varArray));
  switch (type) {
    case varEmpty:
      return "Empty";
    case varNull:
      return "Null";
    case varSmallint:
      return "Smallint";
    case varInteger:
      return "Integer";
    case varDouble:
      return "Double";
    case varCurrency:
      return "Currency";
    case varDate:
      return "Date";
    case varBoolean:
      return "Boolean";
    case varVariant:
      return "Variant";
    case varWord:
      return "Word";
    case varInt64:
      return "Int64";
    case varString:
      return "String";
    default:
      break;
  }
  return "Unknown";
}

}  // namespace jw
