// TDataFile's share of the repair of a table whose last write was cut off:
// the records are trusted one by one, the header's chains and counters are
// derived from them again.
#include <algorithm>

#include "engine/core/data_file.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"

namespace jw {

std::vector<TBlobChainStart> TDataFile::RepairRecords() {
  // Records are written before the header that counts them: a header that
  // counts more records than the file holds was not written by this engine.
  const int32_t size = header_.RecordSize;
  if (size == 0 || (GetSize() - DataStart()) / size < RecordCount()) Raise(kErrHeaderCorrupt);
  std::vector<int32_t> blob_offsets;
  for (const FieldDescriptor& field : descriptors_) {
    if (field.Type == kFldBlob && field.IsStored()) blob_offsets.push_back(field.Offset);
  }
  std::vector<TBlobChainStart> chains;
  int32_t free_head = 0;
  int32_t last_id = header_.LastAutoInc;
  int32_t last_stamp = header_.LastBlobStamp;
  // From the last record down, so that the free chain hands out the lowest first.
  for (int32_t n = RecordCount(); n >= 1; --n) {
    TRecord* record = nullptr;
    FetchRecord(nullptr, n, -1, true, false, record);
    const uint8_t status = record->Status();
    if (status == kRecordFree) {
      if (record->GetLiveRecordNumber() != free_head) record->SetLinkNumber(free_head);
      free_head = n;
    } else if (status == kRecordLive) {
      last_id = std::max(last_id, record->RecordId());
      for (const int32_t offset : blob_offsets) {
        const uint8_t* slot = record->Bytes() + offset;
        if (slot[0] == 0) continue;
        const TBlobChainStart chain{GetInt32(slot + 1), GetInt32(slot + 5)};
        last_stamp = std::max(last_stamp, chain.Stamp);
        if (chain.First != 0) chains.push_back(chain);
      }
    }
    ReleaseRecord(record);
    if (status != kRecordFree && status != kRecordLive) Raise(kErrRecordBuffersCorrupt);
  }
  header_.FreeHead = free_head;
  header_.LastAutoInc = last_id;
  header_.LastBlobStamp = last_stamp;
  header_dirty_ = true;
  return chains;
}

}  // namespace jw
