#include "engine/support/key_images.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace jw {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename T, typename Encode>
Bytes Image(T value, size_t size, Encode encode) {
  Bytes b(size);
  encode(value, b.data());
  return b;
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

template <typename T>
int NumericOrder(T a, T b) {
  return (a > b) - (a < b);
}

constexpr int kPairs = 1000000;

// For random pairs, the sign of memcmp of the images equals the numeric
// comparison, and inverted images compare the other way round.
template <typename T, typename Generate, typename Encode>
void ExpectImagesSortLikeValues(size_t size, Generate generate, Encode encode) {
  const unsigned seed = std::random_device()();
  std::mt19937_64 random(seed);
  Bytes a(size), b(size);
  for (int i = 0; i < kPairs; ++i) {
    const T x = generate(random);
    const T y = (i % 5 == 0) ? x : generate(random);
    encode(x, a.data());
    encode(y, b.data());
    const int expected = NumericOrder(x, y);
    ASSERT_EQ(Sign(std::memcmp(a.data(), b.data(), size)), expected)
        << "seed " << seed << " values " << +x << " " << +y;
    InvertKey(a.data(), static_cast<int32_t>(size));
    InvertKey(b.data(), static_cast<int32_t>(size));
    ASSERT_EQ(Sign(std::memcmp(a.data(), b.data(), size)), -expected) << "seed " << seed;
  }
}

TEST(KeyImages, IntegerImagesSortLikeTheirValues) {
  ExpectImagesSortLikeValues<int16_t>(
      2, [](std::mt19937_64& r) { return static_cast<int16_t>(r()); }, &EncodeSmallIntKey);
  ExpectImagesSortLikeValues<uint16_t>(
      2, [](std::mt19937_64& r) { return static_cast<uint16_t>(r()); }, &EncodeWordKey);
  ExpectImagesSortLikeValues<int32_t>(
      4, [](std::mt19937_64& r) { return static_cast<int32_t>(r()); }, &EncodeIntKey);
  ExpectImagesSortLikeValues<int64_t>(
      8, [](std::mt19937_64& r) { return static_cast<int64_t>(r()); }, &EncodeInt64Key);
}

double RandomDouble(std::mt19937_64& r) {
  static const double kSpecial[] = {0.0,
                                    -0.0,
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::denorm_min(),
                                    -std::numeric_limits<double>::denorm_min(),
                                    std::numeric_limits<double>::min(),
                                    -std::numeric_limits<double>::min(),
                                    std::numeric_limits<double>::max(),
                                    -std::numeric_limits<double>::max(),
                                    1.0,
                                    -1.0};
  switch (r() % 4) {
    case 0:
      return kSpecial[r() % std::size(kSpecial)];
    case 1: {  // subnormals of either sign
      const uint64_t mantissa = r() & 0x000FFFFFFFFFFFFFull;
      return std::bit_cast<double>(mantissa | (r() & 0x8000000000000000ull));
    }
    case 2:
      return static_cast<double>(static_cast<int>(r() % 21) - 10) / 4;
    default: {
      double d;
      do {
        d = std::bit_cast<double>(r());
      } while (std::isnan(d));
      return d;
    }
  }
}

TEST(KeyImages, FloatImagesSortLikeTheirValues) {
  ExpectImagesSortLikeValues<double>(8, &RandomDouble, &EncodeFloatKey);
}

struct ImageCase {
  Bytes image;
  Bytes expected;
};

TEST(KeyImages, ByteExamples) {
  const ImageCase cases[] = {
      {Image<int32_t>(-1, 4, EncodeIntKey), {0x7F, 0xFF, 0xFF, 0xFF}},
      {Image<int32_t>(0, 4, EncodeIntKey), {0x80, 0x00, 0x00, 0x00}},
      {Image<int32_t>(1, 4, EncodeIntKey), {0x80, 0x00, 0x00, 0x01}},
      {Image<int16_t>(-32768, 2, EncodeSmallIntKey), {0x00, 0x00}},
      {Image<int16_t>(32767, 2, EncodeSmallIntKey), {0xFF, 0xFF}},
      {Image<uint16_t>(0x1234, 2, EncodeWordKey), {0x12, 0x34}},
      {Image<int64_t>(-2, 8, EncodeInt64Key), {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
      {Image<double>(0.0, 8, EncodeFloatKey), {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {Image<double>(-0.0, 8, EncodeFloatKey), {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {Image<double>(1.0, 8, EncodeFloatKey), {0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {Image<double>(-1.0, 8, EncodeFloatKey), {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].image, cases[i].expected) << "case " << i;
  }
}

TEST(KeyImages, FloatOrderOfTheExampleValues) {
  const double values[] = {-2.5, -1, -0.0, 1e-300, 3};
  for (size_t i = 0; i + 1 < std::size(values); ++i) {
    const Bytes a = Image(values[i], 8, EncodeFloatKey);
    const Bytes b = Image(values[i + 1], 8, EncodeFloatKey);
    EXPECT_LT(std::memcmp(a.data(), b.data(), 8), 0) << values[i] << " " << values[i + 1];
  }
}

TEST(KeyImages, InvertTwiceRestores) {
  Bytes b = {0x00, 0x7F, 0x80, 0xFF, 0x12};
  const Bytes original = b;
  InvertKey(b.data(), 5);
  EXPECT_EQ(b, (Bytes{0xFF, 0x80, 0x7F, 0x00, 0xED}));
  InvertKey(b.data(), 5);
  EXPECT_EQ(b, original);
}

TEST(CharacterClasses, IdentifierBytes) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool start = letter || c == '_' || (c >= 0x81 && c <= 0xFE);
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(IsIdentStartChar(ch), start) << c;
    EXPECT_EQ(IsIdentChar(ch), start || digit) << c;
    EXPECT_EQ(IsDigitChar(ch), digit) << c;
  }
  EXPECT_FALSE(IsIdentChar(static_cast<char>(0x80)));
  EXPECT_FALSE(IsIdentChar(static_cast<char>(0xFF)));
}

}  // namespace
}  // namespace jw
