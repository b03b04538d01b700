// The field class that each field type maps to, for the default fields a
// dataset makes from its field definitions.
#pragma once

#include "platform/db/db_types.h"

namespace jw {

class TComponent;
class TField;

// A new field of the type's class owned by owner; null for types without one.
TField* CreateFieldOfType(TFieldType type, TComponent* owner);

}  // namespace jw
