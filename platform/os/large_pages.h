// Memory for the caches' large tables and object slabs, which walks in
// index order read at random places: a block of at least kLargePageBytes is
// aligned to that size and offered to the system's large pages, so that
// random reads across megabytes of cached records need few address
// translations instead of one per small page touched. Smaller blocks come
// from the ordinary heap.
#pragma once

#include <cstddef>
#include <new>

namespace jw {

constexpr size_t kLargePageBytes = size_t{2} << 20;

// A block of bytes, aligned to kLargePageBytes when it is that large; raises
// std::bad_alloc when there is no memory.
void* AllocateCacheMemory(size_t bytes);
// Returns a block of AllocateCacheMemory with the size it was asked for.
void FreeCacheMemory(void* block, size_t bytes);

// A standard allocator over AllocateCacheMemory, for a cache's tables.
template <typename T>
class TCacheMemoryAllocator {
 public:
  using value_type = T;
  TCacheMemoryAllocator() = default;
  template <typename U>
  TCacheMemoryAllocator(const TCacheMemoryAllocator<U>&) {}
  T* allocate(size_t count) {
    if (count > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateCacheMemory(count * sizeof(T)));
  }
  void deallocate(T* block, size_t count) { FreeCacheMemory(block, count * sizeof(T)); }
  template <typename U>
  bool operator==(const TCacheMemoryAllocator<U>&) const {
    return true;
  }
};

}  // namespace jw
