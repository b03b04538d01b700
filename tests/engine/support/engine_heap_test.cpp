#include "engine/support/engine_heap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/support/engine_errors.h"

namespace jw {
namespace {

void* FailingMalloc(size_t) {
  return nullptr;
}

// Swaps in an allocator that always fails for the life of the object.
class FailingHeap {
 public:
  FailingHeap() : saved_(SetEngineMalloc(&FailingMalloc)) {}
  ~FailingHeap() { SetEngineMalloc(saved_); }

 private:
  EngineMallocFn saved_;
};

// Brings the compaction counter to the given value by reallocating a block.
void AdvanceCompactionCounterTo(int32_t target) {
  void* block = EngineAlloc(8);
  while (EngineCompactionCounter() != target - 1) block = EngineRealloc(block, 8);
  EngineFree(block);
  ASSERT_EQ(EngineCompactionCounter(), target);
}

TEST(EngineHeap, AllocationIsZeroFilledAndCounted) {
  const int64_t before = EngineBytesInUse();
  auto* block = static_cast<unsigned char*>(EngineAlloc(1000));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_GE(EngineBytesInUse() - before, 1000);
  EngineFree(block);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(EngineBytesInUse(), before);
}

TEST(EngineHeap, SizeZeroOrBelowNeverRaises) {
  const FailingHeap failing;
  EXPECT_EQ(EngineAlloc(0), nullptr);
  EXPECT_EQ(EngineAlloc(-5), nullptr);
}

TEST(EngineHeap, ReallocationKeepsContentsAndZeroesTheGrowth) {
  const int64_t before = EngineBytesInUse();
  auto* block = static_cast<unsigned char*>(EngineAlloc(64));
  std::memset(block, 0xAB, 64);
  block = static_cast<unsigned char*>(EngineRealloc(block, 4));
  block = static_cast<unsigned char*>(EngineRealloc(block, 4096));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0xAB) << i;
  for (int i = 4; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  EngineFree(block);
  EXPECT_EQ(EngineBytesInUse(), before);
}

TEST(EngineHeap, ExhaustedHeapRaises11016AndKeepsTheBlock) {
  auto* block = static_cast<unsigned char*>(EngineAlloc(16));
  block[3] = 7;
  {
    const FailingHeap failing;
    try {
      EngineAlloc(10);
      FAIL() << "no exception";
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrOutOfMemory);
      EXPECT_EQ(std::string(e.what()),
                "Quire Engine Error # 11016 There is insufficient operating system memory "
                "available for the current operation");
    }
    EXPECT_THROW(EngineRealloc(block, 1 << 20), EQuireEngineError);
  }
  EXPECT_EQ(block[3], 7);
  EngineFree(block);
}

TEST(EngineHeap, FreeOfNilDoesNothingAndIsNotCounted) {
  AdvanceCompactionCounterTo(5);
  void* nil = nullptr;
  EngineFree(nil);
  EXPECT_EQ(EngineCompactionCounter(), 5);
}

TEST(EngineHeap, EveryThousandTwentiethReallocationOrReleaseCompacts) {
  AdvanceCompactionCounterTo(1018);
  void* a = EngineAlloc(10);  // allocations do not count
  EXPECT_EQ(EngineCompactionCounter(), 1018);
  a = EngineRealloc(a, 20);  // the 1019th does not compact
  EXPECT_EQ(EngineCompactionCounter(), 1019);
  EngineFree(a);  // the 1020th does, and restarts the count
  EXPECT_EQ(EngineCompactionCounter(), 0);
  void* b = EngineAlloc(10);
  EngineFree(b);
  EXPECT_EQ(EngineCompactionCounter(), 1);
}

TEST(GrowBuffer, RoundsUpToWholeChunksAndNeverShrinks) {
  void* block = nullptr;
  int32_t capacity = 0;
  GrowBuffer(300, 255, block, capacity);
  EXPECT_EQ(capacity, 510);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block)[509] = 'x';
  void* const same = block;
  GrowBuffer(400, 255, block, capacity);
  EXPECT_EQ(capacity, 510);
  EXPECT_EQ(block, same);
  GrowBuffer(510, 255, block, capacity);
  EXPECT_EQ(capacity, 510);
  GrowBuffer(511, 255, block, capacity);
  EXPECT_EQ(capacity, 765);
  EXPECT_EQ(static_cast<char*>(block)[509], 'x');
  GrowBuffer(0, 255, block, capacity);
  EXPECT_EQ(capacity, 0);
  EXPECT_EQ(block, nullptr);
}

TEST(GrowBuffer, SizeZeroOnAnEmptyBufferDoesNothing) {
  void* block = nullptr;
  int32_t capacity = 0;
  AdvanceCompactionCounterTo(3);
  GrowBuffer(0, 1024, block, capacity);
  EXPECT_EQ(capacity, 0);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(EngineCompactionCounter(), 3);
}

TEST(GrowBuffer, FailureLeavesBufferAndCapacity) {
  void* block = nullptr;
  int32_t capacity = 0;
  GrowBuffer(100, 64, block, capacity);
  void* const before = block;
  {
    const FailingHeap failing;
    EXPECT_THROW(GrowBuffer(1000, 64, block, capacity), EQuireEngineError);
  }
  EXPECT_EQ(block, before);
  EXPECT_EQ(capacity, 128);
  GrowBuffer(0, 64, block, capacity);
}

}  // namespace
}  // namespace jw
