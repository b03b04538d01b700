// TRecordStack: the pool of TRecord buffers of one data file, so that
// fetching and releasing records does not allocate on every step. Buffers
// are reused last in, first out; the pool never shrinks while the file is
// open. New buffers are made in slabs, each record with its bytes right
// after it, the slabs growing with the pool up to a large page: a cache of
// a hundred thousand records then spans a few large pages rather than two
// heap blocks per record, and a walk that meets them at random pays for
// fewer cache lines and address translations.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/core/record.h"
#include "engine/support/system_list.h"

namespace jw {

class TRecordStack {
 public:
  // Where a record the pool made keeps its bytes: right after it.
  static constexpr size_t kSlabBytesOffset =
      (sizeof(TRecord) + alignof(TRecord) - 1) / alignof(TRecord) * alignof(TRecord);
  static const uint8_t* SlabBytesOf(const TRecord* record) {
    return reinterpret_cast<const uint8_t*>(record) + kSlabBytesOffset;
  }

  explicit TRecordStack(TDataFile* file);
  TRecordStack(const TRecordStack&) = delete;
  TRecordStack& operator=(const TRecordStack&) = delete;
  ~TRecordStack();

  // A fresh buffer sized to the file's records, or the last one put back,
  // cleared.
  TRecord* Get();
  // Pools the buffer; a nullptr reference does nothing. The reference becomes nullptr.
  void Put(TRecord*& record);

  int32_t Count() const { return list_.Count(); }

 private:
  // Records of Entry bytes each (the record and its bytes) fill the
  // slab's first Used bytes.
  struct TSlab {
    std::byte* Memory;
    size_t Bytes;
    size_t Entry;
    size_t Used;
  };
  // A new record at the end of the last slab, a new slab when it is full.
  TRecord* Make();

  TDataFile* file_;
  TSystemList list_;
  std::vector<TSlab> slabs_;
};

// The pool's list is made room for this many buffers at once.
constexpr int32_t kRecordStackCapacity = 0x3FFF;

}  // namespace jw
