// TBits: a growable array of bits, used to hand out the lowest free number
// (OpenBit) among numbers in use.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rtl/exceptions.h"

namespace jw {

// A bit index below 0, or a read past Size().
class EBitsError : public Exception {
  using Exception::Exception;
};

class TBits {
 public:
  int Size() const { return size_; }
  // New bits are clear; a shrink forgets the bits past the new size.
  void SetSize(int size);
  // Raises EBitsError "Bits index out of range" for index < 0 or >= Size().
  bool Bits(int index) const;
  // Grows the array to index + 1 bits when index >= Size().
  void SetBits(int index, bool value);
  // The lowest clear bit, or Size() when every bit is set.
  int OpenBit() const;

 private:
  std::vector<uint64_t> words_;
  int size_ = 0;
};

}  // namespace jw
