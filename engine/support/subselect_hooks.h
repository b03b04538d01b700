// The expression parser's one call upward: sub-selects and parameter markers
// belong to the SQL engine, which implements TSubSelectHooks and registers it
// at start-up. With nothing registered, sub-selects are refused.
#pragma once

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
};

// Registers the hooks (nullptr removes them); returns the ones replaced.
TSubSelectHooks* SetSubSelectHooks(TSubSelectHooks* hooks);
TSubSelectHooks* SubSelectHooks();

}  // namespace jw
