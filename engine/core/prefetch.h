// PrefetchForRead: asks the processor to bring the memory at an address into
// its cache ahead of a read. The compiler's own prefetch builtin counts as
// free of effects and is dropped as dead code on conditional paths; the
// instruction written out stays where it is put. A prefetch never faults,
// whatever the address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jw {

// The processor's cache line, the unit a prefetch or a miss brings in.
constexpr size_t kCacheLineBytes = 64;

inline void PrefetchForRead(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 (%0)" : : "r"(address));
#else
  __builtin_prefetch(address);
#endif
}

// Every cache line of the bytes from begin on.
inline void PrefetchRangeForRead(const void* begin, size_t bytes) {
  constexpr uintptr_t kLine = kCacheLineBytes;
  const auto first = reinterpret_cast<uintptr_t>(begin) & ~(kLine - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(begin) + bytes;
  for (uintptr_t line = first; line < end; line += kLine) {
    PrefetchForRead(reinterpret_cast<const void*>(line));
  }
}

}  // namespace jw
