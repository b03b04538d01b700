// EvaluateExpression: computes a bound expression tree for one record,
// every function and predicate included, with column values supplied by the
// caller's callback; and AggregateCode, the function code of an aggregate
// name.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/expr/expression_tokens.h"

namespace jw {

// Fills node's value buffer and NULL flag for the column the node names
// (its column name, field number and field reference are the bound ones).
using TColumnValueFn = void (*)(void* context, const void* record, TExpToken* node);

// The value of the tree for the record: a node from the pool, a copy of
// `node` holding the value and NULL flag, made a constant with no children
// (a sub-select column stays a column). The caller releases it with
// ReleaseToken. column_value may be nullptr when no record is involved;
// a column then keeps its value only when it was written as a string
// constant, and any other column raises engine error 11949. Every node
// taken for operands goes back to the pool, also when evaluation raises.
TExpToken* EvaluateExpression(const TExpToken* node, const void* record, void* context,
                              uint16_t sort_id, uint16_t language_id, TColumnValueFn column_value);

// "SUM" 23, "AVG" 27, "MIN" 25, "MAX" 26, "COUNT" 24 without regard to
// case; 0 for any other name.
uint8_t AggregateCode(std::string_view name);

}  // namespace jw
