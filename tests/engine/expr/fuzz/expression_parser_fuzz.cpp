// libFuzzer target over the expression parser: the input's first byte picks
// the parse flags and the decimal separator, the rest is the text. Every
// input must end in a tree or an engine error, and the token pool must hold
// as many nodes afterwards as before.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/expr/expression_parser.h"
#include "engine/support/engine_errors.h"
#include "platform/rtl/format_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jw;
  if (size == 0) return 0;
  const uint8_t flags = data[0] & 0x1F;
  FormatSettings().DecimalSeparator = (data[0] & 0x20) != 0 ? ',' : '.';
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  auto parse = [&]() {
    TExpressionParser parser;
    parser.SetErrorCode(kErrFilter);
    parser.SetContextName("filter expression");
    try {
      parser.SetText(text.c_str());
      parser.NextToken();
      TExpToken* tree = parser.ParseExpression(flags);
      FreeTokenTree(tree);
    } catch (const EQuireEngineError&) {
    }
  };
  // The first parse may add new nodes to the pool; the second takes its
  // nodes from the pool and must give every one of them back.
  parse();
  const int32_t pooled = ExpTokenStack().Count();
  parse();
  if (ExpTokenStack().Count() != pooled) std::abort();
  return 0;
}
