#include "engine/expr/expression_operators.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/expr/expression_types.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/numbers.h"

namespace jw {

namespace {

// Smallint sign-extended, word zero-extended, integer as it is.
int32_t IntegerOf(const TExpToken& node) {
  switch (node.Type) {
    case kFldSmallInt:
      return LoadValue<int16_t>(node.Value());
    case kFldWord:
      return LoadValue<uint16_t>(node.Value());
    default:
      return LoadValue<int32_t>(node.Value());
  }
}

double FloatOf(const TExpToken& node) {
  if (node.Type == kFldFloat || node.Type == kFldTimeStamp) return LoadValue<double>(node.Value());
  if (node.Type == kFldBcd) return BcdToFloat(LoadValue<int64_t>(node.Value()));
  return IntegerOf(node);
}

// The value in currency units (x 10000) of a BCD or integer operand.
Currency CurrencyOf(const TExpToken& node) {
  if (node.Type == kFldBcd) return BcdToCurrency(LoadValue<int64_t>(node.Value()));
  return Currency::FromInt64(IntegerOf(node));
}

double MillisecondsOfDate(int32_t day) {
  return static_cast<double>(day) * kMSecsPerDay;
}

void SetBoolean(TExpToken& result, bool value) {
  result.IsNull = false;
  StoreValue<int16_t>(result.Value(), value ? 1 : 0);
}

bool BooleanOf(const TExpToken& node) {
  return !node.IsNull && LoadValue<int16_t>(node.Value()) != 0;
}

template <typename T>
int32_t Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Three-way comparison of two non-NULL values of types the type rules let
// meet.
int32_t CompareValues(const TExpToken& left, TExpToken& right) {
  const uint8_t lt = left.Type;
  const uint8_t rt = right.Type;
  if (lt == kFldDate && rt == kFldDate) {
    return Sign(LoadValue<int32_t>(left.Value()), LoadValue<int32_t>(right.Value()));
  }
  if ((lt == kFldDate || lt == kFldTimeStamp) && (rt == kFldDate || rt == kFldTimeStamp)) {
    const double a = lt == kFldDate ? MillisecondsOfDate(LoadValue<int32_t>(left.Value()))
                                    : LoadValue<double>(left.Value());
    const double b = rt == kFldDate ? MillisecondsOfDate(LoadValue<int32_t>(right.Value()))
                                    : LoadValue<double>(right.Value());
    return CompareFloatOrder(a, b);
  }
  if (lt == kFldTime)
    return Sign(LoadValue<int32_t>(left.Value()), LoadValue<int32_t>(right.Value()));
  if (lt == kFldBoolean) {
    return (LoadValue<int16_t>(left.Value()) != 0) == (LoadValue<int16_t>(right.Value()) != 0) ? 0
                                                                                               : 1;
  }
  if (lt == kFldBytes || lt == kFldType15) {
    // Equal when the bytes over the longer of the two sizes agree (the
    // buffers are zero-filled past a value).
    const int32_t n = std::min(std::max(left.Size(), right.Size()),
                               std::min(left.ValueCapacity(), right.ValueCapacity()));
    const int c = std::memcmp(left.Value(), right.Value(), static_cast<size_t>(std::max(n, 0)));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (IsIntegerType(lt) && IsIntegerType(rt)) return Sign(IntegerOf(left), IntegerOf(right));
  if (lt == kFldBcd || rt == kFldBcd) {
    // The BCD side as currency against the other value x 10000.
    if (lt == kFldFloat || rt == kFldFloat) {
      const double a = lt == kFldBcd ? static_cast<double>(CurrencyOf(left).Raw())
                                     : FloatOf(left) * Currency::kScale;
      const double b = rt == kFldBcd ? static_cast<double>(CurrencyOf(right).Raw())
                                     : FloatOf(right) * Currency::kScale;
      return CompareFloatOrder(a, b);
    }
    return Sign(CurrencyOf(left).Raw(), CurrencyOf(right).Raw());
  }
  // Floats compare in the order of their key images (NaN included).
  return CompareFloatOrder(FloatOf(left), FloatOf(right));
}

// = and <> with a NULL on a side: against the NULL constant, whether the
// other side is NULL; otherwise two NULLs are equal. False when neither side
// is NULL and the values must be compared.
bool CompareNullForEquality(bool equal_wanted, const TExpToken& left, const TExpToken& right,
                            TExpToken& result) {
  if (right.Type == 0 || left.Type == 0) {
    const TExpToken& other = right.Type == 0 ? left : right;
    SetBoolean(result, other.IsNull == equal_wanted);
    return true;
  }
  if (left.IsNull || right.IsNull) {
    SetBoolean(result, (left.IsNull && right.IsNull) == equal_wanted);
    return true;
  }
  return false;
}

void Compare(uint8_t op, const TExpToken& left, TExpToken& right, uint16_t sort_id,
             uint16_t language_id, TExpToken& result) {
  if ((op == kOpEqual || op == kOpNotEqual) &&
      CompareNullForEquality(op == kOpEqual, left, right, result)) {
    return;
  }
  if (IsStringValue(left) && IsStringValue(right)) {
    // A NULL string compares as the empty string.
    const char* a = left.IsNull ? "" : ValueText(const_cast<TExpToken&>(left));
    const char* b = right.IsNull ? "" : ValueText(right);
    SetBoolean(result,
               ApplyComparison(op, CompareLocaleStrings(language_id, sort_id, a, false, 0, b)));
    return;
  }
  if (left.IsNull || right.IsNull) {
    // Exactly one NULL is false; two NULLs compare as equal.
    SetBoolean(result, left.IsNull && right.IsNull && ApplyComparison(op, 0));
    return;
  }
  SetBoolean(result, ApplyComparison(op, CompareValues(left, right)));
}

// A string result keeps the first kMaxStringLength characters; a text BLOB
// result keeps every one.
void Concatenate(TExpToken& left, TExpToken& right, TExpToken& result) {
  const char* a = left.IsNull ? "" : ValueText(left);
  const char* b = right.IsNull ? "" : ValueText(right);
  const size_t limit =
      result.Type == kFldString ? kMaxStringLength : std::numeric_limits<size_t>::max();
  const size_t la = std::min(std::strlen(a), limit);
  const size_t lb = std::min(std::strlen(b), limit - la);
  const auto needed = static_cast<int32_t>(la + lb + 1);
  if (result.Size() < needed) result.SetValueSize(needed);
  std::memmove(result.Value(), a, la);
  std::memmove(result.Value() + la, b, lb);
  std::memset(result.Value() + la + lb, 0, static_cast<size_t>(result.Size()) - la - lb);
  result.IsNull = false;
}

// Writes an integer result by the result's type (a word keeps the low 16
// bits).
void StoreInteger(TExpToken& result, int32_t value) {
  result.IsNull = false;
  if (result.Type == kFldWord || result.Type == kFldSmallInt) {
    StoreValue<uint16_t>(result.Value(), static_cast<uint16_t>(value));
  } else {
    StoreValue<int32_t>(result.Value(), value);
  }
}

void StoreFloat(TExpToken& result, double value) {
  result.IsNull = false;
  StoreValue<double>(result.Value(), value);
}

// Date, time and timestamp arithmetic. Returns false when neither operand
// is one of them.
bool TemporalArithmetic(uint8_t op, const TExpToken& left, const TExpToken& right,
                        TExpToken& result) {
  const uint8_t lt = left.Type;
  const uint8_t rt = right.Type;
  const bool left_temporal = lt == kFldDate || lt == kFldTime || lt == kFldTimeStamp;
  const bool right_temporal = rt == kFldDate || rt == kFldTime || rt == kFldTimeStamp;
  if (!left_temporal && !right_temporal) return false;
  if (left_temporal && right_temporal) {
    // Differences only.
    if (lt == kFldTimeStamp && rt == kFldTimeStamp) {
      StoreFloat(result, LoadValue<double>(left.Value()) - LoadValue<double>(right.Value()));
    } else if (lt == kFldTimeStamp) {
      const double ms = LoadValue<double>(left.Value());
      const double day = std::floor(ms / kMSecsPerDay);
      if (rt == kFldDate) {
        StoreInteger(result, WrapSub(static_cast<int32_t>(day), LoadValue<int32_t>(right.Value())));
      } else {
        StoreInteger(result, WrapSub(static_cast<int32_t>(ms - day * kMSecsPerDay),
                                     LoadValue<int32_t>(right.Value())));
      }
    } else {
      StoreInteger(result,
                   WrapSub(LoadValue<int32_t>(left.Value()), LoadValue<int32_t>(right.Value())));
    }
    return true;
  }
  const TExpToken& moment = left_temporal ? left : right;
  const TExpToken& count = left_temporal ? right : left;
  const int32_t n = op == kOpSubtract ? WrapSub(0, IntegerOf(count)) : IntegerOf(count);
  if (moment.Type == kFldTimeStamp) {
    // Whole days; the time of day is kept.
    StoreFloat(result, LoadValue<double>(moment.Value()) + static_cast<double>(n) * kMSecsPerDay);
  } else {
    StoreInteger(result, WrapAdd(LoadValue<int32_t>(moment.Value()), n));
  }
  return true;
}

// Whether a op b lies above zero; the sign is all an overflow needs.
bool ExactResultIsPositive(uint8_t op, double a, double b) {
  switch (op) {
    case kOpAdd:
      return a + b > 0;
    case kOpSubtract:
      return a - b > 0;
    default:
      return (a > 0) == (b > 0);
  }
}

// BCD against an integer type or BCD, in currency units; the result is
// encoded at the scale of the BCD operand (the left one when both are).
// A value that the currency form or the encoding cannot hold, an operand's
// or the result's, raises EArithmeticOverflow on the side where the exact
// result lies.
void BcdArithmetic(uint8_t op, const TExpToken& left, const TExpToken& right, TExpToken& result) {
  const int32_t scale = left.Type == kFldBcd ? left.Scale : right.Scale;
  int64_t stored = 0;
  try {
    const Currency a = CurrencyOf(left);
    const Currency b = CurrencyOf(right);
    switch (op) {
      case kOpAdd:
        stored = CurrencyToBcd(scale, a + b);
        break;
      case kOpSubtract:
        stored = CurrencyToBcd(scale, a - b);
        break;
      case kOpMultiply:
        stored = CurrencyToBcd(scale, a * b);
        break;
      default:
        if (b.Raw() == 0) {
          SetNullResult(result);
          return;
        }
        stored = CurrencyToBcd(scale, a / b);
        break;
    }
  } catch (const EIntOverflow&) {
    throw EArithmeticOverflow(ExactResultIsPositive(op, FloatOf(left), FloatOf(right)));
  } catch (const EConvertError&) {
    throw EArithmeticOverflow(ExactResultIsPositive(op, FloatOf(left), FloatOf(right)));
  }
  result.IsNull = false;
  StoreValue<int64_t>(result.Value(), stored);
}

void Arithmetic(uint8_t op, TExpToken& left, TExpToken& right, TExpToken& result) {
  if (op == kOpAdd && IsStringValue(left) && IsStringValue(right)) {
    Concatenate(left, right, result);
    return;
  }
  if (left.IsNull || right.IsNull) {
    SetNullResult(result);
    return;
  }
  if (TemporalArithmetic(op, left, right, result)) return;
  const uint8_t lt = left.Type;
  const uint8_t rt = right.Type;
  if (lt == kFldFloat || rt == kFldFloat) {
    const double a = FloatOf(left);
    const double b = FloatOf(right);
    switch (op) {
      case kOpAdd:
        StoreFloat(result, a + b);
        return;
      case kOpSubtract:
        StoreFloat(result, a - b);
        return;
      case kOpMultiply:
        StoreFloat(result, a * b);
        return;
      default:
        if (b == 0) {
          SetNullResult(result);
        } else {
          StoreFloat(result, a / b);
        }
        return;
    }
  }
  if (lt == kFldBcd || rt == kFldBcd) {
    BcdArithmetic(op, left, right, result);
    return;
  }
  const int32_t a = IntegerOf(left);
  const int32_t b = IntegerOf(right);
  switch (op) {
    case kOpAdd:
      StoreInteger(result, WrapAdd(a, b));
      return;
    case kOpSubtract:
      StoreInteger(result, WrapSub(a, b));
      return;
    case kOpMultiply:
      StoreInteger(result, WrapMul(a, b));
      return;
    default:
      // Integer types divided by integer types give a float quotient.
      if (b == 0) {
        SetNullResult(result);
      } else {
        StoreFloat(result, static_cast<double>(a) / b);
      }
      return;
  }
}

// The low 16 bits of a 64-bit integer, as stored in a smallint or word.
uint16_t Low16(int64_t value) {
  return static_cast<uint16_t>(static_cast<uint64_t>(value));
}
int32_t Low32(int64_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

}  // namespace

// Done in unsigned arithmetic because signed overflow is undefined in C++.
int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

bool ApplyComparison(uint8_t op, int32_t c) {
  switch (op) {
    case kOpEqual:
      return c == 0;
    case kOpNotEqual:
      return c != 0;
    case kOpGreater:
      return c > 0;
    case kOpLess:
      return c < 0;
    case kOpGreaterOrEqual:
      return c >= 0;
    default:
      return c <= 0;
  }
}

bool IsStringValue(const TExpToken& node) {
  return node.Type == kFldString || (node.Type == kFldBlob && node.Subtype == kSubTypeTextBlob);
}

const char* ValueText(TExpToken& node) {
  char* text = reinterpret_cast<char*>(node.Value());
  const auto capacity = static_cast<size_t>(node.ValueCapacity());
  if (std::memchr(text, 0, capacity) == nullptr) text[capacity - 1] = '\0';
  return text;
}

void SetNullResult(TExpToken& result) {
  std::memset(result.Value(), 0,
              static_cast<size_t>(std::clamp(result.Size(), 0, result.ValueCapacity())));
  result.IsNull = true;
}

void EvaluateUnary(uint8_t op, const TExpToken& operand, TExpToken& result) {
  switch (op & 0x7F) {
    case kOpIsNull:
      SetBoolean(result, operand.IsNull);
      return;
    case kOpIsNotNull:
      SetBoolean(result, !operand.IsNull);
      return;
    case kOpNot:
      // A NULL boolean counts as false.
      SetBoolean(result, !BooleanOf(operand));
      return;
    default:
      break;
  }
  if (operand.IsNull) {
    SetNullResult(result);
    return;
  }
  const bool negate = (op & 0x7F) == kOpNegate;
  result.IsNull = false;
  switch (operand.Type) {
    case kFldFloat:
    case kFldTimeStamp: {
      const double v = LoadValue<double>(operand.Value());
      StoreValue<double>(result.Value(), negate ? -v : v);
      return;
    }
    case kFldBcd: {
      // Re-encoded at the operand's scale.
      const Currency c = BcdToCurrency(LoadValue<int64_t>(operand.Value()));
      StoreValue<int64_t>(result.Value(), CurrencyToBcd(operand.Scale, negate ? -c : c));
      return;
    }
    case kFldSmallInt:
    case kFldWord: {
      const uint16_t v = LoadValue<uint16_t>(operand.Value());
      StoreValue<uint16_t>(result.Value(), negate ? static_cast<uint16_t>(0u - v) : v);
      return;
    }
    case kFldDate:
    case kFldTime:
    case kFldInteger: {
      const int32_t v = LoadValue<int32_t>(operand.Value());
      StoreValue<int32_t>(result.Value(), negate ? WrapSub(0, v) : v);
      return;
    }
    default:
      std::memcpy(result.Value(), operand.Value(),
                  static_cast<size_t>(std::min(operand.ValueCapacity(), result.ValueCapacity())));
      return;
  }
}

void EvaluateBinary(uint8_t op, const TExpToken& left, TExpToken& right, uint16_t sort_id,
                    uint16_t language_id, TExpToken& result) {
  op &= 0x7F;
  switch (op) {
    case kOpEqual:
    case kOpNotEqual:
    case kOpGreater:
    case kOpLess:
    case kOpGreaterOrEqual:
    case kOpLessOrEqual:
      Compare(op, left, right, sort_id, language_id, result);
      return;
    case kOpAnd:
      SetBoolean(result, BooleanOf(left) && BooleanOf(right));
      return;
    case kOpOr:
      SetBoolean(result, BooleanOf(left) || BooleanOf(right));
      return;
    default:
      Arithmetic(op, const_cast<TExpToken&>(left), right, result);
      return;
  }
}

void EvaluateStringCompare(uint8_t op, int32_t partial_length, bool case_insensitive,
                           uint16_t sort_id, uint16_t language_id, TExpToken& result,
                           TExpToken& right, TExpToken& left) {
  const bool equal_wanted = (op & 0x7F) == kOpEqual;
  if (CompareNullForEquality(equal_wanted, left, right, result)) return;
  const int32_t c = CompareLocaleStrings(language_id, sort_id, ValueText(left), case_insensitive,
                                         std::max(partial_length, 0), ValueText(right));
  SetBoolean(result, (c == 0) == equal_wanted);
}

void CoerceValue(const TExpToken& source, const void* source_value, const TExpToken& target,
                 void* out_value) {
  const uint8_t st = source.Type;
  const bool integer_source = IsIntegerType(st);
  auto integer = [&]() -> int32_t {
    if (st == kFldSmallInt) return LoadValue<int16_t>(source_value);
    if (st == kFldWord) return LoadValue<uint16_t>(source_value);
    return LoadValue<int32_t>(source_value);
  };
  // Integers, floats truncated toward zero, BCD as its currency value
  // truncated; false for any other source.
  auto truncated = [&](int64_t& v) {
    if (integer_source) {
      v = integer();
    } else if (st == kFldFloat) {
      v = Trunc(LoadValue<double>(source_value));
    } else if (st == kFldBcd) {
      v = Trunc(BcdToCurrency(LoadValue<int64_t>(source_value)));
    } else {
      return false;
    }
    return true;
  };
  int64_t v = 0;
  switch (target.Type) {
    case kFldDate:
      if (st == kFldTimeStamp) {
        StoreValue<int32_t>(
            out_value,
            static_cast<int32_t>(std::floor(LoadValue<double>(source_value) / kMSecsPerDay)));
      }
      return;
    case kFldSmallInt:
    case kFldWord:
      if (st != target.Type && truncated(v)) StoreValue<uint16_t>(out_value, Low16(v));
      return;
    case kFldInteger:
      if (st != kFldInteger && truncated(v)) StoreValue<int32_t>(out_value, Low32(v));
      return;
    case kFldFloat:
      if (integer_source) StoreValue<double>(out_value, integer());
      if (st == kFldBcd)
        StoreValue<double>(out_value, BcdToFloat(LoadValue<int64_t>(source_value)));
      return;
    case kFldBcd:
      if (integer_source) {
        StoreValue<int64_t>(out_value, CurrencyToBcd(target.Scale, Currency::FromInt64(integer())));
      }
      if (st == kFldFloat) {
        StoreValue<int64_t>(out_value, FloatToBcd(target.Scale, LoadValue<double>(source_value)));
      }
      return;
    case kFldTimeStamp:
      if (st == kFldDate)
        StoreValue<double>(out_value, MillisecondsOfDate(LoadValue<int32_t>(source_value)));
      return;
    default:
      return;
  }
}

}  // namespace jw
