// PrefetchForRead: asks the processor to bring the memory at an address into
// its cache ahead of a read. The compiler's own prefetch builtin counts as
// free of effects and is dropped as dead code on conditional paths; the
// instruction written out stays where it is put. A prefetch never faults,
// whatever the address.
#pragma once

namespace jw {

inline void PrefetchForRead(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 (%0)" : : "r"(address));
#else
  __builtin_prefetch(address);
#endif
}

}  // namespace jw
