// TBlobBuffer: one open BLOB of a cursor held in memory. It loads the value
// from the record's block chain, is changed in memory, and stores it back
// into the same chain (growing or cutting it) when the record is posted.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/blob_file.h"

namespace jw {

// How a cursor opens a BLOB, and the owner byte of the engine's own opens.
constexpr uint8_t kBlobReadMode = 1;
constexpr uint8_t kBlobWriteMode = 2;
constexpr uint8_t kEngineOwner = 1;

class TBlobBuffer {
 public:
  TBlobBuffer(TBlobFile& file, TBlobFileCursor* cursor);
  ~TBlobBuffer();
  TBlobBuffer(const TBlobBuffer&) = delete;
  TBlobBuffer& operator=(const TBlobBuffer&) = delete;

  // Makes the buffer an empty, clean one of the file for the cursor, as
  // new; small memory of its data stays for the next value.
  void Renew(TBlobFile& file, TBlobFileCursor* cursor);

  TBlobFileCursor* Cursor() const { return cursor_; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool value) { dirty_ = value; }
  // The write stamp the chain is stored with; the cursor gives a new one
  // before it stores a changed value.
  int32_t Stamp() const { return stamp_; }
  void SetStamp(int32_t stamp) { stamp_ = stamp; }
  int32_t RecordNumber() const { return record_number_; }
  void SetRecordNumber(int32_t number) { record_number_ = number; }
  int32_t FieldNumber() const { return field_number_; }
  void SetFieldNumber(int32_t number) { field_number_ = number; }
  uint8_t OwnerByte() const { return owner_byte_; }
  void SetOwnerByte(uint8_t value) { owner_byte_ = value; }
  uint8_t OpenMode() const { return open_mode_; }
  void SetOpenMode(uint8_t mode) { open_mode_ = mode; }
  // The chain's first block; 0 for an empty BLOB.
  int32_t FirstBlock() const { return first_block_; }
  // What storing the value changes in the buffer, kept by a post so that a
  // failed one can put the buffer back.
  struct TStoreState {
    int32_t FirstBlock;
    int32_t Stamp;
    int32_t ChainStamp;
    bool Dirty;
  };
  TStoreState StoreState() const { return {first_block_, stamp_, chain_stamp_, dirty_}; }
  void RestoreStoreState(const TStoreState& state) {
    first_block_ = state.FirstBlock;
    stamp_ = state.Stamp;
    chain_stamp_ = state.ChainStamp;
    dirty_ = state.Dirty;
  }

  int32_t Size() const { return size_; }
  // The bytes the data's memory holds, at least Size().
  int32_t Capacity() const { return capacity_; }
  // Resizes the value, new bytes zero; 0 or less empties it, keeping the
  // memory when it is small. A change of size makes the buffer dirty.
  void SetSize(int32_t size);
  uint8_t* GetData() { return data_; }
  const uint8_t* GetData() const { return data_; }

  // Loads the value whose chain starts at first and carries stamp. A block
  // of another write raises 8708, a damaged chain 8963, a chain shorter
  // than its stated size 8711. A load that finds the table's files changed
  // starts again; after kMaxLoadRestarts it gives 8708.
  void LoadBlob(int32_t first, int32_t stamp);
  // Writes a non-empty value into a new chain with the buffer's stamp and
  // frees the old chain. An empty value writes nothing (see FreeChain).
  void StoreBlob();
  // Frees the whole chain; the BLOB then has no first block.
  void FreeChain();

 private:
  // One pass of LoadBlob into the buffer's data; false when the files changed.
  bool LoadChain(int32_t first, int32_t stamp);

  TBlobFile* file_;
  TBlobFileCursor* cursor_;
  bool dirty_ = false;
  int32_t stamp_ = 0;
  // The stamp the chain on disk carries: the loaded one until a store
  // writes the chain with stamp_.
  int32_t chain_stamp_ = 0;
  int32_t record_number_ = 0;
  int32_t field_number_ = 0;
  int32_t first_block_ = 0;
  // The bytes from size_ to capacity_ are zero, so that growing within the
  // memory shows no bytes of an earlier value.
  uint8_t* data_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  uint8_t owner_byte_ = 0;
  uint8_t open_mode_ = 0;
};

}  // namespace jw
