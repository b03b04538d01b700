// Floats compared by the evaluator against the order of their key images:
// an index range (which compares images) and a filter (which evaluates the
// comparison) must give the same answer for every pair of values, the zeros,
// denormals, infinities and NaNs of any sign and payload included.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/expr/expression_operators.h"
#include "engine/expr/expression_tokens.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "tests/engine/expr/expression_eval_util.h"

namespace jw {
namespace {

using test_support::ParseAndBind;
using test_support::TestTable;
using test_support::ValueToText;

int KeyOrder(double a, double b) {
  uint8_t ia[8];
  uint8_t ib[8];
  EncodeFloatKey(a, ia);
  EncodeFloatKey(b, ib);
  const int c = std::memcmp(ia, ib, 8);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// A float operand, or an integer one when the value is a whole number that
// is asked for as an integer.
TExpToken* Operand(double value, bool as_integer) {
  TExpToken* token = GetToken();
  token->Kind = kTokenConstant;
  if (as_integer) {
    token->Type = kFldInteger;
    token->SetValueSize(4);
    StoreValue<int32_t>(token->Value(), static_cast<int32_t>(value));
  } else {
    token->Type = kFldFloat;
    token->SetValueSize(8);
    StoreValue<double>(token->Value(), value);
  }
  return token;
}

bool Evaluated(uint8_t op, double a, bool a_integer, double b, bool b_integer) {
  TExpToken* left = Operand(a, a_integer);
  TExpToken* right = Operand(b, b_integer);
  TExpToken* result = GetToken();
  result->Type = kFldBoolean;
  result->SetValueSize(2);
  EvaluateBinary(op, *left, *right, 0, 0, *result);
  const bool value = LoadValue<int16_t>(result->Value()) != 0;
  ReleaseToken(result);
  ReleaseToken(right);
  ReleaseToken(left);
  return value;
}

// Each comparison operator with the answers it gives when the left value
// sorts below, equal to and above the right one.
struct OperatorAnswers {
  uint8_t op;
  bool below, equal, above;
};
constexpr OperatorAnswers kOperators[] = {
    {kOpEqual, false, true, false},         {kOpNotEqual, true, false, true},
    {kOpGreater, false, false, true},       {kOpLess, true, false, false},
    {kOpGreaterOrEqual, false, true, true}, {kOpLessOrEqual, true, true, false},
};

bool Expected(const OperatorAnswers& answers, int order) {
  return order < 0 ? answers.below : (order == 0 ? answers.equal : answers.above);
}

TEST(FloatOrder, EvaluatorComparisonsAgreeWithKeyImageOrder) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {
      -inf,
      -DBL_MAX,
      -5.0,
      -DBL_MIN,
      -std::numeric_limits<double>::denorm_min(),
      -0.0,
      0.0,
      std::numeric_limits<double>::denorm_min(),
      1e-310,
      DBL_MIN,
      5.0,
      DBL_MAX,
      inf,
      std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::quiet_NaN(),
      std::bit_cast<double>(0x7FF0000000000001ull),  // signalling, smallest payload
      std::bit_cast<double>(0xFFF0000000000123ull),  // negative, with a payload
  };
  for (const double a : values) {
    for (const double b : values) {
      const int order = KeyOrder(a, b);
      for (const OperatorAnswers& answers : kOperators) {
        ASSERT_EQ(Evaluated(answers.op, a, false, b, false), Expected(answers, order))
            << a << " op " << int(answers.op) << " " << b;
      }
    }
    // Against integers the float order holds as well.
    for (const double n : {-5.0, 0.0, 5.0}) {
      for (const OperatorAnswers& answers : kOperators) {
        ASSERT_EQ(Evaluated(answers.op, a, false, n, true), Expected(answers, KeyOrder(a, n)))
            << a << " op " << int(answers.op) << " integer " << n;
        ASSERT_EQ(Evaluated(answers.op, n, true, a, false), Expected(answers, KeyOrder(n, a)))
            << "integer " << n << " op " << int(answers.op) << " " << a;
      }
    }
  }

  // Through parsing and binding, on a float column holding NaN.
  TestTable table("fn 7 8 0 = nan; fi 7 8 0 = inf");
  const std::pair<const char*, const char*> filters[] = {
      {"fn = 5", "False"}, {"fn <> fn", "False"}, {"fn = fn", "True"},
      {"fn > fi", "True"}, {"fn < 5", "False"},   {"fn BETWEEN 0 AND 1e308", "False"},
  };
  for (const auto& [text, expected] : filters) {
    TExpToken* tree = ParseAndBind(text, table, true);
    TExpToken* result = EvaluateExpression(tree, nullptr, &table, 0, 0, &TestTable::Value);
    EXPECT_EQ(ValueToText(*result), expected) << text;
    ReleaseToken(result);
    FreeTokenTree(tree);
  }
}

}  // namespace
}  // namespace jw
