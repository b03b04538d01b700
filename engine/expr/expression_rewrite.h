// Rewrites and tests of bound expression trees: the preparation of a tree
// for filtering (fast string comparisons, constants folded to column
// types), the removal of comparisons with NULL, the wrapping of a boolean
// as a comparison with True, and the small tree tests the SQL planner uses.
#pragma once

#include <cstdint>

#include "engine/expr/expression_evaluator.h"
#include "engine/expr/expression_tokens.h"

namespace jw {

// A prepared deep copy of the bound tree, its nodes from the pool (the
// caller frees it with FreeTokenTree):
// - = or <> against a string constant ending in '*', or any = or <> against
//   a string constant when case_insensitive is set, becomes a string
//   comparison (kind 3); a trailing '*' makes it a prefix match unless
//   partial_matching_off is set;
// - LIKE and NOT LIKE with a pattern whose only wildcard is one trailing
//   '%' become prefix comparisons;
// - other comparisons with a constant, IN list items and BETWEEN bounds
//   take constants converted to the other operand's type.
TExpToken* PrepareFilter(const TExpToken* node, void* context, TColumnValueFn column_value,
                         bool partial_matching_off, bool case_insensitive, uint16_t sort_id,
                         uint16_t language_id);

// Evaluates the constant expression with no record and converts the value
// to the column's type: a NULL result, a string result or one already of
// that type stays as it is; otherwise it takes the column's type, subtype,
// value size and scale. A new node from the pool.
TExpToken* EvaluateToType(const TExpToken* column, const TExpToken* constant, void* context,
                          uint16_t sort_id, uint16_t language_id, TColumnValueFn column_value);

// Removes = and <> with the NULL constant on either side, and what is left
// without an operand by that; removed nodes go back to the pool. True (and
// node set to nullptr) when the whole tree went.
bool StripNullTests(TExpToken*& node);

// The node becomes the comparison (its old self = True); the old node's
// fields and children move to a new left operand.
void CompareWithTrue(TExpToken* node);

// The comparison that keeps its meaning with the operands swapped (> and <,
// >= and <=); any other operator stays.
uint8_t MirroredComparison(uint8_t op);

// OR, or a NOT of a disjunction.
bool IsDisjunction(const TExpToken* node);
// The node is a NOT, or a binary node under one (through its parents).
bool HasNotAncestor(const TExpToken* node);
// Any column anywhere in the tree.
bool ContainsColumn(const TExpToken* node);
// Any SUM, COUNT, MIN, MAX or AVG anywhere in the tree.
bool ContainsAggregate(const TExpToken* node);

}  // namespace jw
