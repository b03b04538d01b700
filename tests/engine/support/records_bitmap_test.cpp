#include "engine/support/records_bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace jw {
namespace {

TEST(TRecordsBitmap, CountsRoundToWholeWords) {
  TRecordsBitmap b;
  EXPECT_EQ(b.BitCount(), 0);
  EXPECT_EQ(b.BufferSize(), 0);
  b.SetRecordCount(33);
  EXPECT_EQ(b.RoundedBitCount(), 64);
  EXPECT_EQ(b.WordCount(), 2);
  EXPECT_EQ(b.BufferSize(), 1024);
  b.SetRecordCount(32);
  EXPECT_EQ(b.RoundedBitCount(), 32);
  EXPECT_EQ(b.WordCount(), 1);
  EXPECT_EQ(b.BufferSize(), 1024);
  b.SetRecordCount(8193);
  EXPECT_EQ(b.WordCount(), 257);
  EXPECT_EQ(b.BufferSize(), 2048);
}

TEST(TRecordsBitmap, CountSetIgnoresBitsBeyondTheCount) {
  TRecordsBitmap b;
  b.SetRecordCount(40);
  b.SetAll();
  EXPECT_EQ(b.CountSet(), 40);
  EXPECT_FALSE(b.IsSet(41));
  b.Invert();
  EXPECT_EQ(b.CountSet(), 0);
}

TEST(TRecordsBitmap, RecordsOutsideTheCountAreFalseAndIgnored) {
  TRecordsBitmap b;
  b.SetBit(1);  // no buffer yet
  EXPECT_FALSE(b.IsSet(1));
  b.SetRecordCount(10);
  b.SetBit(0);
  b.SetBit(-3);
  b.SetBit(11);
  b.SetBit(5000);
  EXPECT_EQ(b.CountSet(), 0);
  EXPECT_FALSE(b.IsSet(0));
  EXPECT_FALSE(b.IsSet(11));
  b.SetBit(10);
  EXPECT_TRUE(b.IsSet(10));
}

TEST(TRecordsBitmap, GrowingTheCountBringsInClearRecords) {
  TRecordsBitmap b;
  b.SetRecordCount(10);
  b.SetAll();
  b.SetRecordCount(100);
  EXPECT_EQ(b.CountSet(), 10);
  EXPECT_FALSE(b.IsSet(11));
  b.SetRecordCount(5);
  b.SetRecordCount(10);
  EXPECT_EQ(b.CountSet(), 5);
}

TEST(TRecordsBitmap, CountSetBefore) {
  TRecordsBitmap b;
  b.SetRecordCount(100);
  b.SetAll();
  EXPECT_EQ(b.CountSetBefore(1), 0);
  EXPECT_EQ(b.CountSetBefore(0), 0);
  EXPECT_EQ(b.CountSetBefore(2), 1);
  EXPECT_EQ(b.CountSetBefore(33), 32);
  EXPECT_EQ(b.CountSetBefore(1000), 100);
}

TEST(TRecordsBitmap, WalkingOverAWordOfOnes) {
  TRecordsBitmap b;
  b.SetRecordCount(100);
  for (int n = 33; n <= 64; ++n) b.SetBit(n);
  b.SetBit(70);
  int32_t position = 32;
  int32_t sequence = 0;
  EXPECT_TRUE(b.FindNextSet(position, 32, sequence));
  EXPECT_EQ(position, 64);
  EXPECT_EQ(sequence, 32);
  position = 32;
  sequence = 0;
  EXPECT_TRUE(b.FindNextSet(position, 33, sequence));
  EXPECT_EQ(position, 70);
  EXPECT_EQ(sequence, 33);
  position = 0;
  sequence = 0;
  EXPECT_TRUE(b.FindNextSet(position, 1, sequence));
  EXPECT_EQ(position, 33);
  position = 70;
  sequence = 0;
  EXPECT_FALSE(b.FindNextSet(position, 1, sequence));
  EXPECT_EQ(position, 70);
  EXPECT_EQ(sequence, 0);
  position = 71;
  sequence = 100;
  EXPECT_TRUE(b.FindPriorSet(position, 33, sequence));
  EXPECT_EQ(position, 33);
  EXPECT_EQ(sequence, 67);
  EXPECT_FALSE(b.FindPriorSet(position, 1, sequence));
  EXPECT_EQ(position, 33);
}

TEST(RecordsBitmapPool, ReusedBitmapsComeBackClear) {
  TRecordsBitmap* b = GetRecordsBitmap();
  b->SetRecordCount(50);
  b->SetAll();
  TRecordsBitmap* const released = b;
  ReleaseRecordsBitmap(b);
  EXPECT_EQ(b, nullptr);
  TRecordsBitmap* again = GetRecordsBitmap();
  EXPECT_EQ(again, released);
  EXPECT_EQ(again->BitCount(), 50);
  EXPECT_EQ(again->CountSet(), 0);
  ReleaseRecordsBitmap(again);
  TRecordsBitmap* nil = nullptr;
  ReleaseRecordsBitmap(nil);
}

// The model: one bool per record of the count.
using Model = std::vector<bool>;

int32_t ModelCount(const Model& m, int32_t upto) {
  int32_t count = 0;
  for (int32_t i = 0; i < upto && i < static_cast<int32_t>(m.size()); ++i) count += m[i];
  return count;
}

bool ModelNext(const Model& m, int32_t& position, int32_t n, int32_t& sequence) {
  for (int32_t r = std::max(position, 0) + 1; r <= static_cast<int32_t>(m.size()); ++r) {
    if (m[r - 1]) {
      position = r;
      ++sequence;
      if (--n == 0) return true;
    }
  }
  return n <= 0;
}

bool ModelPrior(const Model& m, int32_t& position, int32_t n, int32_t& sequence) {
  for (int32_t r = std::min<int32_t>(position, static_cast<int32_t>(m.size()) + 1) - 1; r >= 1;
       --r) {
    if (m[r - 1]) {
      position = r;
      --sequence;
      if (--n == 0) return true;
    }
  }
  return n <= 0;
}

void RandomFill(TRecordsBitmap& b, Model& m, std::mt19937& random) {
  const int32_t count = std::uniform_int_distribution<int32_t>(0, 300)(random);
  b.SetRecordCount(count);
  m.assign(count, false);
  const int density = std::uniform_int_distribution<int>(0, 5)(random);
  // Density 5: a few records close together, as an indexed filter gives,
  // so that the other bitmap's set words lie anywhere inside its count.
  const int32_t near = std::uniform_int_distribution<int32_t>(1, std::max(count, 1))(random);
  for (int32_t r = 1; r <= count; ++r) {
    const bool sparse = density == 5 && r >= near && r < near + 40 && random() % 8 == 0;
    if (sparse || density == 4 || (density < 4 && static_cast<int>(random() % 4) < density)) {
      b.SetBit(r);
      m[r - 1] = true;
    }
  }
  // Whole-word operations are where bits beyond the count could appear.
  switch (random() % 3) {
    case 0:
      b.SetAll();
      m.assign(count, true);
      break;
    case 1:
      b.Invert();
      m.flip();
      break;
    default:
      break;
  }
}

TEST(TRecordsBitmap, MatchesAModelUnderRandomOperations) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  const int steps = std::getenv("JW_LONG_TESTS") != nullptr ? 200000 : 20000;
  TRecordsBitmap b;
  Model m;
  for (int step = 0; step < steps; ++step) {
    const int32_t size = static_cast<int32_t>(m.size());
    const int32_t n = std::uniform_int_distribution<int32_t>(-2, size + 40)(random);
    SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step << " n " << n);
    switch (random() % 12) {
      case 0: {
        const int32_t count = std::uniform_int_distribution<int32_t>(0, 400)(random);
        b.SetRecordCount(count);
        m.resize(count, false);
        break;
      }
      case 1:
      case 2:
        b.SetBit(n);
        if (n >= 1 && n <= size) m[n - 1] = true;
        break;
      case 3:
        b.ClearBit(n);
        if (n >= 1 && n <= size) m[n - 1] = false;
        break;
      case 4:
        b.Invert();
        m.flip();
        break;
      case 5:
        if (random() % 2 == 0) {
          b.SetAll();
          m.assign(size, true);
        } else {
          b.ClearAll();
          m.assign(size, false);
        }
        break;
      case 6:
      case 7: {
        TRecordsBitmap other;
        Model om;
        RandomFill(other, om, random);
        const int op = random() % 3;
        if (op == 0) {
          b.AndWith(other);
          for (int32_t i = 0; i < size; ++i)
            m[i] = m[i] && i < static_cast<int32_t>(om.size()) && om[i];
        } else if (op == 1) {
          b.OrWith(other);
          for (int32_t i = 0; i < size; ++i)
            m[i] = m[i] || (i < static_cast<int32_t>(om.size()) && om[i]);
        } else {
          b.Assign(other);
          m = om;
        }
        break;
      }
      case 8: {
        int32_t p1 = n, s1 = 0, p2 = n, s2 = 0;
        const int32_t k = std::uniform_int_distribution<int32_t>(1, 80)(random);
        ASSERT_EQ(b.FindNextSet(p1, k, s1), ModelNext(m, p2, k, s2)) << "k " << k;
        ASSERT_EQ(p1, p2);
        ASSERT_EQ(s1, s2);
        int32_t p3 = n, s3 = 0;
        const bool next = ModelNext(m, p3, 1, s3);
        ASSERT_EQ(b.NextSet(n), next ? p3 : 0);
        break;
      }
      case 9: {
        int32_t p1 = n, s1 = 0, p2 = n, s2 = 0;
        const int32_t k = std::uniform_int_distribution<int32_t>(1, 80)(random);
        ASSERT_EQ(b.FindPriorSet(p1, k, s1), ModelPrior(m, p2, k, s2)) << "k " << k;
        ASSERT_EQ(p1, p2);
        ASSERT_EQ(s1, s2);
        break;
      }
      default:
        ASSERT_EQ(b.CountSetBefore(n), n < 2 ? 0 : ModelCount(m, n - 1));
        break;
    }
    ASSERT_EQ(b.BitCount(), static_cast<int32_t>(m.size()));
    ASSERT_EQ(b.CountSet(), ModelCount(m, static_cast<int32_t>(m.size())));
    const int32_t probe =
        std::uniform_int_distribution<int32_t>(-1, static_cast<int32_t>(m.size()) + 2)(random);
    ASSERT_EQ(b.IsSet(probe),
              probe >= 1 && probe <= static_cast<int32_t>(m.size()) && m[probe - 1]);
  }
}

}  // namespace
}  // namespace jw
