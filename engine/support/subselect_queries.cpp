#include "engine/support/subselect_queries.h"

#include <atomic>

namespace jw {

namespace {

std::atomic<TSubSelectQueries*> registered_queries{nullptr};

}  // namespace

TSubSelectQueries* SetSubSelectQueries(TSubSelectQueries* queries) {
  return registered_queries.exchange(queries);
}

TSubSelectQueries* SubSelectQueries() {
  return registered_queries.load();
}

}  // namespace jw
