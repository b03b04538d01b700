#include "platform/rtl/bits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace jw {
namespace {

TEST(Bits, MatchesAVectorModelIncludingTheLowestClearBit) {
  const int rounds = std::getenv("JW_LONG_TESTS") ? 100000 : 2000;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  TBits bits;
  std::vector<bool> model;
  for (int round = 0; round < rounds; ++round) {
    const int action = static_cast<int>(random() % 10);
    if (action == 0) {
      const int size = static_cast<int>(random() % 200);
      bits.SetSize(size);
      model.resize(size, false);
    } else {
      // Mostly near the low end, where OpenBit looks.
      const int index = static_cast<int>(random() % (action < 8 ? 70 : 300));
      const bool value = random() % 4 != 0;
      bits.SetBits(index, value);
      if (index >= static_cast<int>(model.size())) model.resize(index + 1, false);
      model[index] = value;
    }
    ASSERT_EQ(bits.Size(), static_cast<int>(model.size())) << "seed " << seed;
    int open = static_cast<int>(model.size());
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(bits.Bits(static_cast<int>(i)), model[i]) << "seed " << seed;
      if (!model[i] && open == static_cast<int>(model.size())) open = static_cast<int>(i);
    }
    ASSERT_EQ(bits.OpenBit(), open) << "seed " << seed;
  }
}

TEST(Bits, OutOfRangeIndexesRaise) {
  TBits bits;
  EXPECT_EQ(bits.OpenBit(), 0);
  bits.SetBits(63, true);
  EXPECT_EQ(bits.Size(), 64);
  for (int i = 0; i < 63; ++i) bits.SetBits(i, true);
  EXPECT_EQ(bits.OpenBit(), 64);
  try {
    bits.Bits(64);
    ADD_FAILURE();
  } catch (const EBitsError& e) {
    EXPECT_EQ(e.Message(), "Bits index out of range");
  }
  EXPECT_THROW(bits.SetBits(-1, true), EBitsError);
  EXPECT_THROW(bits.Bits(-1), EBitsError);
  // A shrink forgets bits, so they read clear when the array grows again.
  bits.SetSize(10);
  bits.SetSize(64);
  EXPECT_FALSE(bits.Bits(40));
  EXPECT_EQ(bits.OpenBit(), 10);
}

}  // namespace
}  // namespace jw
