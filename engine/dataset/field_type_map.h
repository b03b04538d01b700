// The two directions between the engine's field type codes (with their
// subtypes) and the dataset framework's TFieldType: engine fields become
// field definitions, and field definitions, locate values and new tables
// become engine types.
#pragma once

#include <cstdint>

#include "platform/db/db_types.h"

namespace jw {

struct FieldDescriptor;

struct TEngineFieldType {
  uint8_t Type = 0;
  uint8_t SubType = 0;
  bool operator==(const TEngineFieldType&) const = default;
};

// The framework type of an engine field and the size its definition takes
// (characters or bytes, a BCD field's decimals); false for the engine types
// that make no field definition.
bool FieldTypeOfEngine(const FieldDescriptor& field, TFieldType& type, int32_t& size);

// The engine type and subtype of a framework type; type 0 where the engine
// has none.
TEngineFieldType EngineTypeOf(TFieldType type);

// The BCD precision every field definition of an engine BCD field reports.
constexpr int32_t kEngineBcdPrecision = 20;

}  // namespace jw
