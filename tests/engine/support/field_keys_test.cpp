#include "engine/support/field_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"

namespace jw {
namespace {

constexpr uint8_t kPresent = 1;
constexpr uint8_t kNull = 0;

struct KeyedValue {
  bool null;
  std::vector<uint8_t> stored;  // the value's stored form
};

std::vector<uint8_t> Key(uint8_t type, int32_t length, const KeyedValue& v, bool descending,
                         bool ci = false) {
  // Filled with garbage: the builder clears the key area itself.
  std::vector<uint8_t> key(static_cast<size_t>(length) + 1, 0xA5);
  key[0] = v.null ? kNull : kPresent;
  std::vector<uint8_t> zero(static_cast<size_t>(length) + 8, 0);
  BuildFieldKey(type, length, v.null ? zero.data() : v.stored.data(), key.data(), 0, 0, descending,
                ci);
  return key;
}

template <typename T>
KeyedValue Value(T v) {
  KeyedValue k{false, std::vector<uint8_t>(sizeof(T))};
  std::memcpy(k.stored.data(), &v, sizeof(T));
  return k;
}

struct TypeCase {
  uint8_t type;
  int32_t length;
};

int Samples() {
  return std::getenv("JW_LONG_TESTS") != nullptr ? 3000 : 200;
}

// For each type: random values (and nulls), keys compared with memcmp must
// order like the values; nulls first ascending and last descending.
TEST(FieldKeys, ByteOrderOfImagesIsValueOrder) {
  const uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const TypeCase types[] = {{kFldDate, 4}, {kFldInteger, 4},  {kFldTime, 4},  {kFldBoolean, 2},
                            {kFldWord, 2}, {kFldSmallInt, 2}, {kFldFloat, 8}, {kFldTimeStamp, 8},
                            {kFldBcd, 8},  {kFldString, 11}};
  for (const TypeCase& t : types) {
    SCOPED_TRACE(int(t.type));
    for (int n = 0; n < Samples(); ++n) {
      KeyedValue a;
      KeyedValue b;
      int expected = 0;  // order of a against b
      const auto r1 = random();
      const auto r2 = random();
      auto order = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
      switch (t.type) {
        case kFldDate:
        case kFldInteger:
        case kFldTime:
          a = Value(static_cast<int32_t>(r1));
          b = Value(static_cast<int32_t>(r2 % 3 == 0 ? r1 : r2));
          expected = order(static_cast<int32_t>(r1), static_cast<int32_t>(r2 % 3 == 0 ? r1 : r2));
          break;
        case kFldBoolean:
        case kFldWord:
          a = Value(static_cast<uint16_t>(r1));
          b = Value(static_cast<uint16_t>(r2));
          expected = order(static_cast<uint16_t>(r1), static_cast<uint16_t>(r2));
          break;
        case kFldSmallInt:
          a = Value(static_cast<int16_t>(r1));
          b = Value(static_cast<int16_t>(r2));
          expected = order(static_cast<int16_t>(r1), static_cast<int16_t>(r2));
          break;
        case kFldFloat:
        case kFldTimeStamp: {
          const double x = static_cast<double>(static_cast<int64_t>(r1) >> (r1 % 60)) / 7.0;
          const double y = static_cast<double>(static_cast<int64_t>(r2) >> (r2 % 60)) / 7.0;
          a = Value(x);
          b = Value(y);
          expected = order(x, y);
          break;
        }
        case kFldBcd:
          a = Value(static_cast<int64_t>(r1));
          b = Value(static_cast<int64_t>(r2));
          expected = order(static_cast<int64_t>(r1), static_cast<int64_t>(r2));
          break;
        default: {
          std::string x(r1 % 11, ' ');
          std::string y(r2 % 11, ' ');
          for (char& c : x) c = static_cast<char>('a' + random() % 3);
          for (char& c : y) c = static_cast<char>('a' + random() % 3);
          x.resize(11, '\0');
          y.resize(11, '\0');
          a = {false, std::vector<uint8_t>(x.begin(), x.end())};
          b = {false, std::vector<uint8_t>(y.begin(), y.end())};
          expected = order(std::strcmp(x.c_str(), y.c_str()), 0);
          break;
        }
      }
      if (r1 % 17 == 0) {
        a.null = true;
        expected = b.null ? 0 : -1;
      }
      auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
      const auto ka = Key(t.type, t.length, a, false);
      const auto kb = Key(t.type, t.length, b, false);
      ASSERT_EQ(sign(std::memcmp(ka.data(), kb.data(), ka.size())), expected);
      const auto da = Key(t.type, t.length, a, true);
      const auto db = Key(t.type, t.length, b, true);
      ASSERT_EQ(sign(std::memcmp(da.data(), db.data(), da.size())), -expected);
      if (t.type == kFldString) {
        ASSERT_EQ(da.back(), 0);  // the terminator stays 0
      }
    }
  }
}

TEST(FieldKeys, CaseInsensitiveStringsShareAnImage) {
  const KeyedValue lower{false, {'a', 'b', 'c', 0, 0, 0}};
  const KeyedValue upper{false, {'A', 'B', 'C', 0, 0, 0}};
  EXPECT_EQ(Key(kFldString, 6, lower, false, true), Key(kFldString, 6, upper, false, true));
  EXPECT_NE(Key(kFldString, 6, lower, false, false), Key(kFldString, 6, upper, false, false));
  std::vector<uint8_t> key(7, 0);
  key[0] = kPresent;
  BuildFieldKey(kFldString, 6, lower.stored.data(), key.data(), 0, kUsEnglishLcid, false, true);
  EXPECT_EQ(key[1], 'A');
}

TEST(FieldKeys, DescendingInvertsOnlyForLanguageZero) {
  const KeyedValue v = Value(int32_t{5});
  const auto up = Key(kFldInteger, 4, v, false);
  const auto down = Key(kFldInteger, 4, v, true);
  for (size_t i = 0; i < up.size(); ++i) EXPECT_EQ(down[i], static_cast<uint8_t>(~up[i]));
  std::vector<uint8_t> other(5, 0);
  other[0] = kPresent;
  BuildFieldKey(kFldInteger, 4, v.stored.data(), other.data(), 0, 0x0409, true, false);
  EXPECT_EQ(other, up);
}

TEST(FieldKeys, LongStringIsCutBeforeTheTerminator) {
  const char text[] = "abcdefghij";
  std::vector<uint8_t> key(5, 0xEE);
  key[0] = kPresent;
  BuildFieldKey(kFldString, 4, text, key.data(), 0, 0, false, false);
  EXPECT_EQ(key, (std::vector<uint8_t>{kPresent, 'a', 'b', 'c', 0}));
}

TEST(FieldKeys, OtherTypesCopyTheirBytes) {
  const uint8_t bytes[] = {3, 1, 2};
  std::vector<uint8_t> key(4, 0);
  BuildFieldKey(kFldBytes, 3, bytes, key.data(), 0, 0, false, false);
  EXPECT_EQ(key, (std::vector<uint8_t>{0, 3, 1, 2}));
}

}  // namespace
}  // namespace jw
