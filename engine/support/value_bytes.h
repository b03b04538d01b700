// CopyValueBytes: copies a field value's bytes. The common fixed sizes get
// copies of a constant length, which the compiler turns into moves of its
// own instead of a call: a row copy or field read that moves a few values
// spends most of its time otherwise in the calls.
#pragma once

#include <cstddef>
#include <cstring>

namespace jw {

inline void CopyValueBytes(void* to, const void* from, size_t length) {
  switch (length) {
    case 2:
      std::memcpy(to, from, 2);
      return;
    case 4:
      std::memcpy(to, from, 4);
      return;
    case 8:
      std::memcpy(to, from, 8);
      return;
    default:
      std::memcpy(to, from, length);
  }
}

}  // namespace jw
