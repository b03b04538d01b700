// The binder's and the evaluator's calls into the SQL engine for the
// sub-select of an IN predicate: its column count, the binding of its one
// result column, and the test of an outer value against its rows. The SQL
// engine implements TSubSelectQueries and registers it at start-up.
#pragma once

#include <cstdint>

namespace jw {

class TExpToken;

class TSubSelectQueries {
 public:
  virtual ~TSubSelectQueries() = default;

  // The number of result columns of the query (a sub-select node's QueryRef).
  virtual int32_t ColumnCount(void* query) = 0;
  // Gives the node the name, type, subtype, size and scale of the query's
  // first result column; false when it cannot be bound.
  virtual bool BindColumn(void* query, TExpToken& node) = 0;
  // Puts the comparison (an = node whose left operand holds the outer value
  // and whose right operand is the sub-select node) as the filter of the
  // query's result cursor and returns that cursor's record count.
  virtual int32_t FilteredRecordCount(void* query, const TExpToken& comparison) = 0;
};

// Registers the implementation (nullptr removes it); returns the one replaced.
TSubSelectQueries* SetSubSelectQueries(TSubSelectQueries* queries);
// nullptr when none is registered: sub-selects then fail to bind.
TSubSelectQueries* SubSelectQueries();

}  // namespace jw
