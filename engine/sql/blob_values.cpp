#include "engine/sql/blob_values.h"

#include <cstring>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/core/data_cursor.h"
#include "engine/expr/expression_operators.h"
#include "engine/expr/expression_tokens.h"
#include "engine/support/engine_errors.h"

namespace jw {
namespace {

// Reading opens a buffer under an owner of its own, so that closing it
// again never closes a buffer a write of the statement holds open.
constexpr uint8_t kReadBlobOwner = 2;

void Check(const TDataCursor& cursor, int32_t code) {
  if (code != 0) RaiseEngineError(static_cast<EngineErrorCode>(code), cursor.TableName());
}

}  // namespace

void ReadBlobValue(TDataCursor& cursor, int32_t field, const uint8_t* image, TExpToken& node) {
  bool null = false;
  cursor.GetTableFieldData(field, image, null, nullptr);
  node.IsNull = null;
  node.SetValueSize(0);
  if (null) return;
  // Opening a BLOB puts the buffer's handle into the image; a copy keeps the
  // caller's image as it was.
  std::vector<uint8_t> scratch(image, image + cursor.GetRecordSize());
  Check(cursor, cursor.OpenBlob(field, scratch.data(), kReadBlobOwner, true, kBlobReadMode));
  int32_t size = 0;
  int32_t read = 0;
  int32_t code = cursor.GetBlobSize(field, scratch.data(), true, size);
  if (code == 0) {
    node.SetValueSize(size + 1);
    node.Value()[size] = 0;
    code = cursor.ReadBlob(field, scratch.data(), true, read, size, node.Value(), 0);
  }
  const int32_t closed = cursor.CloseBlob(field, scratch.data(), kReadBlobOwner, true);
  Check(cursor, code);
  Check(cursor, closed);
  node.SetValueSize(size);
}

int32_t BlobValueLength(const TExpToken& value) {
  if (!IsStringValue(value)) return value.Size();
  return static_cast<int32_t>(
      strnlen(reinterpret_cast<const char*>(value.Value()), static_cast<size_t>(value.Size())));
}

void WriteBlobValue(TDataCursor& cursor, int32_t field, uint8_t* image, const TExpToken& value,
                    bool truncate) {
  Check(cursor, cursor.OpenBlob(field, image, kStatementBlobOwner, true, kBlobWriteMode));
  if (truncate) Check(cursor, cursor.TruncateBlob(field, image, true, 0));
  Check(cursor, cursor.WriteBlob(field, image, true, BlobValueLength(value), value.Value(), 0));
}

}  // namespace jw
