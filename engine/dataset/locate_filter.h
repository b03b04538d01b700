// The condition that Locate and Lookup search by when no index fits their
// fields: "field = value" for each field, joined left-deep by AND, built as
// a prepared expression tree that a cursor takes as a filter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/expr/expression_tokens.h"

namespace jw {

// One field of the condition and the value it must hold.
struct TLocateTerm {
  // The cursor's field; its number is the one the filter reads.
  const FieldDescriptor* Field = nullptr;
  // A null value matches a null field.
  bool IsNull = false;
  // Text and BLOB fields: the wanted text. Other fields: the value in the
  // engine's encoding of the field's type.
  std::string Text;
  std::vector<uint8_t> Value;
};

// Text comparisons ignore case with case_insensitive. With partial_key a
// text matches every value that begins with it (a trailing '*' is left
// off; "*" alone matches every value that is not null). Terms must not be
// empty.
TTokenTree LocateFilterTree(const std::vector<TLocateTerm>& terms, bool case_insensitive,
                            bool partial_key);

}  // namespace jw
