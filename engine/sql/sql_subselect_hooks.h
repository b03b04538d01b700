// The SQL engine's side of the expression language's sub-select hooks: it
// parses a sub-select into a new query of the owning statement, keeps the
// statement's parameter markers, and answers for a sub-select's result
// columns. The support library's start-up registers it; a statement's
// Prepare registers it as well when start-up has not run.
#pragma once

namespace jw {

void EnsureSqlSubSelectHooks();

}  // namespace jw
