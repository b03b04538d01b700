// TRecord: one record buffer of a data file, as the record cache, the pool
// and the cursors hold it: the record bytes with their 9-byte head, the use
// (pin) count, the modified flag, the cache links and a sort key buffer. The
// bytes are the record's own, or lie right after it in a slab of its pool
// (record_buffer_pool.h), so that a record met at random costs one place in
// memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/dirty_mark.h"

namespace jw {

class TDataFile;

class TRecord {
 public:
  explicit TRecord(TDataFile* file);
  // The bytes at storage, capacity bytes that the record does not own,
  // until it must grow past them.
  TRecord(TDataFile* file, uint8_t* storage, int32_t capacity);
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  TDataFile* File() const { return file_; }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  uint16_t UseCount() const { return use_count_; }
  void IncUseCount() { ++use_count_; }
  void DecUseCount() {
    if (use_count_ > 0) --use_count_;
  }
  void ClearUseCount() { use_count_ = 0; }

  int32_t RecordNumber() const { return record_number_; }
  // Stores the number; a live record also carries it at byte 1.
  void SetRecordNumber(int32_t number);

  uint8_t* Bytes() { return bytes_; }
  const uint8_t* Bytes() const { return bytes_; }
  int32_t Size() const { return size_; }
  // Makes the record exactly size bytes (at least its head), all zero when
  // the size changes.
  void SetSize(int32_t size);

  uint8_t* Key() { return key_.data(); }
  uint16_t KeyLength() const { return key_length_; }
  void SetKeyLength(uint16_t length) { key_length_ = length; }
  void ReserveKey(int32_t length);

  // Zeroes the record; with_id takes the next record id (auto-increment) of
  // the data file. The record number goes to byte 1.
  void InitNew(bool with_id);
  // Takes record-size raw bytes as read from disk, unscrambling them in
  // place when the table is encrypted.
  void LoadFrom(uint8_t* raw);
  // Copies the record out as it is written to disk.
  void StoreTo(uint8_t* out);

  uint8_t Status() const { return bytes_[0]; }
  void SetStatus(uint8_t status);
  // The number at byte 1 of a record that is not live (its free-chain link), else 0.
  int32_t GetLiveRecordNumber() const;
  int32_t RecordId() const;
  void SetRecordId(int32_t id);
  void SetLinkNumber(int32_t number);

  // Copies owner, modified flag, number and as many bytes as both hold.
  void Assign(const TRecord& other);
  bool SameBytes(const uint8_t* bytes) const;
  // Copies everything after the head from bytes (a full record image).
  void SetFieldBytes(const uint8_t* bytes);

  // The sort run this record came from.
  int32_t RunNumber() const { return run_number_; }
  void SetRunNumber(int32_t run) { run_number_ = run; }

 private:
  friend class TDataFile;
  friend class TRecordStack;
  template <typename, int>
  friend class TFileCache;
  friend TDirtyMark<TRecord>& CacheDirtyMark(TRecord& record) { return record.modified_; }

  // What every fetch from the cache reads comes first, up to the links, so
  // that a walk's prefetch brings it in with as few cache lines as it can.
  uint16_t use_count_ = 0;
  int32_t record_number_ = 0;
  uint8_t* bytes_ = nullptr;
  // Neighbours in the data file's most-recently-used list.
  TRecord* newer_ = nullptr;
  TRecord* older_ = nullptr;
  TDataFile* file_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  // The bytes when they are not in a slab.
  std::unique_ptr<uint8_t[]> own_bytes_;
  TDirtyMark<TRecord> modified_{this};
  std::vector<uint8_t> key_;
  uint16_t key_length_ = 0;
  int32_t run_number_ = 0;
};

}  // namespace jw
