// EvaluateExpression: computes a bound expression tree for one record,
// every function and predicate included, with column values supplied by the
// caller's callback; and AggregateCode, the function code of an aggregate
// name.
#pragma once

#include <cstdint>
#include <memory>
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

// Evaluates trees over record after record for one operation (a filter
// over a table, a statement over its rows): the nodes that hold operand
// values are taken from the pool once and reused for every record, so the
// steady state takes no lock and allocates nothing; constants of the tree
// are read in place. The values carry no texts or names: the column
// callback finds its column by the node's field number and references, and
// the caller reads the value, its type and NULL flag, which are those
// EvaluateExpression computes. Every node goes back to the pool when the
// evaluator goes. One evaluator serves one thread.
class TExpressionEvaluator {
 public:
  TExpressionEvaluator(void* context, uint16_t sort_id, uint16_t language_id,
                       TColumnValueFn column_value);
  TExpressionEvaluator(const TExpressionEvaluator&) = delete;
  TExpressionEvaluator& operator=(const TExpressionEvaluator&) = delete;
  ~TExpressionEvaluator();

  // The value of the tree for the record, as EvaluateExpression computes
  // it (without texts or names); the node stays the evaluator's and holds
  // the value until the next call.
  const TExpToken& Evaluate(const TExpToken& tree, const void* record);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// "SUM" 23, "AVG" 27, "MIN" 25, "MAX" 26, "COUNT" 24 without regard to
// case; 0 for any other name.
uint8_t AggregateCode(std::string_view name);

}  // namespace jw
