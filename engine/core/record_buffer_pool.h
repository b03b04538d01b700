// TRecordStack: the pool of TRecord buffers of one data file, so that
// fetching and releasing records does not allocate on every step. Buffers
// are reused last in, first out; the pool never shrinks while the file is open.
#pragma once

#include "engine/core/record.h"
#include "engine/support/system_list.h"

namespace jw {

class TRecordStack {
 public:
  explicit TRecordStack(TDataFile* file);
  TRecordStack(const TRecordStack&) = delete;
  TRecordStack& operator=(const TRecordStack&) = delete;
  ~TRecordStack();

  // Frees every pooled buffer, the last first.
  void Clear();
  // A fresh buffer sized to the file's records, or the last one put back,
  // cleared.
  TRecord* Get();
  // Pools the buffer; a nullptr reference does nothing. The reference becomes nullptr.
  void Put(TRecord*& record);

  int32_t Count() const { return list_.Count(); }

 private:
  TDataFile* file_;
  TSystemList list_;
};

// The pool's list is made room for this many buffers at once.
constexpr int32_t kRecordStackCapacity = 0x3FFF;

}  // namespace jw
