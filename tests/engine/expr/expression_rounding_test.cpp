// Rounding to decimal places: ROUND, FloatToBcd and CAST to BCD must agree
// with each other and with exact arithmetic on values that lie exactly on a
// decimal half, where halves round away from zero.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/support/value_conversions.h"
#include "tests/engine/expr/expression_eval_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::TestTable;

TExpToken* Evaluate(const std::string& text) {
  TestTable table("");
  TExpToken* tree = ParseAndBind(text, table);
  TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
  FreeTokenTree(tree);
  return result;
}

TEST(DecimalRounding, HalvesRoundAwayFromZeroInRoundFloatToBcdAndCast) {
  // odd / 2^(scale+1) times 10^scale is odd * 5^scale / 2: always exactly a
  // half, and the value is exact in binary, so the rounded result is known.
  const int64_t limit = std::getenv("JW_LONG_TESTS") != nullptr ? 200001 : 2001;
  for (int32_t scale = 0; scale <= 4; ++scale) {
    int64_t five_power = 1;
    int64_t ten_power = 1;
    for (int32_t i = 0; i < scale; ++i) {
      five_power *= 5;
      ten_power *= 10;
    }
    for (int64_t odd = -limit; odd <= limit; odd += 2) {
      const double value = static_cast<double>(odd) / static_cast<double>(int64_t{2} << scale);
      const int64_t doubled = odd * five_power;  // 2 x value x 10^scale
      const int64_t rounded = (doubled + (odd > 0 ? 1 : -1)) / 2;
      const double expected = static_cast<double>(rounded) / static_cast<double>(ten_power);
      const int64_t magnitude = (rounded < 0 ? -rounded : rounded) * 10 + scale;
      const int64_t expected_bcd = rounded < 0 ? -magnitude : magnitude;
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", value);
      SCOPED_TRACE(std::string(text) + " to " + std::to_string(scale));

      ASSERT_EQ(RoundFloat(scale, value), expected);
      ASSERT_EQ(FloatToBcd(scale, value), expected_bcd);
      TExpToken* round =
          Evaluate("ROUND(" + std::string(text) + " TO " + std::to_string(scale) + ")");
      ASSERT_EQ(LoadValue<double>(round->Value()), expected);
      ReleaseToken(round);
      TExpToken* cast =
          Evaluate("CAST(" + std::string(text) + " AS DECIMAL(18, " + std::to_string(scale) + "))");
      ASSERT_EQ(LoadValue<int64_t>(cast->Value()), expected_bcd);
      ReleaseToken(cast);
    }
  }
  // The cases that repeated multiplication by 0.1 got wrong.
  EXPECT_EQ(RoundFloat(2, 0.125), 0.13);
  EXPECT_EQ(RoundFloat(2, 465.625), 465.63);
  EXPECT_EQ(FloatToBcd(2, 0.125), 132);
}

}  // namespace
}  // namespace jw
