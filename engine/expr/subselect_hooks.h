// The expression language's one call upward: sub-selects and parameter
// markers belong to the SQL engine, which implements TSubSelectHooks and
// registers it at start-up. The parser, the binder and the evaluator all
// reach it here; with nothing registered, sub-selects are refused.
#pragma once

#include <cstdint>

namespace jw {

class TExpressionParser;
class TExpToken;

class TSubSelectHooks {
 public:
  virtual ~TSubSelectHooks() = default;

  // Creates a query object registered with the owning statement and parses
  // the sub-select from the parser's current token (the word SELECT); leaves
  // the parser on the first token after it. Returns the query object.
  virtual void* ParseSubSelect(void* owner, TExpressionParser& parser) = 0;

  // Appends a parameter marker to the owner's parameter list when the owner
  // is a SQL statement; other owners keep no parameter list.
  virtual void AddParameter(void* owner, TExpToken* parameter) = 0;

  // The number of result columns of the query (a sub-select node's QueryRef).
  virtual int32_t SubSelectColumnCount(void* query) = 0;

  // Gives the node the name, type, subtype, size and scale of the query's
  // first result column; false when it cannot be bound.
  virtual bool BindSubSelectColumn(void* query, TExpToken& node) = 0;

  // Puts the comparison (an = node whose left operand holds the outer value
  // and whose right operand is the sub-select node) as the sub-select filter
  // of the query's result cursor and returns that cursor's record count.
  virtual int32_t SubSelectRecordCount(void* query, const TExpToken& comparison) = 0;
};

// Registers the hooks (nullptr removes them); returns the ones replaced.
TSubSelectHooks* SetSubSelectHooks(TSubSelectHooks* hooks);
// nullptr when none are registered.
TSubSelectHooks* SubSelectHooks();

}  // namespace jw
