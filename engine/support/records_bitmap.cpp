#include "engine/support/records_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/support/engine_heap.h"
#include "engine/support/system_list.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr int32_t kBufferStep = 1024;

bool BitOf(uint32_t word, int32_t bit) {
  return ((word >> bit) & 1u) != 0;
}

// The bits 0 .. count-1 of a word; count runs from 0 to 32.
uint32_t LowBits(int32_t count) {
  return count >= 32 ? kAllOnes : (1u << count) - 1;
}

uint32_t HighestBit(uint32_t word) {
  return 1u << (31 - std::countl_zero(word));
}

// The set bits of a word, in a few shifts and masks: the build targets
// processors without a population count instruction, where std::popcount
// is a library call per word, and loops of these vectorise.
int32_t CountBits(uint32_t word) {
  word = word - ((word >> 1) & 0x55555555u);
  word = (word & 0x33333333u) + ((word >> 2) & 0x33333333u);
  word = (word + (word >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int32_t>((word * 0x01010101u) >> 24);
}

}  // namespace

TRecordsBitmap::~TRecordsBitmap() {
  EngineFree(words_);
}

void TRecordsBitmap::SetRecordCount(int32_t n) {
  if (n == bit_count_) return;
  if (n < 0) n = 0;
  const int32_t old_count = bit_count_;
  bit_count_ = n;
  rounded_bit_count_ = static_cast<int32_t>((static_cast<int64_t>(n) + 31) / 32 * 32);
  word_count_ = rounded_bit_count_ / 32;
  // A grown buffer comes with its new words zero; a bitmap emptied (a
  // view switched off) keeps its buffer for when it is filled again.
  if (word_count_ > 0) {
    void* block = words_;
    GrowBuffer(word_count_ * 4, kBufferStep, block, buffer_size_);
    words_ = static_cast<uint32_t*>(block);
  }
  // Records outside the old count were never part of the set, whatever
  // SetAll or Invert left in the spare bits.
  ClearBitsFrom(old_count < n ? old_count : n);
}

void TRecordsBitmap::ClearBitsFrom(int32_t first_bit) {
  int32_t word = first_bit / 32;
  if (word >= span_last_) return;
  if (first_bit % 32 != 0) {
    words_[word] &= (1u << (first_bit % 32)) - 1;
    ++word;
  }
  ZeroWords(std::max(word, span_first_), span_last_);
  span_last_ = std::min(span_last_, (first_bit + 31) / 32);
  if (span_last_ <= span_first_) span_first_ = span_last_ = 0;
}

void TRecordsBitmap::ZeroWords(int32_t first, int32_t last) {
  if (first < last) std::memset(words_ + first, 0, static_cast<size_t>(last - first) * 4);
}

void TRecordsBitmap::WidenSpan(int32_t first, int32_t last) {
  if (first >= last) return;
  if (span_first_ == span_last_) {
    span_first_ = first;
    span_last_ = last;
    return;
  }
  span_first_ = std::min(span_first_, first);
  span_last_ = std::max(span_last_, last);
}

bool TRecordsBitmap::IsSet(int32_t n) const {
  if (n <= 0 || n > bit_count_) return false;
  return BitOf(words_[(n - 1) / 32], (n - 1) % 32);
}

void TRecordsBitmap::SetBit(int32_t n) {
  if (n <= 0 || n > bit_count_) return;
  const int32_t word = (n - 1) / 32;
  words_[word] |= 1u << ((n - 1) % 32);
  if (word < span_first_ || word >= span_last_) WidenSpan(word, word + 1);
}

void TRecordsBitmap::ClearBit(int32_t n) {
  if (n <= 0 || n > bit_count_) return;
  words_[(n - 1) / 32] &= ~(1u << ((n - 1) % 32));
}

int32_t TRecordsBitmap::CountSet() const {
  // Spare bits are always clear, so whole words count as they are.
  int32_t count = 0;
  for (int32_t w = span_first_; w < span_last_; ++w) count += CountBits(words_[w]);
  return count;
}

int32_t TRecordsBitmap::CountSetBefore(int32_t n) const {
  if (n < 2 || bit_count_ == 0) return 0;
  const int32_t end_bit = n - 1 < bit_count_ ? n - 1 : bit_count_;  // bits 0 .. end_bit-1
  const int32_t full_words = end_bit / 32;
  int32_t count = 0;
  for (int32_t w = span_first_; w < std::min(full_words, span_last_); ++w) {
    count += CountBits(words_[w]);
  }
  if (end_bit % 32 != 0) count += CountBits(words_[full_words] & LowBits(end_bit % 32));
  return count;
}

bool TRecordsBitmap::FindNextSet(int32_t& position, int32_t n, int32_t& sequence) const {
  int32_t remaining = n;
  if (remaining <= 0) return true;
  const int32_t first_bit = position < 0 ? 0 : position;  // the bit of the record after position
  if (first_bit >= bit_count_) return false;
  const int32_t first_word = first_bit / 32;
  for (int32_t w = std::max(first_word, span_first_); w < span_last_; ++w) {
    uint32_t word = words_[w];
    if (w == first_word) word &= ~LowBits(first_bit % 32);
    if (word == 0) continue;
    const int32_t set = CountBits(word);
    if (set < remaining) {
      remaining -= set;
      sequence += set;
      position = w * 32 + (31 - std::countl_zero(word)) + 1;
      continue;
    }
    for (int32_t skip = 1; skip < remaining; ++skip) word &= word - 1;
    sequence += remaining;
    position = w * 32 + std::countr_zero(word) + 1;
    return true;
  }
  return false;
}

bool TRecordsBitmap::FindPriorSet(int32_t& position, int32_t n, int32_t& sequence) const {
  int32_t remaining = n;
  if (remaining <= 0) return true;
  // The bit of the record before position.
  const int32_t last_bit = (position > bit_count_ ? bit_count_ + 1 : position) - 2;
  if (last_bit < 0) return false;
  const int32_t last_word = last_bit / 32;
  for (int32_t w = std::min(last_word, span_last_ - 1); w >= span_first_; --w) {
    uint32_t word = words_[w];
    if (w == last_word) word &= LowBits(last_bit % 32 + 1);
    if (word == 0) continue;
    const int32_t set = CountBits(word);
    if (set < remaining) {
      remaining -= set;
      sequence -= set;
      position = w * 32 + std::countr_zero(word) + 1;
      continue;
    }
    for (int32_t skip = 1; skip < remaining; ++skip) word &= ~HighestBit(word);
    sequence -= remaining;
    position = w * 32 + (31 - std::countl_zero(word)) + 1;
    return true;
  }
  return false;
}

int32_t TRecordsBitmap::NextSet(int32_t position) const {
  const int32_t first_bit = position < 0 ? 0 : position;  // the bit of the record after position
  if (first_bit >= bit_count_) return 0;
  int32_t w = first_bit / 32;
  uint32_t word = 0;
  if (w >= span_first_) {
    if (w >= span_last_) return 0;
    word = words_[w] & ~LowBits(first_bit % 32);
  } else {
    w = span_first_ - 1;
  }
  while (word == 0) {
    if (++w >= span_last_) return 0;
    word = words_[w];
  }
  return w * 32 + std::countr_zero(word) + 1;
}

void TRecordsBitmap::AndWith(const TRecordsBitmap& other) {
  // The other bitmap's words outside its span, and those beyond its count,
  // are zero: only the common span can keep bits.
  const int32_t first = std::max(span_first_, other.span_first_);
  const int32_t last = std::min(span_last_, other.span_last_);
  if (first >= last) {
    ClearAll();
    return;
  }
  ZeroWords(span_first_, first);
  ZeroWords(last, span_last_);
  for (int32_t w = first; w < last; ++w) words_[w] &= other.words_[w];
  span_first_ = first;
  span_last_ = last;
}

void TRecordsBitmap::OrWith(const TRecordsBitmap& other) {
  const int32_t first = other.span_first_;
  const int32_t last = std::min(other.span_last_, word_count_);
  if (first >= last) return;
  for (int32_t w = first; w < last; ++w) words_[w] |= other.words_[w];
  WidenSpan(first, last);
  // A longer other bitmap may hold records beyond this one's count.
  ClearSpareBits();
}

void TRecordsBitmap::Invert() {
  for (int32_t w = 0; w < word_count_; ++w) words_[w] = ~words_[w];
  span_first_ = 0;
  span_last_ = word_count_;
  ClearSpareBits();
}

void TRecordsBitmap::ClearAll() {
  ZeroWords(span_first_, span_last_);
  span_first_ = span_last_ = 0;
}

void TRecordsBitmap::SetAll() {
  if (words_ == nullptr) return;
  std::memset(words_, 0xFF, static_cast<size_t>(word_count_) * 4);
  span_first_ = 0;
  span_last_ = word_count_;
  ClearSpareBits();
}

void TRecordsBitmap::ClearSpareBits() {
  if (bit_count_ % 32 != 0) words_[word_count_ - 1] &= LowBits(bit_count_ % 32);
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  if (&other == this) return;
  ClearAll();
  void* block = words_;
  GrowBuffer(other.buffer_size_, kBufferStep, block, buffer_size_);
  words_ = static_cast<uint32_t*>(block);
  bit_count_ = other.bit_count_;
  rounded_bit_count_ = other.rounded_bit_count_;
  word_count_ = other.word_count_;
  if (words_ == nullptr || other.span_first_ >= other.span_last_) return;
  std::memcpy(words_ + other.span_first_, other.words_ + other.span_first_,
              static_cast<size_t>(other.span_last_ - other.span_first_) * 4);
  span_first_ = other.span_first_;
  span_last_ = other.span_last_;
}

TRecordsBitmapStack::TRecordsBitmapStack() {
  free_.SetCapacity(512);
}

TRecordsBitmapStack::~TRecordsBitmapStack() {
  FreeAll();
}

TRecordsBitmap* TRecordsBitmapStack::Get() {
  TCriticalSectionGuard guard(lock_);
  if (free_.Count() == 0) return new TRecordsBitmap();
  auto* bitmap = static_cast<TRecordsBitmap*>(free_.Last());
  free_.Delete(free_.Count() - 1);
  bitmap->ClearAll();
  return bitmap;
}

void TRecordsBitmapStack::Release(TRecordsBitmap* bitmap) {
  TCriticalSectionGuard guard(lock_);
  free_.Add(bitmap);
}

void TRecordsBitmapStack::FreeAll() {
  TCriticalSectionGuard guard(lock_);
  for (int32_t i = 0; i < free_.Count(); ++i) delete static_cast<TRecordsBitmap*>(free_.Get(i));
  // The capacity stays, as a newly created pool has it.
  free_.SetCount(0);
}

int32_t TRecordsBitmapStack::Count() {
  TCriticalSectionGuard guard(lock_);
  return free_.Count();
}

TRecordsBitmapStack& RecordsBitmapStack() {
  static TRecordsBitmapStack pool;
  return pool;
}

void InitRecordsBitmapStack() {
  RecordsBitmapStack();
}

void DoneRecordsBitmapStack() {
  RecordsBitmapStack().FreeAll();
}

TRecordsBitmap* GetRecordsBitmap() {
  return RecordsBitmapStack().Get();
}

void ReleaseRecordsBitmap(TRecordsBitmap*& bitmap) {
  if (bitmap == nullptr) return;
  RecordsBitmapStack().Release(bitmap);
  bitmap = nullptr;
}

}  // namespace jw
