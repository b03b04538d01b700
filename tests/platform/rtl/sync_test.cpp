#include "platform/rtl/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/rtl/random.h"

namespace jw {
namespace {

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  TCriticalSection section;
  TCriticalSectionGuard outer(section);
  {
    TCriticalSectionGuard inner(section);
    EXPECT_TRUE(section.TryEnter());
    section.Leave();
  }
  std::atomic<bool> other_entered{true};
  std::thread([&] { other_entered = section.TryEnter(); }).join();
  EXPECT_FALSE(other_entered);
}

TEST(CriticalSection, GuardsSharedCountersAcrossThreads) {
  TCriticalSection section;
  int64_t counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        TCriticalSectionGuard guard(section);
        ++counter;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

TEST(Threads, EachThreadHasItsOwnId) {
  const uint32_t main_id = GetCurrentThreadId();
  EXPECT_EQ(GetCurrentThreadId(), main_id);
  uint32_t other_id = main_id;
  std::thread([&] { other_id = GetCurrentThreadId(); }).join();
  EXPECT_NE(other_id, main_id);
}

TEST(Ticks, TheCountersAgreeAndNeverGoBack) {
  const uint64_t before = GetTickCount64();
  Sleep(2);
  const uint32_t ticks = GetTickCount();
  const uint64_t after = GetTickCount64();
  EXPECT_GE(after - before, 2u);
  // The 32-bit counter is the low half of the 64-bit one, read in between.
  EXPECT_LE(static_cast<uint32_t>(ticks - static_cast<uint32_t>(before)), after - before);
}

class CountingRandom : public TRandomSource {
 public:
  int32_t Random(int32_t range) override { return range - 1; }
  double RandomFloat() override { return 0.25; }
  void Randomize() override { ++randomized; }
  int randomized = 0;
};

TEST(RandomSource, AScopeInstallsAFakeAndPutsBackTheRealOne) {
  CountingRandom fake;
  {
    TScopedRandomSource scope(fake);
    EXPECT_EQ(Random(10), 9);
    EXPECT_EQ(RandomFloat(), 0.25);
    Randomize();
    EXPECT_EQ(fake.randomized, 1);
  }
  EXPECT_NE(&RandomSource(), &fake);
}

TEST(RandomSource, TheRealOneStaysInRangeAndCoversIt) {
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-3), 0);
  int seen[5] = {};
  for (int i = 0; i < 1000; ++i) {
    const int32_t value = Random(5);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 5);
    ++seen[value];
    const double fraction = RandomFloat();
    ASSERT_GE(fraction, 0.0);
    ASSERT_LT(fraction, 1.0);
  }
  // Each value has probability 1/5; fewer than 100 of 1000 is beyond any
  // plausible chance.
  for (int count : seen) EXPECT_GT(count, 100);
}

}  // namespace
}  // namespace jw
