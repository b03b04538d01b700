// TFilterProgram: a prepared filter tree compiled for a walk over many
// record images. It covers the shapes filters mostly take (a column
// compared with a constant, a null test of a column, and AND, OR and NOT of
// those) and reads the compared values straight from the stored field
// bytes, instead of building value nodes for every record as the tree
// evaluator does. Its answer is the evaluator's for every record: the same
// NULL rules, type pairs and string collation; a tree it cannot answer so
// does not compile, and the evaluator serves it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/expr/expression_tokens.h"

namespace jw {

class TFilterProgram {
 public:
  // False, leaving the program empty, when some node of the tree is of a
  // shape or type pair the program does not cover.
  bool Compile(const TDataCursor& cursor, const TExpToken& tree);
  // Whether the record passes the tree (what the evaluator gives is TRUE).
  bool Passes(const uint8_t* image);

 private:
  // One step of the program in postfix order: a condition pushes its
  // truth, NOT replaces the top, AND and OR combine the top two.
  struct TStep {
    uint8_t Kind = 0;
    uint8_t Op = 0;
    uint8_t FieldType = 0;
    bool AutoInc = false;
    bool CaseInsensitive = false;
    uint16_t Offset = 0;
    int32_t Length = 0;
    int32_t PartialLength = 0;
    int32_t Integer = 0;
    double Float = 0;
    std::string Text;
  };

  static TStep Operator(uint8_t kind);
  // A condition on the column (with a constant, or a null test of it);
  // false when the pair is not covered.
  bool CompileCondition(const TDataCursor& cursor, const TExpToken& node);
  bool Condition(const TStep& step, const uint8_t* image);
  // The stored text of a string field, zero-terminated.
  const char* StoredText(const TStep& step, const uint8_t* slot);

  std::vector<TStep> steps_;
  std::vector<uint8_t> truths_;
  std::string text_;
  uint16_t sort_id_ = 0;
  uint16_t language_id_ = 0;
};

}  // namespace jw
