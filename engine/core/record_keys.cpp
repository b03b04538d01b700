#include "engine/core/record_keys.h"

#include <cstring>

#include "engine/support/field_keys.h"
#include "engine/support/key_images.h"

namespace jw {

void BuildStatusKey(const uint8_t* image, uint8_t* key) {
  key[0] = image[kRecStatus];
  EncodeIntKey(GetInt32(image + kRecId), key + 1);
}

void BuildRecordKey(const TDataFile& data, const IndexDescriptor& index, int32_t slot,
                    const uint8_t* image, uint8_t* key) {
  std::memset(key, 0, static_cast<size_t>(index.KeyLength));
  if (slot == kStatusSlot) {
    BuildStatusKey(image, key);
    return;
  }
  const auto language_id = static_cast<uint16_t>(data.LanguageId());
  const auto sort_id = static_cast<uint16_t>(data.SortId());
  int32_t offset = 0;
  for (int32_t s = 0; s < index.SegmentCount; ++s) {
    const FieldDescriptor* field = data.FieldDescByNumber(index.FieldNumbers[s]);
    if (field == nullptr) {
      RaiseEngineError(kErrInvalidIndexField, data.Name(), std::to_string(index.FieldNumbers[s]),
                       index.Name);
    }
    // An auto-increment field is the record id, never null.
    const bool auto_inc = field->IsAutoInc();
    const uint8_t* value = auto_inc ? image + kRecId : image + field->Offset + 1;
    key[offset] = auto_inc || image[field->Offset] != 0 ? 1 : 0;
    // A descending index reverses its whole order instead.
    const bool descending = index.Descending == 0 && index.SegmentDescending[s] != 0;
    BuildFieldKey(field->Type, field->PhysicalLength, value, key + offset, sort_id, language_id,
                  descending, index.CaseInsensitive != 0);
    offset += field->PhysicalLength + 1;
  }
  if (index.Unique == 0) EncodeIntKey(GetInt32(image + kRecId), key + offset);
}

}  // namespace jw
