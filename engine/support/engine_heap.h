// The engine heap: zero-filled blocks whose sizes are counted, an exhausted
// heap raised as engine error 11016, and a compaction after every 1020th
// reallocation or release. GrowBuffer keeps reusable buffers large enough.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jw {

// A new zero-filled block of size bytes; nullptr for a size of 0 or less.
void* EngineAlloc(int32_t size);

// Resizes a block, keeping its contents; bytes added at the end are zero. A
// failure raises 11016 and leaves the block valid and unchanged. A size of 0
// or less releases the block and gives nullptr.
void* EngineRealloc(void* block, int32_t size);

// Releases the block and sets the variable to nullptr; a nullptr variable is
// left alone and does not count towards compaction.
void EngineFree(void*& block);

template <typename T>
void EngineFree(T*& block) {
  void* p = block;
  EngineFree(p);
  block = nullptr;
}

// Keeps a buffer at least size bytes large, in whole chunks, never shrinking
// it; a size below 1 frees the buffer.
void GrowBuffer(int32_t size, int32_t chunk, void*& block, int32_t& capacity);

// Sum of the usable sizes of all live engine blocks.
int64_t EngineBytesInUse();

// Reallocations and releases since the last compaction (0 .. 1019).
int32_t EngineCompactionCounter();

// The operations that count towards compaction.
constexpr int32_t kEngineCompactionInterval = 1020;

// The allocator under the heap; tests swap in one that fails. Returns the
// allocator it replaces.
using EngineMallocFn = void* (*)(size_t size);
EngineMallocFn SetEngineMalloc(EngineMallocFn fn);

}  // namespace jw
