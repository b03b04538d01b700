#include "platform/rtl/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "platform/rtl/format_settings.h"

namespace jw {
namespace {

class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { FormatSettings() = DefaultFormatSettings(); }
  void TearDown() override { FormatSettings() = DefaultFormatSettings(); }
};

std::string CastText(const std::string& from, const std::string& to) {
  return "Could not convert variant of type (" + from + ") into type (" + to + ")";
}

Variant Cur(int64_t raw) {
  return Variant(Currency::FromRaw(raw));
}

// Runs a conversion and gives either its result or the error text.
template <class T>
std::variant<T, std::string> Convert(const std::function<T()>& conversion) {
  try {
    return conversion();
  } catch (const EVariantError& e) {
    return e.Message();
  }
}

// --- Types -----------------------------------------------------------------

TEST_F(VariantTest, ConstructorsChooseTheType) {
  struct Case {
    Variant value;
    TVarType type;
  };
  const Case cases[] = {
      {Variant(), varEmpty},
      {Null(), varNull},
      {Unassigned(), varEmpty},
      {Variant(true), varBoolean},
      {Variant(int16_t{-3}), varSmallint},
      {Variant(uint16_t{65535}), varWord},
      {Variant(7), varInteger},
      {Variant(int64_t{7}), varInt64},
      {Variant(7LL), varInt64},
      {Variant(1.5), varDouble},
      {Cur(15000), varCurrency},
      {Variant("text"), varString},
      {Variant(std::string("text")), varString},
      {VarFromDateTime(2.5), varDate},
      {VarArrayOf({1, "a"}), static_cast<TVarType>(varArray | varVariant)},
  };
  for (const Case& c : cases) EXPECT_EQ(VarType(c.value), c.type) << VarTypeAsText(c.type);
}

TEST_F(VariantTest, NullAndEmptyTests) {
  EXPECT_TRUE(VarIsNull(Null()));
  EXPECT_FALSE(VarIsNull(Variant()));
  EXPECT_TRUE(VarIsEmpty(Variant()));
  EXPECT_FALSE(VarIsEmpty(Null()));
  EXPECT_FALSE(VarIsNull(Variant(0)));
  EXPECT_FALSE(VarIsEmpty(Variant("")));
}

// --- Conversions -------------------------------------------------------------

TEST_F(VariantTest, ToInteger) {
  struct Case {
    Variant value;
    std::variant<int32_t, std::string> expected;
  };
  const Case cases[] = {
      {Variant(), 0},
      {Variant(true), -1},
      {Variant(false), 0},
      {Variant(int16_t{-32768}), -32768},
      {Variant(uint16_t{65535}), 65535},
      {Variant(int64_t{2147483647}), 2147483647},
      {Variant(int64_t{2147483648}), CastText("Int64", "Integer")},
      {Variant(int64_t{-2147483649}), CastText("Int64", "Integer")},
      {Variant(2.5), 2},
      {Variant(3.5), 4},
      {Variant(-2.5), -2},
      {Variant(2.4999), 2},
      {Variant(3e9), CastText("Double", "Integer")},
      {Variant(std::nan("")), CastText("Double", "Integer")},
      {Cur(15000), 2},
      {Cur(25000), 2},
      {Cur(-15001), -2},
      {VarFromDateTime(2.75), 3},
      {Variant("42"), 42},
      {Variant(" -42 "), -42},
      {Variant("$1F"), 31},
      {Variant("4.5"), 4},
      {Variant("5.5"), 6},
      {Variant("1e3"), 1000},
      {Variant("2147483648"), CastText("String", "Integer")},
      {Variant("abc"), CastText("String", "Integer")},
      {Variant(""), CastText("String", "Integer")},
      {Null(), CastText("Null", "Integer")},
      {VarArrayOf({1}), CastText("Array Variant", "Integer")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert<int32_t>([&] { return c.value.AsInteger(); }), c.expected)
        << VarToStr(c.value);
  }
}

TEST_F(VariantTest, ToInt64) {
  struct Case {
    Variant value;
    std::variant<int64_t, std::string> expected;
  };
  const Case cases[] = {
      {Variant(int64_t{-9223372036854775807 - 1}), int64_t{-9223372036854775807 - 1}},
      {Variant("9223372036854775807"), int64_t{9223372036854775807}},
      {Variant(9.2233720368547758e18), CastText("Double", "Int64")},
      {Variant(-9.2233720368547758e18), int64_t{-9223372036854775807 - 1}},
      {Cur(std::numeric_limits<int64_t>::max()), int64_t{922337203685478}},
      {Null(), CastText("Null", "Int64")},
      {Variant("x"), CastText("String", "Int64")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert<int64_t>([&] { return c.value.AsInt64(); }), c.expected) << VarToStr(c.value);
  }
}

TEST_F(VariantTest, ToDouble) {
  struct Case {
    Variant value;
    std::variant<double, std::string> expected;
  };
  const Case cases[] = {
      {Variant(), 0.0},
      {Variant(true), -1.0},
      {Variant(int64_t{1} << 53), 9007199254740992.0},
      {Cur(12345), 1.2345},
      {VarFromDateTime(-1.25), -1.25},
      {Variant("1.5e3"), 1500.0},
      {Variant(" 0.25 "), 0.25},
      {Variant("1,5"), CastText("String", "Double")},
      {Null(), CastText("Null", "Double")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert<double>([&] { return c.value.AsDouble(); }), c.expected) << VarToStr(c.value);
  }
}

TEST_F(VariantTest, ToDoubleReadsTheCurrentDecimalSeparator) {
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant("1,5").AsDouble(), 1.5);
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
}

TEST_F(VariantTest, ToBoolean) {
  struct Case {
    Variant value;
    std::variant<bool, std::string> expected;
  };
  const Case cases[] = {
      {Variant(), false},
      {Variant(0), false},
      {Variant(-1), true},
      {Variant(2), true},
      {Variant(0.0), false},
      {Variant(0.1), true},
      {Cur(0), false},
      {Cur(1), true},
      {Variant("True"), true},
      {Variant("tRUE"), true},
      {Variant("FALSE"), false},
      {Variant("0"), false},
      {Variant("2.5"), true},
      {Variant("yes"), CastText("String", "Boolean")},
      {Null(), CastText("Null", "Boolean")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert<bool>([&] { return c.value.AsBoolean(); }), c.expected) << VarToStr(c.value);
  }
}

TEST_F(VariantTest, ToCurrency) {
  struct Case {
    Variant value;
    std::variant<int64_t, std::string> expected_raw;
  };
  const Case cases[] = {
      {Variant(), int64_t{0}},
      {Variant(true), int64_t{-10000}},
      {Variant(12), int64_t{120000}},
      {Variant(1.23456), int64_t{12346}},
      {Variant(0.00005), int64_t{0}},  // ties to even
      {Variant("1.23455"), int64_t{12346}},
      {Variant("-0.5"), int64_t{-5000}},
      {Variant(int64_t{1000000000000000}), CastText("Int64", "Currency")},
      {Variant(1e300), CastText("Double", "Currency")},
      {Variant("abc"), CastText("String", "Currency")},
      {Null(), CastText("Null", "Currency")},
  };
  for (const Case& c : cases) {
    auto result = Convert<int64_t>([&] { return c.value.AsCurrency().Raw(); });
    EXPECT_EQ(result, c.expected_raw) << VarToStr(c.value);
  }
}

TEST_F(VariantTest, ToString) {
  struct Case {
    Variant value;
    std::variant<std::string, std::string> expected;  // text, or error text
  };
  using Result = std::variant<std::string, std::string>;
  const Case cases[] = {
      {Variant(), Result(std::in_place_index<0>, "")},
      {Variant(true), Result(std::in_place_index<0>, "True")},
      {Variant(false), Result(std::in_place_index<0>, "False")},
      {Variant(int16_t{-7}), Result(std::in_place_index<0>, "-7")},
      {Variant(int64_t{-9223372036854775807 - 1}),
       Result(std::in_place_index<0>, "-9223372036854775808")},
      {Variant(0.1), Result(std::in_place_index<0>, "0.1")},
      {Variant(1e20), Result(std::in_place_index<0>, "1E+20")},
      {Cur(125000), Result(std::in_place_index<0>, "12.5")},
      {VarFromDateTime(2.0), Result(std::in_place_index<0>, "1900-01-01")},
      {VarFromDateTime(2.5), Result(std::in_place_index<0>, "1900-01-01 12:00:00")},
      {VarFromDateTime(1e9), Result(std::in_place_index<1>, CastText("Date", "String"))},
      {Variant("as is "), Result(std::in_place_index<0>, "as is ")},
      {Null(), Result(std::in_place_index<1>, CastText("Null", "String"))},
      {VarArrayOf({}), Result(std::in_place_index<1>, CastText("Array Variant", "String"))},
  };
  for (const Case& c : cases) {
    Result result;
    try {
      result = Result(std::in_place_index<0>, c.value.AsString());
    } catch (const EVariantError& e) {
      result = Result(std::in_place_index<1>, e.Message());
    }
    EXPECT_EQ(result, c.expected) << VarTypeAsText(c.value.VarType());
  }
}

TEST_F(VariantTest, VarToStrGivesEmptyTextForNull) {
  EXPECT_EQ(VarToStr(Null()), "");
  EXPECT_EQ(VarToStr(Variant(5)), "5");
}

TEST_F(VariantTest, ToDateTime) {
  struct Case {
    Variant value;
    std::variant<double, std::string> expected;
  };
  const Case cases[] = {
      {Variant(), 0.0},
      {Variant(3), 3.0},
      {VarFromDateTime(-1.25), -1.25},
      {Variant("1900-01-01"), 2.0},
      {Variant("1900-01-01 06:00"), 2.25},
      {Variant("2.5"), CastText("String", "Date")},
      {Variant("not a date"), CastText("String", "Date")},
      {Null(), CastText("Null", "Date")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert<double>([&] { return c.value.AsDateTime(); }), c.expected)
        << VarToStr(c.value);
  }
}

// --- Arrays ----------------------------------------------------------------

TEST_F(VariantTest, ArraysHoldElementsFromZero) {
  Variant values = VarArrayOf({10, "x", Null()});
  EXPECT_TRUE(VarIsArray(values));
  EXPECT_FALSE(VarIsArray(Variant(1)));
  EXPECT_EQ(VarArrayLowBound(values, 1), 0);
  EXPECT_EQ(VarArrayHighBound(values, 1), 2);
  EXPECT_EQ(VarArrayHighBound(VarArrayOf({}), 1), -1);
  EXPECT_EQ(values[0].AsInteger(), 10);
  EXPECT_EQ(values[1].AsString(), "x");
  EXPECT_TRUE(VarIsNull(values[2]));
  values[1] = Variant(2.5);
  EXPECT_EQ(values[1].VarType(), varDouble);
  const Variant copy = values;
  values[0] = Variant(11);
  EXPECT_EQ(copy[0].AsInteger(), 10);
}

TEST_F(VariantTest, ArrayMisuseRaises) {
  const Variant values = VarArrayOf({1, 2});
  const Variant single(1);
  struct Case {
    std::function<void()> action;
    std::string message;
  };
  const Case cases[] = {
      {[&] { values[2]; }, "Variant or safe array index out of bounds"},
      {[&] { values[-1]; }, "Variant or safe array index out of bounds"},
      {[&] { single[0]; }, "Variant is not an array"},
      {[&] { VarArrayHighBound(single, 1); }, "Variant is not an array"},
      {[&] { VarArrayHighBound(values, 2); }, "Variant array bounds error"},
      {[&] { VarArrayLowBound(values, 0); }, "Variant array bounds error"},
  };
  for (const Case& c : cases) {
    try {
      c.action();
      ADD_FAILURE() << c.message;
    } catch (const EVariantError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

// --- Comparison ------------------------------------------------------------

// Arrays nested `levels` deep around the value 7, built by ArrayOf or by
// assigning each array into a new one's element.
Variant Nested(int levels, bool by_assignment) {
  Variant value(7);
  for (int i = 0; i < levels; ++i) {
    if (by_assignment) {
      Variant outer = VarArrayOf({Variant()});
      outer[0] = std::move(value);
      value = std::move(outer);
    } else {
      value = VarArrayOf({value, 1});
    }
  }
  return value;
}

TEST_F(VariantTest, ArrayNestingIsBoundedWithAnError) {
  const std::string too_deep = "Variant arrays nest deeper than 100 levels";
  EXPECT_EQ(VarCompare(Nested(100, false), Nested(100, false)), 0);
  EXPECT_EQ(VarCompare(Nested(100, true), Nested(100, true)), 0);
  EXPECT_EQ(Convert<int>([] { return Nested(101, false).ElementCount(); }),
            (std::variant<int, std::string>(too_deep)));
  // Assignment can build deeper arrays; comparing them stops at the bound
  // (10,000 levels used to overflow the stack).
  for (const int levels : {101, 10'000}) {
    const Variant a = Nested(levels, true);
    const Variant b = Nested(levels, true);
    EXPECT_EQ(Convert<int>([&] { return VarCompare(a, b); }),
              (std::variant<int, std::string>(too_deep)))
        << levels;
  }
}

TEST_F(VariantTest, CompareOrdersAndIsAntisymmetric) {
  const double nan = std::nan("");
  struct Case {
    Variant a;
    Variant b;
    int expected;
  };
  const Case cases[] = {
      // empty, null and their place
      {Variant(), Variant(), 0},
      {Null(), Null(), 0},
      {Variant(), Null(), -1},
      {Null(), Variant(0), -1},
      {Null(), Variant(""), -1},
      {Variant(), Variant(0), -1},
      // numbers across types
      {Variant(1), Variant(1.0), 0},
      {Variant(int16_t{5}), Variant(uint16_t{5}), 0},
      {Variant(int64_t{5}), Variant(4.5), 1},
      {Variant(1), Cur(10000), 0},
      {Variant(2), Cur(15000), 1},
      {Cur(15000), Variant(1.5), 0},
      {Variant(int64_t{9223372036854775807}), Cur(std::numeric_limits<int64_t>::max()), 1},
      {Variant(int64_t{-9223372036854775807 - 1}), Cur(std::numeric_limits<int64_t>::min()), -1},
      {Variant(int64_t{9007199254740993}), Variant(9007199254740992.0), 1},
      {VarFromDateTime(2.5), Variant(2.5), 0},
      {VarFromDateTime(2.0), Variant(3), -1},
      {Variant(nan), Variant(nan), 0},
      {Variant(nan), Variant(1e308), 1},
      // booleans
      {Variant(false), Variant(true), -1},
      {Variant(true), Variant(true), 0},
      {Variant(true), Variant(-1), 0},
      {Variant(false), Variant(0.0), 0},
      // strings
      {Variant("abc"), Variant("abd"), -1},
      {Variant("a"), Variant("A"), 1},
      {Variant("ab"), Variant("abc"), -1},
      {Variant(""), Variant(""), 0},
      {Variant("\xC3\xA9"), Variant("z"), 1},
      // a string against a number reads as a number when it can
      {Variant("10"), Variant(9), 1},
      {Variant("1.50"), Variant(1.5), 0},
      {Variant("2"), Cur(20000), 0},
      {Variant("x"), Variant(5), 1},
      {Variant("1900-01-01"), VarFromDateTime(2.0), 0},
      {Variant("1900-01-02"), VarFromDateTime(2.0), 1},
      // arrays
      {VarArrayOf({1, "a"}), VarArrayOf({1.0, "a"}), 0},
      {VarArrayOf({1}), VarArrayOf({1, 2}), -1},
      {VarArrayOf({2}), VarArrayOf({1, 2}), 1},
      {VarArrayOf({Null()}), VarArrayOf({Null()}), 0},
      {VarArrayOf({}), Variant(1), 1},
      {VarArrayOf({}), Null(), 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VarCompare(c.a, c.b), c.expected) << VarToStr(c.a) << " vs " << VarToStr(c.b);
    EXPECT_EQ(VarCompare(c.b, c.a), -c.expected) << VarToStr(c.b) << " vs " << VarToStr(c.a);
    EXPECT_EQ(c.a == c.b, c.expected == 0) << VarToStr(c.a) << " == " << VarToStr(c.b);
  }
}

}  // namespace
}  // namespace jw
