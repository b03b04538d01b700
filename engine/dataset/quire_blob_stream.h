// TQuireBlobStream: the stream through which a BLOB field (memo, graphic,
// binary) of the dataset's active record is read and written. It opens the
// field's BLOB buffer in the engine cursor and works at its own position; a
// BLOB it wrote stays open in the cursor until the record is posted or
// cancelled, so later streams on the same unposted record reuse it.
#pragma once

#include <cstdint>

#include "platform/db/db_types.h"
#include "platform/rtl/streams.h"

namespace jw {

class TBlobField;
class TQuireDataSet;

// The owner byte of the BLOBs that datasets open in their cursor.
constexpr uint8_t kDataSetBlobOwner = 0;

class TQuireBlobStream : public TStream {
 public:
  // Write and read-write modes need the edit or insert state and a field
  // that may be modified; the write mode empties the BLOB.
  TQuireBlobStream(TBlobField* field, TBlobStreamMode mode);
  // A written BLOB that the cursor still holds stays open with the field
  // marked modified; an unmodified one is closed.
  ~TQuireBlobStream() override;
  TQuireBlobStream(const TQuireBlobStream&) = delete;
  TQuireBlobStream& operator=(const TQuireBlobStream&) = delete;

  // Fewer bytes (possibly none) past the end.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // A position below 0 or beyond the 32-bit range raises EStreamError; past
  // the end is allowed, and a write there grows the BLOB.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Cuts the BLOB at size.
  void SetSize(int64_t size) override;
  int64_t Size() override;
  // Cuts the BLOB at the position.
  void Truncate();

 private:
  void Check(int32_t code) const;
  void CheckRange(int64_t position) const;

  TBlobField* field_;
  TQuireDataSet* dataset_;
  uint8_t* record_ = nullptr;
  int32_t field_no_;
  bool opened_ = false;
  bool written_ = false;
  int32_t position_ = 0;
};

}  // namespace jw
