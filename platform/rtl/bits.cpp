#include "platform/rtl/bits.h"

#include <bit>
#include <limits>

namespace jw {

namespace {

constexpr int kWordBits = 64;

}  // namespace

void TBits::SetSize(int size) {
  if (size < 0) throw EBitsError("Bits index out of range");
  words_.resize((static_cast<size_t>(size) + kWordBits - 1) / kWordBits, 0);
  // Bits past the size must read as clear when the array grows again.
  if (size % kWordBits != 0) words_.back() &= (uint64_t{1} << (size % kWordBits)) - 1;
  size_ = size;
}

bool TBits::Bits(int index) const {
  if (index < 0 || index >= size_) throw EBitsError("Bits index out of range");
  return (words_[index / kWordBits] >> (index % kWordBits)) & 1;
}

void TBits::SetBits(int index, bool value) {
  // The size index + 1 must be an int too.
  if (index < 0 || index == std::numeric_limits<int>::max())
    throw EBitsError("Bits index out of range");
  if (index >= size_) SetSize(index + 1);
  const uint64_t mask = uint64_t{1} << (index % kWordBits);
  if (value) {
    words_[index / kWordBits] |= mask;
  } else {
    words_[index / kWordBits] &= ~mask;
  }
}

int TBits::OpenBit() const {
  for (size_t w = 0; w < words_.size(); ++w) {
    if (words_[w] != ~uint64_t{0}) {
      const int index = static_cast<int>(w) * kWordBits + std::countr_one(words_[w]);
      return index < size_ ? index : size_;
    }
  }
  return size_;
}

}  // namespace jw
