// How the evaluator combines computed operand values: comparisons, AND, OR,
// NOT, the signs and the arithmetic of every type pair the type rules admit,
// the prepared string comparison of filters, how NULL travels through each
// of them, and the coercion of a constant to a column's type.
#pragma once

#include <cstdint>

#include "engine/expr/expression_tokens.h"
#include "platform/rtl/exceptions.h"

namespace jw {

// Each routine writes its value into `result`, whose type, subtype, size
// and scale the binder has fixed. A NULL result is a value buffer cleared
// over the result's size with the NULL flag set. Boolean results are 0 or 1.

// NOT, unary minus and plus, and the null tests of prepared trees.
void EvaluateUnary(uint8_t op, const TExpToken& operand, TExpToken& result);

// Whether a three-way comparison result c (negative, 0, positive) meets
// the comparison operator op (=, <>, >, <, >=, <=).
bool ApplyComparison(uint8_t op, int32_t c);

// A BCD result outside what the currency form or the BCD encoding holds;
// above tells which end it passed. The evaluator turns it into the engine
// error that names the expression.
class EArithmeticOverflow : public Exception {
 public:
  explicit EArithmeticOverflow(bool above) : Exception("Arithmetic overflow"), Above(above) {}
  bool Above;
};

// Comparisons, AND, OR, +, -, * and /. Strings and text BLOBs compare under
// the language and sort ids; BCD arithmetic past its range raises
// EArithmeticOverflow.
void EvaluateBinary(uint8_t op, const TExpToken& left, TExpToken& right, uint16_t sort_id,
                    uint16_t language_id, TExpToken& result);

// The prepared string comparison (= or <>): a partial length above 0
// compares only that many leading characters.
void EvaluateStringCompare(uint8_t op, int32_t partial_length, bool case_insensitive,
                           uint16_t sort_id, uint16_t language_id, TExpToken& result,
                           TExpToken& right, TExpToken& left);

// Converts a constant's value (of source's type) to the target node's type
// and writes it to out_value; a pair of types without a conversion leaves
// out_value untouched.
void CoerceValue(const TExpToken& source, const void* source_value, const TExpToken& target,
                 void* out_value);

// The 32-bit integer arithmetic of smallint, integer and word operands:
// overflow wraps.
int32_t WrapAdd(int32_t a, int32_t b);
int32_t WrapSub(int32_t a, int32_t b);
int32_t WrapMul(int32_t a, int32_t b);

// Writes the NULL result described above.
void SetNullResult(TExpToken& result);

// A string, or a BLOB holding text: the operands that compare and
// concatenate as strings.
bool IsStringValue(const TExpToken& node);

// The node's value as a zero-terminated text. A buffer without a zero in
// it gets one in its last byte, so no reader runs past it.
const char* ValueText(TExpToken& node);

}  // namespace jw
