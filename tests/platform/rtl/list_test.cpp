#include "platform/rtl/list.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

TEST(List, KeepsPointersInOrderThroughEdits) {
  int a = 1, b = 2, c = 3, d = 4;
  TList list;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.Add(&b), 1);
  list.Insert(0, &c);  // c a b
  list.Insert(3, &d);  // c a b d
  list.Move(0, 2);     // a b c d
  EXPECT_EQ(list.Items(2), &c);
  list.Exchange(0, 3);  // d b c a
  EXPECT_EQ(list.Remove(&b), 1);
  EXPECT_EQ(list.Remove(&b), -1);
  EXPECT_EQ(list.IndexOf(&a), 2);
  list.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
  EXPECT_EQ(list.Items(0), &a);
  EXPECT_EQ(list.Items(1), &c);
  EXPECT_EQ(list.Items(2), &d);
  list.Delete(1);
  EXPECT_EQ(list.Count(), 2);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(List, IndexErrorsNameTheIndex) {
  TList list;
  list.Add(nullptr);
  const struct {
    std::function<void()> action;
    const char* message;
  } cases[] = {
      {[&] { list.Items(1); }, "List index out of bounds (1)"},
      {[&] { list.Delete(-1); }, "List index out of bounds (-1)"},
      {[&] { list.Insert(2, nullptr); }, "List index out of bounds (2)"},
      {[&] { list.Exchange(0, 5); }, "List index out of bounds (5)"},
      {[&] { list.Move(0, 1); }, "List index out of bounds (1)"},
      {[&] { list.Move(3, 0); }, "List index out of bounds (3)"},
  };
  for (const auto& c : cases) {
    try {
      c.action();
      ADD_FAILURE() << "nothing raised for " << c.message;
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
}  // namespace jw
