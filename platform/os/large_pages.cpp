#include "platform/os/large_pages.h"

#include <sys/mman.h>

#include <cstdlib>

namespace jw {

void* AllocateCacheMemory(size_t bytes) {
  if (bytes < kLargePageBytes) return ::operator new(bytes);
  const size_t rounded = (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
  void* block = std::aligned_alloc(kLargePageBytes, rounded);
  if (block == nullptr) throw std::bad_alloc();
  // Only a hint: without large pages the block works the same, in small ones.
  madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

void FreeCacheMemory(void* block, size_t bytes) {
  if (block == nullptr) return;
  if (bytes < kLargePageBytes) {
    ::operator delete(block);
  } else {
    std::free(block);
  }
}

}  // namespace jw
