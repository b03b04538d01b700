#include "engine/support/engine_heap.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/support/engine_errors.h"

namespace jw {
namespace {

std::atomic<EngineMallocFn> engine_malloc{&std::malloc};
std::atomic<int64_t> bytes_in_use{0};
// A lost increment under contention only delays the next compaction.
std::atomic<int32_t> compaction_counter{0};

void CountTowardsCompaction() {
  if (compaction_counter.fetch_add(1, std::memory_order_relaxed) + 1 >= kEngineCompactionInterval) {
    compaction_counter.store(0, std::memory_order_relaxed);
    malloc_trim(0);
  }
}

[[noreturn]] void RaiseOutOfMemory() {
  RaiseEngineError(kErrOutOfMemory, std::string());
}

// Every block keeps the bytes between its requested size and its usable size
// zero, so growing a block never shows stale bytes.
void* NewZeroedBlock(size_t size) {
  void* block = engine_malloc.load()(size);
  if (block == nullptr) return nullptr;
  std::memset(block, 0, malloc_usable_size(block));
  return block;
}

}  // namespace

void* EngineAlloc(int32_t size) {
  if (size <= 0) return nullptr;
  void* block = NewZeroedBlock(static_cast<size_t>(size));
  if (block == nullptr) RaiseOutOfMemory();
  bytes_in_use += static_cast<int64_t>(malloc_usable_size(block));
  return block;
}

void* EngineRealloc(void* block, int32_t size) {
  if (block == nullptr) return EngineAlloc(size);
  if (size <= 0) {
    EngineFree(block);
    return nullptr;
  }
  const size_t old_size = malloc_usable_size(block);
  void* moved = NewZeroedBlock(static_cast<size_t>(size));
  if (moved == nullptr) RaiseOutOfMemory();
  std::memcpy(moved, block, std::min(old_size, static_cast<size_t>(size)));
  std::free(block);
  bytes_in_use += static_cast<int64_t>(malloc_usable_size(moved)) - static_cast<int64_t>(old_size);
  CountTowardsCompaction();
  return moved;
}

void EngineFree(void*& block) {
  if (block == nullptr) return;
  bytes_in_use -= static_cast<int64_t>(malloc_usable_size(block));
  std::free(block);
  block = nullptr;
  CountTowardsCompaction();
}

void GrowBuffer(int32_t size, int32_t chunk, void*& block, int32_t& capacity) {
  if (size < 1) {
    if (capacity < 1) return;
    EngineFree(block);
    capacity = 0;
    return;
  }
  int64_t rounded = size;
  if (chunk > 0 && rounded % chunk != 0) rounded += chunk - rounded % chunk;
  if (capacity >= rounded) return;
  if (rounded > INT32_MAX) RaiseOutOfMemory();
  block = capacity == 0 ? EngineAlloc(static_cast<int32_t>(rounded))
                        : EngineRealloc(block, static_cast<int32_t>(rounded));
  capacity = static_cast<int32_t>(rounded);
}

int64_t EngineBytesInUse() {
  return bytes_in_use.load();
}

int32_t EngineCompactionCounter() {
  return compaction_counter.load(std::memory_order_relaxed);
}

EngineMallocFn SetEngineMalloc(EngineMallocFn fn) {
  return engine_malloc.exchange(fn);
}

}  // namespace jw
