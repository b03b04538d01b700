// Whole BLOB values in SQL rows: a record's BLOB column read into an
// expression value, and a value written as a record's BLOB, both through
// the cursor's BLOB buffers. Result rows and inserted rows get BLOBs of
// their own this way, never a reference into another table's BLOB file.
#pragma once

#include <cstdint>

namespace jw {

class TDataCursor;
class TExpToken;

// The BLOB buffers a statement opens for writing carry an owner byte other
// than 0, so that posting the record frees them.
constexpr uint8_t kStatementBlobOwner = 1;

// Reads the whole BLOB of the table's field in image into node: Size()
// bytes, followed by a zero byte the size does not count; NULL when the
// field is. A buffer the image already holds open is read as it stands and
// stays open. Engine errors name the table.
void ReadBlobValue(TDataCursor& cursor, int32_t field, const uint8_t* image, TExpToken& node);

// The bytes a value stores in a BLOB: a text value up to its terminator.
int32_t BlobValueLength(const TExpToken& value);

// Opens the table's BLOB field of image for writing (emptied first with
// truncate) and writes the value's bytes; posting the record stores it.
void WriteBlobValue(TDataCursor& cursor, int32_t field, uint8_t* image, const TExpToken& value,
                    bool truncate);

}  // namespace jw
