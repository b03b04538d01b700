// Variant: a value whose type is chosen at run time (empty, null, boolean,
// integers, double, currency, string, date-time, or an array of variants),
// with the conversions and comparisons that the dataset framework's fields,
// parameters, Locate and Lookup use.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/rtl/date_time.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/numbers.h"

namespace jw {

// A conversion the value does not allow, or an array index outside the array.
class EVariantError : public Exception {
  using Exception::Exception;
};

enum TVarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varBoolean = 0x000B,
  varVariant = 0x000C,  // the element type of an array
  varWord = 0x0012,
  varInt64 = 0x0014,
  varString = 0x0100,
  varArray = 0x2000,  // flag: an array of the element type
};

class Variant {
 public:
  Variant() = default;  // empty
  Variant(bool value);
  Variant(int16_t value);   // varSmallint
  Variant(uint16_t value);  // varWord
  Variant(int value);       // varInteger
  Variant(long value);      // varInt64
  Variant(long long value);
  Variant(double value);
  Variant(Currency value);
  Variant(const char* value);
  Variant(std::string value);

  static Variant Null();
  static Variant FromDateTime(TDateTime value);
  // An array of the given elements, indexed from 0 (VarArrayOf). Arrays
  // nest at most 100 levels deep: a deeper one raises EVariantError
  // "Variant arrays nest deeper than 100 levels".
  static Variant ArrayOf(std::vector<Variant> elements);

  // varArray | varVariant for an array.
  TVarType VarType() const { return type_; }

  // Conversions. Empty gives 0, false or ""; null raises. A string is read
  // by the integer, float, currency or date-time text rules (integers also
  // accept float text, rounded). Fractions are rounded to the nearest
  // integer, ties to even. True is -1 as a number and "True" as text; a
  // number is true when it is not 0, and a string when it reads "True"
  // (any case) or a number that is not 0. A date converts as its day count.
  // An array converts to nothing. Every failure, also a value outside the
  // target's range, raises EVariantError "Could not convert variant of type
  // (<from>) into type (<to>)" with the names of VarTypeAsText.
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  bool AsBoolean() const;
  Currency AsCurrency() const;
  std::string AsString() const;
  TDateTime AsDateTime() const;

  // Array elements; EVariantError "Variant or safe array index out of
  // bounds" outside 0..high bound, "Variant is not an array" for a value
  // that is not an array.
  const Variant& operator[](int index) const;
  Variant& operator[](int index);
  // The number of elements; 0 for a value that is not an array.
  int ElementCount() const { return static_cast<int>(elements_.size()); }

  // Equal when VarCompare gives 0.
  friend bool operator==(const Variant& a, const Variant& b);
  friend int VarCompare(const Variant& a, const Variant& b);

 private:
  int ArrayIndex(int index) const;
  // VarCompare with `depth` the array level of a and b (1 at the top).
  static int Compare(const Variant& a, const Variant& b, int depth);
  // The whole number that empty (0), a boolean (-1 or 0) and the integer
  // types stand for in numeric conversions; false for the other types.
  bool TryOrdinalValue(int64_t& value) const;

  TVarType type_ = varEmpty;
  // Integers, booleans (0 or 1) and currency (its raw count) use int_;
  // double and date use double_.
  int64_t int_ = 0;
  double double_ = 0;
  std::string string_;
  std::vector<Variant> elements_;
  // 0 for a single value, else 1 + the deepest element's nesting, as
  // ArrayOf found it.
  uint8_t nesting_ = 0;
};

// Null and the empty value, as the host's Null and Unassigned.
inline Variant Null() {
  return Variant::Null();
}
inline Variant Unassigned() {
  return Variant();
}

inline Variant VarArrayOf(std::initializer_list<Variant> elements) {
  return Variant::ArrayOf(std::vector<Variant>(elements));
}
inline Variant VarFromDateTime(TDateTime value) {
  return Variant::FromDateTime(value);
}

inline TVarType VarType(const Variant& value) {
  return value.VarType();
}
inline bool VarIsNull(const Variant& value) {
  return value.VarType() == varNull;
}
inline bool VarIsEmpty(const Variant& value) {
  return value.VarType() == varEmpty;
}
bool VarIsArray(const Variant& value);
// 0 for an array; EVariantError "Variant is not an array" otherwise.
int VarArrayLowBound(const Variant& value, int dim);
// The last index (-1 for an empty array); dim must be 1, as arrays have one
// dimension ("Variant array bounds error" otherwise).
int VarArrayHighBound(const Variant& value, int dim);

// The text of a value, "" for null (AsString raises for null).
std::string VarToStr(const Variant& value);

// The type's name in conversion errors: "Empty", "Null", "Smallint",
// "Integer", "Double", "Currency", "Date", "Boolean", "Word", "Int64",
// "String", "Array Variant".
std::string VarTypeAsText(TVarType type);

// Orders two values: -1, 0 or 1.
// - Empty sorts before null, null before every other value, arrays after
//   every single value; empty equals empty and null equals null.
// - Numbers (boolean, the integers, double, currency, date) compare by value
//   across types, integers exactly. Two booleans order false before true; a
//   boolean against another number counts as -1 or 0. NaN equals NaN and
//   sorts after every other number.
// - Strings compare byte by byte, case-sensitive.
// - A string against a number or date compares as that number or date when
//   it reads as one, and otherwise as text against the other's text.
// - Arrays compare element by element, then by length. Arrays nested
//   deeper than 100 levels (built by assigning into elements) raise the
//   nesting error of ArrayOf.
int VarCompare(const Variant& a, const Variant& b);

}  // namespace jw
