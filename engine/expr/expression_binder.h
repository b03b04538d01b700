// The binder of parsed expression trees: resolves column references through
// the caller's resolver, checks every operator, function and predicate
// against the type rules, converts date and time text constants, and fixes
// each node's type, subtype, value size and scale. Every fault is raised as
// the caller's engine error with a message ending in the context text.
#pragma once

#include <cstdint>
#include <string>

#include "engine/expr/expression_tokens.h"
#include "engine/support/engine_errors.h"

namespace jw {

// Gives the node (its ColumnName and TableName name the column) the
// column's type, subtype, size and scale, and whatever the caller needs to
// find its value later (FieldNumber, FieldRef); false when there is no such
// column.
using TColumnResolver = bool (*)(void* context, TExpToken* node);

// Bound trees nest at most this deep; a deeper tree is refused with a
// message, so that binding and evaluation never exhaust the stack. A chain of
// binary operators along left operands (a + b + c ..., a long OR) is walked
// without recursion and counts as one level, however long it is.
constexpr int32_t kMaxBoundDepth = 1024;

// Binds the subtree in place. error_code is the caller's (10051 for filter
// expressions, 11949 for SQL); context_text names where the expression
// stands ("filter expression") and ends every message. With condition set,
// a bare boolean column, CAST or IF at the top of the condition (or under
// NOT, AND, OR) becomes a comparison with True. A fault leaves the tree
// partly bound; the caller frees it.
void BindExpression(EngineErrorCode error_code, const std::string& table_name,
                    const std::string& context_text, bool condition, TColumnResolver resolver,
                    void* resolver_context, TExpToken* parent, TExpToken* node);

// Checks the target-type arguments of a bound CAST node and sets its value
// size (and scale or subtype where the arguments give them).
void CheckCastArguments(EngineErrorCode error_code, const std::string& table_name,
                        const std::string& context_text, TExpToken* node);

}  // namespace jw
