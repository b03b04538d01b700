#include "platform/os/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace jw {
namespace {

size_t RoundToLargePages(size_t bytes) {
  return (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
}

}  // namespace

// A large block is a mapping of its own rather than heap memory: the heap
// hands back memory that earlier blocks already touched, in small pages,
// which the system then keeps small, while every large page of a fresh
// mapping can be had as one at its first touch. The mapping is made one
// large page longer than the block and cut to an aligned stretch.
void* AllocateCacheMemory(size_t bytes) {
  if (bytes < kLargePageBytes) return ::operator new(bytes);
  const size_t rounded = RoundToLargePages(bytes);
  void* mapped = mmap(nullptr, rounded + kLargePageBytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto base = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t start = (base + kLargePageBytes - 1) & ~(uintptr_t{kLargePageBytes} - 1);
  const uintptr_t end = start + rounded;
  // Neither cut-off end was touched: letting them go flushes nothing.
  if (start > base) munmap(mapped, start - base);
  const uintptr_t mapped_end = base + rounded + kLargePageBytes;
  if (mapped_end > end) munmap(reinterpret_cast<void*>(end), mapped_end - end);
  // Only a hint: without large pages the block works the same, in small ones.
  madvise(reinterpret_cast<void*>(start), rounded, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(start);
}

void FreeCacheMemory(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kLargePageBytes) {
    ::operator delete(block);
  } else {
    munmap(block, RoundToLargePages(bytes));
  }
}

}  // namespace jw
