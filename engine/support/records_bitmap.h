// TRecordsBitmap: a set of a table's physical record numbers, one bit each
// (record n is bit n-1, least significant bit first in 32-bit words), with
// word-at-a-time counting and walking; bits beyond the record count are
// always clear, so whole words can be counted as they are; and the process-wide pool of released
// bitmaps (GetRecordsBitmap / ReleaseRecordsBitmap). A bitmap knows the span
// of words that may hold set bits (every word outside it is zero), so
// counting, walking, clearing and combining a sparse bitmap (the few records
// of an indexed filter) touch only its span, not the whole table.
#pragma once

#include <cstdint>

#include "engine/support/system_list.h"
#include "platform/rtl/sync.h"

namespace jw {

class TRecordsBitmap {
 public:
  TRecordsBitmap() = default;
  TRecordsBitmap(const TRecordsBitmap&) = delete;
  TRecordsBitmap& operator=(const TRecordsBitmap&) = delete;
  ~TRecordsBitmap();

  // Covers records 1 .. n. Records that a change of the count brings in
  // start clear; the buffer grows in 1024-byte steps and never shrinks.
  void SetRecordCount(int32_t n);

  // Record numbers below 1 or above the bit count test false and are ignored.
  bool IsSet(int32_t n) const;
  void SetBit(int32_t n);
  void ClearBit(int32_t n);

  // Set bits among the first bit-count bits.
  int32_t CountSet() const;
  // Set bits among records 1 .. n-1; 0 when n is below 2.
  int32_t CountSetBefore(int32_t n) const;

  // Moves position to the n-th set record after it (before it for
  // FindPriorSet); position takes each set record passed and sequence counts
  // them (down for FindPriorSet). False when the records ran out first.
  bool FindNextSet(int32_t& position, int32_t n, int32_t& sequence) const;
  bool FindPriorSet(int32_t& position, int32_t n, int32_t& sequence) const;
  // The first set record after position (from record 1 when position is
  // below 1); 0 when there is none. A walk over every set record at a few
  // instructions each.
  int32_t NextSet(int32_t position) const;

  // Word-wise over this bitmap's words; missing words of a shorter other
  // bitmap count as zero, and records beyond this bitmap's count stay clear.
  void AndWith(const TRecordsBitmap& other);
  void OrWith(const TRecordsBitmap& other);
  void Invert();
  void ClearAll();
  void SetAll();
  void Assign(const TRecordsBitmap& other);

  int32_t BitCount() const { return bit_count_; }
  int32_t RoundedBitCount() const { return rounded_bit_count_; }
  int32_t WordCount() const { return word_count_; }
  // How many words may hold set bits: what combining with this bitmap costs.
  int32_t SpanWordCount() const { return span_last_ - span_first_; }
  int32_t BufferSize() const { return buffer_size_; }

 private:
  uint32_t Word(int32_t index) const { return words_[index]; }
  void ClearBitsFrom(int32_t first_bit);
  // Clears the bits of the last word beyond the bit count.
  void ClearSpareBits();
  // Zeroes the words first .. last-1.
  void ZeroWords(int32_t first, int32_t last);
  // The span grows to take in the words first .. last-1.
  void WidenSpan(int32_t first, int32_t last);

  uint32_t* words_ = nullptr;
  int32_t buffer_size_ = 0;
  int32_t bit_count_ = 0;
  int32_t rounded_bit_count_ = 0;
  int32_t word_count_ = 0;
  // Words span_first_ .. span_last_-1 may hold set bits; every other word of
  // the buffer is zero. Empty when the two are equal.
  int32_t span_first_ = 0;
  int32_t span_last_ = 0;
};

// The process-wide pool of released bitmaps. Its lock is held only while a
// bitmap is taken or returned.
class TRecordsBitmapStack {
 public:
  TRecordsBitmapStack();
  TRecordsBitmapStack(const TRecordsBitmapStack&) = delete;
  TRecordsBitmapStack& operator=(const TRecordsBitmapStack&) = delete;
  ~TRecordsBitmapStack();

  TRecordsBitmap* Get();
  void Release(TRecordsBitmap* bitmap);
  // Frees every pooled bitmap.
  void FreeAll();
  int32_t Count();

 private:
  TCriticalSection lock_;
  TSystemList free_;
};

// The support library's start-up creates the pool and its shutdown frees the
// bitmaps it holds; the first GetRecordsBitmap creates it as well when
// start-up has not run yet.
void InitRecordsBitmapStack();
void DoneRecordsBitmapStack();
TRecordsBitmapStack& RecordsBitmapStack();

// A cleared bitmap from the pool (it keeps its buffer and bit count), or a
// new empty one. The caller owns it until ReleaseRecordsBitmap.
TRecordsBitmap* GetRecordsBitmap();

// Returns the bitmap to the pool and clears the reference; nullptr is ignored.
void ReleaseRecordsBitmap(TRecordsBitmap*& bitmap);

}  // namespace jw
