#include "engine/support/scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace jw {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& random) {
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = static_cast<uint8_t>(random());
  return b;
}

TEST(Scrambler, ApplyingTwiceRestoresTheBuffer) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  for (size_t n : {1u, 2u, 255u, 256u, 257u, 4096u, 65535u, 65537u, 100000u}) {
    const std::vector<uint8_t> original = RandomBytes(n, random);
    std::vector<uint8_t> b = original;
    const auto k1 = static_cast<uint8_t>(random());
    auto k2 = static_cast<uint8_t>(random());
    // Equal seeds leave byte 0 alone, and a one-byte buffer would not change.
    if (k2 == k1) ++k2;
    ScrambleBuffer(b.data(), static_cast<int32_t>(n), k1, k2);
    EXPECT_NE(b, original) << "n " << n << " seed " << seed;
    UnscrambleBuffer(b.data(), static_cast<int32_t>(n), k1, k2);
    EXPECT_EQ(b, original) << "n " << n << " seed " << seed;
  }
}

TEST(Scrambler, KeyStreamBytes) {
  std::vector<uint8_t> b(4, 0);
  ScrambleBuffer(b.data(), 4, 0x10, 0x03);
  // a runs 10 11 12 13, b runs 03 02 01 00.
  EXPECT_EQ(b, (std::vector<uint8_t>{0x13, 0x13, 0x13, 0x13}));
  std::vector<uint8_t> one = {0x5A};
  ScrambleBuffer(one.data(), 1, 0x0F, 0xF0);
  EXPECT_EQ(one[0], 0x5A ^ 0x0F ^ 0xF0);
  std::vector<uint8_t> wrap(3, 0);
  ScrambleBuffer(wrap.data(), 3, 0xFF, 0x00);
  // a wraps to 00, b to FF: FF^00, 00^FF, 01^FE.
  EXPECT_EQ(wrap, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
}

TEST(Scrambler, EqualSeedsLeaveTheFirstByte) {
  std::vector<uint8_t> b = {1, 2, 3, 4};
  ScrambleBuffer(b.data(), 4, 0x42, 0x42);
  EXPECT_EQ(b[0], 1);
  EXPECT_NE(b[1], 2);
  EXPECT_NE(b[2], 3);
  EXPECT_NE(b[3], 4);
}

TEST(Scrambler, LengthsWithZeroLow16BitsAreUntouched) {
  for (size_t n : {65536u, 131072u}) {
    std::vector<uint8_t> b(n, 0x33);
    ScrambleBuffer(b.data(), static_cast<int32_t>(n), 1, 2);
    EXPECT_EQ(b, std::vector<uint8_t>(n, 0x33)) << n;
  }
  ScrambleBuffer(nullptr, 0, 1, 2);
  std::vector<uint8_t> b(65537, 0);
  ScrambleBuffer(b.data(), 65537, 1, 2);
  EXPECT_EQ(b[0], 1 ^ 2);
  EXPECT_EQ(b[65536], static_cast<uint8_t>((1 + 65536) ^ (2 - 65536)));
}

}  // namespace
}  // namespace jw
