// The sortable image of one field value inside an index key: per segment a
// null byte written by the caller, then the value's image over the field's
// physical length (byte order equals value order for language 0; strings of
// other languages are compared through the locale instead).
#pragma once

#include <cstdint>

namespace jw {

// Writes the image of `value` (the field's stored form) from key[1] on,
// after zero-filling key[1 .. physical_length]. The caller has written the
// null byte key[0] first. With descending set and language 0 the segment is
// inverted from its null byte on: physical_length bytes for a string (so its
// last byte, the terminator, stays 0), physical_length + 1 for every other
// type; nulls then sort after all values. A string field is upper-cased for
// the language when case-insensitive is set.
void BuildFieldKey(uint8_t field_type, int32_t physical_length, const void* value, uint8_t* key,
                   uint16_t sort_id, uint16_t language_id, bool descending, bool case_insensitive);

}  // namespace jw
