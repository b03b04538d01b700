// libFuzzer target over the SQL front end: the input is a script, prepared
// statement by statement as a script runner steps through it. Every
// statement must end in a parse tree or an engine error, the format
// settings must be as before, and the token pool must hold as many nodes
// afterwards as before.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/data_session.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "platform/rtl/format_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jw;
  const std::string script(reinterpret_cast<const char*>(data), size);
  TDataSession session;
  // No table lies there: a statement that parses fails when it opens one.
  TDataDirectory* directory = session.OpenDirectory("DB", "/db/");
  auto run = [&script, &session, directory]() {
    int32_t consumed = 0;
    for (;;) {
      TQueryStatement statement(session, *directory);
      const int32_t before = consumed;
      try {
        statement.Prepare(script.c_str() + consumed, consumed);
      } catch (const EQuireEngineError&) {
        return;
      }
      // Every statement reads at least its first word, and never past the end.
      if (consumed <= before || static_cast<size_t>(consumed) > script.size()) std::abort();
      // The text of a statement ends at a zero byte, where the next fails.
      if (static_cast<size_t>(consumed) == script.size()) return;
    }
  };
  const TFormatSettings saved = FormatSettings();
  // The first run may add new nodes to the pool; the second takes its nodes
  // from the pool and must give every one of them back.
  run();
  const int32_t pooled = ExpTokenStack().Count();
  run();
  if (ExpTokenStack().Count() != pooled || !(FormatSettings() == saved)) std::abort();
  return 0;
}
