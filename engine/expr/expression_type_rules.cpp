#include <initializer_list>

#include "engine/expr/expression_tokens.h"
#include "engine/expr/expression_types.h"
#include "engine/support/field_types.h"

namespace jw {

namespace {

// A set of type codes 0 .. 15 as bits.
using TypeSet = uint16_t;

constexpr TypeSet Types(std::initializer_list<uint8_t> types) {
  TypeSet set = 0;
  for (uint8_t type : types) set = static_cast<TypeSet>(set | (1u << type));
  return set;
}

constexpr bool In(uint8_t type, TypeSet set) {
  return type < 16 && (set & (1u << type)) != 0;
}

constexpr TypeSet kNumeric = Types({5, 6, 7, 8, 12});
constexpr TypeSet kIntegers = Types({5, 6, 12});

uint8_t BaseCode(uint8_t op) {
  return static_cast<uint8_t>(op & 0x7F);
}

bool IsStringLike(uint8_t type, uint8_t subtype) {
  return type == 1 || (type == 3 && subtype == kSubTypeTextBlob);
}

bool IsComparison(uint8_t op) {
  return op >= kOpEqual && op <= kOpLessOrEqual;
}

bool ValidEquality(uint8_t lt, uint8_t ls, uint8_t rs, uint8_t rt) {
  // The NULL constant compares with every stored type, never on the left.
  if (rt == 0) return In(lt, Types({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  if (IsStringLike(lt, ls)) return IsStringLike(rt, rs);
  switch (lt) {
    case 2:
    case 11:
      return In(rt, Types({2, 11}));
    case 4:
    case 9:
    case 10:
      return rt == lt;
    default:
      return In(lt, kNumeric) && In(rt, kNumeric);
  }
}

bool ValidOrdering(uint8_t lt, uint8_t ls, uint8_t rs, uint8_t rt) {
  if (IsStringLike(lt, ls)) return IsStringLike(rt, rs);
  if (In(lt, Types({2, 11}))) return In(rt, Types({2, 11}));
  if (In(lt, kNumeric)) return In(rt, kNumeric);
  return lt == 10 && rt == 10;
}

bool ValidAddition(uint8_t lt, uint8_t ls, uint8_t rs, uint8_t rt) {
  if (IsStringLike(lt, ls)) return IsStringLike(rt, rs);
  if (In(lt, Types({2, 10, 11}))) return In(rt, kIntegers);
  if (In(lt, kIntegers)) return In(rt, Types({2, 5, 6, 7, 8, 10, 11, 12}));
  if (In(lt, Types({7, 8}))) return In(rt, kNumeric);
  return false;
}

bool ValidSubtraction(uint8_t lt, uint8_t rt) {
  switch (lt) {
    case 2:
      return In(rt, Types({2, 5, 6, 12}));
    case 10:
      return In(rt, Types({5, 6, 10, 12}));
    case 11:
      return In(rt, Types({2, 5, 6, 10, 11, 12}));
    default:
      return In(lt, kNumeric) && In(rt, kNumeric);
  }
}

// The result of an integer type (5, 6, 12) or float or BCD combined with a
// number: float wins over BCD, BCD over the integer types.
uint8_t NumericResult(uint8_t lt, uint8_t rt, uint8_t integer_result) {
  if (!In(rt, kNumeric)) return 0;
  if (lt == 7 || rt == 7) return 7;
  if (lt == 8 || rt == 8) return 8;
  return integer_result;
}

uint8_t AdditionResult(uint8_t lt, uint8_t rt) {
  switch (lt) {
    case 1:
      return rt == 1 ? 1 : rt == 3 ? 3 : 0;
    case 3:
      return rt == 1 || rt == 3 ? 3 : 0;
    case 2:
    case 10:
    case 11:
      return In(rt, kIntegers) ? lt : 0;
    case 5:
    case 6:
    case 12:
      if (In(rt, Types({2, 10, 11}))) return rt;
      return NumericResult(lt, rt, 6);
    case 7:
    case 8:
      return NumericResult(lt, rt, 0);
    default:
      return 0;
  }
}

uint8_t SubtractionResult(uint8_t lt, uint8_t rt) {
  switch (lt) {
    case 2:
      if (rt == 2) return 6;  // days
      return In(rt, kIntegers) ? 2 : 0;
    case 5:
    case 6:
      return NumericResult(lt, rt, 6);
    case 12:
      return NumericResult(lt, rt, 12);
    case 7:
    case 8:
      return NumericResult(lt, rt, 0);
    case 10:
      if (rt == 10) return 6;  // milliseconds
      return In(rt, kIntegers) ? 10 : 0;
    case 11:
      if (rt == 2 || rt == 10) return 6;  // days, or milliseconds of the day
      if (rt == 11) return 7;             // milliseconds
      return In(rt, kIntegers) ? 11 : 0;
    default:
      return 0;
  }
}

uint8_t ProductResult(uint8_t lt, uint8_t rt) {
  if (!In(lt, kNumeric)) return 0;
  return NumericResult(lt, rt, 6);
}

uint8_t QuotientResult(uint8_t lt, uint8_t rt) {
  if (!In(lt, kNumeric)) return 0;
  // Integer types divided by integer types give a float.
  return NumericResult(lt, rt, 7);
}

}  // namespace

bool IsValidUnaryOperandType(uint8_t op, uint8_t type) {
  switch (BaseCode(op)) {
    case kOpNot:
      return type == 4;
    case kOpNegate:
      return In(type, Types({2, 5, 6, 7, 8, 10, 11}));
    case kOpPlusSign:
      return In(type, Types({2, 5, 6, 7, 8, 10, 11, 12}));
    default:
      return false;
  }
}

uint8_t UnaryResultType(uint8_t op, uint8_t type) {
  switch (BaseCode(op)) {
    case kOpNot:
      return 4;
    case kOpNegate:
    case kOpPlusSign:
      return type;
    default:
      return 0;
  }
}

uint8_t UnaryResultSubtype(uint8_t op, uint8_t subtype) {
  const uint8_t code = BaseCode(op);
  return code == kOpNegate || code == kOpPlusSign ? subtype : 0;
}

bool IsValidOperandTypes(uint8_t op, uint8_t left_type, uint8_t left_subtype, uint8_t right_subtype,
                         uint8_t right_type) {
  const uint8_t lt = left_type;
  const uint8_t rt = right_type;
  switch (BaseCode(op)) {
    case kOpEqual:
    case kOpNotEqual:
      return ValidEquality(lt, left_subtype, right_subtype, rt);
    case kOpGreater:
    case kOpLess:
    case kOpGreaterOrEqual:
    case kOpLessOrEqual:
      return ValidOrdering(lt, left_subtype, right_subtype, rt);
    case kOpAnd:
    case kOpOr:
      return lt == 4 && rt == 4;
    case kOpAdd:
      return ValidAddition(lt, left_subtype, right_subtype, rt);
    case kOpSubtract:
      return ValidSubtraction(lt, rt);
    case kOpMultiply:
    case kOpDivide:
      return In(lt, kNumeric) && In(rt, kNumeric);
    default:
      return false;
  }
}

uint8_t BinaryResultType(uint8_t op, uint8_t left_type, uint8_t right_type) {
  const uint8_t code = BaseCode(op);
  if (IsComparison(code) || code == kOpAnd || code == kOpOr) return 4;
  switch (code) {
    case kOpAdd:
      return AdditionResult(left_type, right_type);
    case kOpSubtract:
      return SubtractionResult(left_type, right_type);
    case kOpMultiply:
      return ProductResult(left_type, right_type);
    case kOpDivide:
      return QuotientResult(left_type, right_type);
    default:
      return 0;
  }
}

uint8_t BinaryResultSubtype(uint8_t op, uint8_t left_type, uint8_t left_subtype,
                            uint8_t right_subtype, uint8_t right_type) {
  const uint8_t code = BaseCode(op);
  if (code == kOpAdd && left_type == 1) return right_type == 3 ? kSubTypeTextBlob : 0;
  if (code == kOpAdd && left_type == 3) return kSubTypeTextBlob;
  if ((code == kOpAdd || code == kOpMultiply) && left_subtype == 0 &&
      right_subtype == kSubTypeMoney) {
    return kSubTypeMoney;
  }
  if (code >= kOpAdd && code <= kOpDivide && left_subtype == kSubTypeMoney &&
      In(right_type, kNumeric)) {
    return kSubTypeMoney;
  }
  return 0;
}

bool IsCastAllowed(uint8_t target_type, uint8_t source_type) {
  const uint8_t s = source_type;
  switch (target_type) {
    case 1:
    case 9:
    case 15:
      return s < 16 && s != 3;
    case 2:
      return In(s, Types({1, 2, 9, 11, 15}));
    case 3:
      return s == 3;
    case 4:
      return In(s, Types({1, 4, 5, 6, 8, 9, 12, 15}));
    case 5:
    case 12:
      return In(s, Types({1, 4, 5, 6, 7, 8, 9, 12, 15}));
    case 6:
    case 7:
    case 8:
      return In(s, Types({1, 5, 6, 7, 8, 9, 12, 15}));
    case 10:
      return In(s, Types({1, 9, 10, 11, 15}));
    case 11:
      return In(s, Types({1, 2, 9, 10, 11, 15}));
    default:
      return false;
  }
}

}  // namespace jw
