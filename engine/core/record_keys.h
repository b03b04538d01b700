// The key images of a record: per segment of an index a null byte and the
// field's sortable image, then for a non-unique index the record id in its
// sortable form; and the status index's image (status byte, record id).
// Cursors search with these keys and record editing stores them.
#pragma once

#include <cstdint>

#include "engine/core/data_file.h"
#include "engine/core/index_file_format.h"

namespace jw {

// Writes index.KeyLength bytes for the record image; slot kStatusSlot
// gives the status image. A segment naming no field raises 10023.
void BuildRecordKey(const TDataFile& data, const IndexDescriptor& index, int32_t slot,
                    const uint8_t* image, uint8_t* key);
// kStatusKeyLength bytes.
void BuildStatusKey(const uint8_t* image, uint8_t* key);

}  // namespace jw
