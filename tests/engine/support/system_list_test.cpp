#include "engine/support/system_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"

namespace jw {
namespace {

void* Item(intptr_t n) {
  return reinterpret_cast<void*>(n);
}

TEST(TSystemList, GrowsInSmallStepsThenByAQuarter) {
  TSystemList list;
  std::vector<int32_t> capacities = {list.Capacity()};
  for (int i = 0; i < 95; ++i) {
    list.Add(Item(i + 1));
    if (list.Capacity() != capacities.back()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{0, 4, 8, 12, 28, 44, 60, 76, 95}));
  EXPECT_EQ(list.Count(), 95);
}

TEST(TSystemList, AddInsertDeleteKeepOrder) {
  TSystemList list;
  EXPECT_EQ(list.Add(Item(1)), 0);
  EXPECT_EQ(list.Add(Item(3)), 1);
  list.Insert(1, Item(2));
  list.Insert(3, Item(4));
  list.Insert(0, Item(0));
  ASSERT_EQ(list.Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(list.Get(i), Item(i));
  EXPECT_EQ(list.First(), Item(0));
  EXPECT_EQ(list.Last(), Item(4));
  list.Delete(1);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Get(1), Item(2));
  list.Exchange(0, 3);
  EXPECT_EQ(list.First(), Item(4));
  EXPECT_EQ(list.Last(), Item(0));
}

TEST(TSystemList, DeleteOfTheLastSlotOnlyLowersTheCount) {
  TSystemList list;
  list.Add(Item(1));
  list.Add(Item(2));
  const int32_t capacity = list.Capacity();
  list.Delete(1);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Capacity(), capacity);
  EXPECT_EQ(list.Get(0), Item(1));
}

TEST(TSystemList, IndexOfFindsTheLowestSlot) {
  TSystemList list;
  list.Add(Item(7));
  list.Add(Item(9));
  list.Add(Item(9));
  EXPECT_EQ(list.IndexOf(Item(9)), 1);
  EXPECT_EQ(list.IndexOf(Item(8)), -1);
}

TEST(TSystemList, SetCountClearsNewSlotsAndRaisesCapacityExactly) {
  TSystemList list;
  list.Add(Item(5));
  list.SetCount(10);
  EXPECT_EQ(list.Capacity(), 10);
  EXPECT_EQ(list.Get(0), Item(5));
  for (int i = 1; i < 10; ++i) EXPECT_EQ(list.Get(i), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(TSystemList, SetCountAfterShrinkingClearsStaleSlots) {
  TSystemList list;
  for (int i = 1; i <= 4; ++i) list.Add(Item(i));
  list.SetCount(1);
  list.SetCount(3);
  EXPECT_EQ(list.Get(1), nullptr);
  EXPECT_EQ(list.Get(2), nullptr);
}

TEST(TSystemList, AssignCopiesCountAndSlots) {
  TSystemList a;
  TSystemList b;
  for (int i = 1; i <= 6; ++i) a.Add(Item(i));
  b.Add(Item(99));
  b.Assign(a);
  EXPECT_EQ(b.Count(), 6);
  EXPECT_EQ(b.Capacity(), a.Capacity());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(b.Get(i), Item(i + 1));
}

void* FailingMalloc(size_t) {
  return nullptr;
}

TEST(TSystemList, ExhaustedHeapLeavesTheListUnchanged) {
  TSystemList list;
  for (int i = 1; i <= 4; ++i) list.Add(Item(i));
  const EngineMallocFn saved = SetEngineMalloc(&FailingMalloc);
  try {
    list.Add(Item(5));
    ADD_FAILURE() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrOutOfMemory);
  }
  EXPECT_THROW(list.Insert(0, Item(0)), EQuireEngineError);
  EXPECT_THROW(list.SetCount(100), EQuireEngineError);
  SetEngineMalloc(saved);
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Capacity(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.Get(i), Item(i + 1));
}

struct Keyed {
  int key;
  char id;
};

int CompareKeyed(void* a, void* b) {
  return static_cast<Keyed*>(a)->key - static_cast<Keyed*>(b)->key;
}

TEST(TSystemListSort, TiesComeOutInTheQuicksortOrder) {
  Keyed items[] = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {2, 'e'}};
  TSystemList list;
  for (Keyed& k : items) list.Add(&k);
  list.Sort(&CompareKeyed);
  std::string order;
  for (int i = 0; i < list.Count(); ++i) order += static_cast<Keyed*>(list.Get(i))->id;
  EXPECT_EQ(order, "dbeac");
}

TEST(TSystemListSort, EmptyListIsLeftAlone) {
  TSystemList list;
  list.Sort(&CompareKeyed);
  EXPECT_EQ(list.Count(), 0);
}

TEST(TSystemListSort, MatchesAModelOnArraysWithManyDuplicates) {
  const bool long_run = std::getenv("JW_LONG_TESTS") != nullptr;
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  const int rounds = long_run ? 5000 : 200;
  for (int round = 0; round < rounds; ++round) {
    const int n = std::uniform_int_distribution<int>(1, 300)(random);
    const int distinct = std::uniform_int_distribution<int>(1, 8)(random);
    std::vector<Keyed> items(n);
    for (int i = 0; i < n; ++i) {
      items[i] = {std::uniform_int_distribution<int>(0, distinct - 1)(random), char(i)};
    }
    TSystemList list;
    for (Keyed& k : items) list.Add(&k);
    list.Sort(&CompareKeyed);
    std::vector<int> model;
    for (const Keyed& k : items) model.push_back(k.key);
    std::sort(model.begin(), model.end());
    ASSERT_EQ(list.Count(), n);
    std::vector<const void*> seen;
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(static_cast<Keyed*>(list.Get(i))->key, model[i]) << "seed " << seed;
      seen.push_back(list.Get(i));
    }
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "seed " << seed;
  }
}

}  // namespace
}  // namespace jw
