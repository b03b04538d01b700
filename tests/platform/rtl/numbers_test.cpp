#include "platform/rtl/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "platform/rtl/format_settings.h"
#include "tests/support/error_text.h"
#include "tests/support/format_settings_scope.h"

namespace jw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

using SettingsScope = test_support::FormatSettingsScope;

using test_support::ErrorText;

TEST(Rounding, RoundTiesToEven) {
  struct Case {
    double value;
    int64_t expected;
  };
  const Case cases[] = {{0.5, 0},
                        {1.5, 2},
                        {2.5, 2},
                        {-0.5, 0},
                        {-1.5, -2},
                        {-2.5, -2},
                        {2.4, 2},
                        {2.6, 3},
                        {-2.6, -3},
                        {0.49999999999999994, 0},
                        {1e15 + 0.5, 1000000000000000},
                        {4503599627370497.0, 4503599627370497},
                        {-9223372036854775808.0, kInt64Min}};
  for (const Case& c : cases) EXPECT_EQ(Round(c.value), c.expected) << c.value;
}

TEST(Rounding, TruncCutsTowardZero) {
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Trunc(-2.9), -2);
  EXPECT_EQ(Trunc(-0.1), 0);
  EXPECT_EQ(Trunc(9223372036854774784.0), 9223372036854774784);
}

TEST(Rounding, OutOfRangeRaisesInsteadOfUndefinedBehaviour) {
  const double cases[] = {kNaN, kInf, -kInf, 9223372036854775808.0, -9223372036854777856.0, 1e300};
  for (double v : cases) {
    EXPECT_EQ(ErrorText([&] { Round(v); }), "Invalid floating point operation") << v;
    EXPECT_EQ(ErrorText([&] { Trunc(v); }), "Invalid floating point operation") << v;
    EXPECT_THROW(Round(v), EConvertError);
  }
}

TEST(CurrencyValue, ConvertsFromDoubleToTheNearestTenThousandth) {
  struct Case {
    double value;
    int64_t raw;
  };
  const Case cases[] = {{12.5, 125000},    {-0.5, -5000},
                        {0.0001, 1},       {0.000049, 0},
                        {0.000051, 1},     {0.000149, 1},
                        {-0.000151, -2},   {2.345, 23450},
                        {0.1 + 0.2, 3000}, {922337203685.0, 9223372036850000}};
  for (const Case& c : cases) EXPECT_EQ(Currency::FromDouble(c.value).Raw(), c.raw) << c.value;
}

TEST(CurrencyValue, RefusesDoublesOutsideItsRange) {
  const double cases[] = {kNaN, kInf, -kInf, 922337203685477.6, -922337203685477.7, 1e19};
  for (double v : cases) {
    EXPECT_EQ(ErrorText([&] { Currency::FromDouble(v); }), "Invalid floating point operation") << v;
  }
}

TEST(CurrencyValue, IntegerConversionsAreChecked) {
  EXPECT_EQ(Currency::FromInt64(7).Raw(), 70000);
  EXPECT_EQ(Currency::FromInt64(-922337203685477).Raw(), -9223372036854770000);
  EXPECT_EQ(ErrorText([] { Currency::FromInt64(922337203685478); }), "Integer overflow");
  EXPECT_THROW(Currency::FromInt64(kInt64Min), EIntOverflow);
  EXPECT_DOUBLE_EQ(Currency::FromRaw(125000).ToDouble(), 12.5);
  EXPECT_EQ(Round(Currency::FromRaw(25000)), 2);
  EXPECT_EQ(Round(Currency::FromRaw(35000)), 4);
  EXPECT_EQ(Round(Currency::FromRaw(-25000)), -2);
  EXPECT_EQ(Round(Currency::FromRaw(-25001)), -3);
  EXPECT_EQ(Round(Currency::FromRaw(kInt64Min)), -922337203685478);
  EXPECT_EQ(Trunc(Currency::FromRaw(-29999)), -2);
  EXPECT_EQ(Trunc(Currency::FromRaw(kInt64Max)), 922337203685477);
}

TEST(CurrencyValue, ArithmeticRoundsToEvenAndChecksOverflow) {
  const Currency a = Currency::FromRaw(15000);  // 1.5
  const Currency b = Currency::FromRaw(3);      // 0.0003
  EXPECT_EQ((a + b).Raw(), 15003);
  EXPECT_EQ((b - a).Raw(), -14997);
  EXPECT_EQ((a * a).Raw(), 22500);
  // 1.5 x 0.0003 = 0.00045: a tie between 4 and 5 ten-thousandths.
  EXPECT_EQ((a * b).Raw(), 4);
  EXPECT_EQ((Currency::FromRaw(5000) * b).Raw(), 2);  // 0.00015 -> 0.0002
  EXPECT_EQ((-a * b).Raw(), -4);
  EXPECT_EQ((Currency::FromRaw(10000) / Currency::FromRaw(30000)).Raw(), 3333);
  EXPECT_EQ((Currency::FromRaw(20000) / Currency::FromRaw(30000)).Raw(), 6667);
  EXPECT_EQ((Currency::FromRaw(-20000) / Currency::FromRaw(30000)).Raw(), -6667);
  EXPECT_EQ((Currency::FromRaw(1) / Currency::FromRaw(20000)).Raw(), 0);  // 0.00005 -> 0
  EXPECT_EQ((Currency::FromRaw(3) / Currency::FromRaw(20000)).Raw(), 2);  // 0.00015 -> 0.0002
  const Currency max = Currency::FromRaw(kInt64Max);
  const Currency min = Currency::FromRaw(kInt64Min);
  EXPECT_EQ(ErrorText([&] { (void)(max + b); }), "Integer overflow");
  EXPECT_THROW((void)(min - b), EIntOverflow);
  EXPECT_THROW((void)(-min), EIntOverflow);
  EXPECT_THROW((void)(max * a), EIntOverflow);
  EXPECT_THROW((void)(max / b), EIntOverflow);
  EXPECT_EQ(ErrorText([&] { (void)(a / Currency()); }), "Division by zero");
  EXPECT_THROW((void)(a / Currency()), EDivByZero);
  Currency sum = a;
  sum += b;
  sum -= a;
  EXPECT_EQ(sum, b);
  EXPECT_LT(min, b);
}

TEST(FloatText, FloatToStrUsesFifteenDigitsAndStatedExponentRange) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-1.5, "-1.5"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {2.675, "2.675"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {123456789012345.0, "123456789012345"},
      {999999999999999.0, "999999999999999"},
      {999999999999999.9, "1E+15"},
      {1e15, "1E+15"},
      {1.5e20, "1.5E+20"},
      {-1.5e20, "-1.5E+20"},
      {1e100, "1E+100"},
      {1.7976931348623157e308, "1.79769313486232E+308"},
      {0.00001, "0.00001"},
      {0.000012345, "0.000012345"},
      {0.000009999999999999999, "0.00001"},
      {0.000001, "1E-6"},
      {-1.25e-7, "-1.25E-7"},
      {5e-324, "4.94065645841247E-324"},
      {kNaN, "NAN"},
      {kInf, "INF"},
      {-kInf, "-INF"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStr(c.value), c.expected) << c.expected;
}

TEST(FloatText, FloatToStrUsesTheDecimalSeparator) {
  SettingsScope scope;
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(FloatToStr(-1234.5), "-1234,5");
  EXPECT_EQ(FloatToStr(2.5e-9), "2,5E-9");
}

TEST(FloatText, StrToFloatAcceptsTheDocumentedSyntax) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"1.5", 1.5},
      {" -1.5 ", -1.5},
      {"+2", 2},
      {".5", 0.5},
      {"5.", 5},
      {"1e3", 1000},
      {"1.5E+3", 1500},
      {"1.5e-3", 0.0015},
      {"\t12\t", 12},
      {"0000.1000", 0.1},
      {"1E308", 1e308},
      {"0.1", 0.1},
      {"1e-400", 0},
      {"123456789012345678901234567890", 1.2345678901234568e29},
      {"4.9406564584124654E-324", 5e-324},
      {"2.2250738585072014E-308", 2.2250738585072014e-308},
      {"1e0000000000000000000001", 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToFloat(c.text), c.expected) << c.text;
    double value = -1;
    EXPECT_TRUE(TryStrToFloat(c.text, value)) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
  }
  EXPECT_TRUE(std::signbit(StrToFloat("-0")));
}

TEST(FloatText, StrToFloatRejectsWithTheTextQuoted) {
  const char* const cases[] = {"",    " ",     "-",     ".",      "e5",   "1e",
                               "1e+", "1.5.2", "1,5",   "1 5",    "0x10", "$10",
                               "NAN", "INF",   "1e309", "-1e400", "1.5x", "++1"};
  for (const char* text : cases) {
    EXPECT_EQ(ErrorText([&] { StrToFloat(text); }),
              "'" + std::string(text) + "' is not a valid floating point value")
        << text;
    double value = 42;
    EXPECT_FALSE(TryStrToFloat(text, value)) << text;
    EXPECT_EQ(value, 42) << text;
  }
}

TEST(FloatText, StrToFloatReadsTheCurrentDecimalSeparatorOnly) {
  SettingsScope scope;
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(StrToFloat("1,25"), 1.25);
  EXPECT_THROW(StrToFloat("1.25"), EConvertError);
}

TEST(FloatText, FloatToStrReadsBackWithinFifteenDigits) {
  const int count = std::getenv("JW_LONG_TESTS") ? 200000 : 2000;
  std::mt19937_64 random(20240601);
  for (int i = 0; i < count; ++i) {
    const double mantissa = std::uniform_real_distribution<double>(-10, 10)(random);
    const int exponent = std::uniform_int_distribution<int>(-300, 300)(random);
    const double value = mantissa * std::pow(10.0, exponent);
    const double back = StrToFloat(FloatToStr(value));
    ASSERT_LE(std::fabs(back - value), std::fabs(value) * 1e-14) << FloatToStr(value);
  }
}

TEST(CurrencyText, CurrToStrIsExactWithUpToFourDecimals) {
  struct Case {
    int64_t raw;
    const char* expected;
  };
  const Case cases[] = {{0, "0"},
                        {125000, "12.5"},
                        {-5000, "-0.5"},
                        {1, "0.0001"},
                        {-1, "-0.0001"},
                        {70000, "7"},
                        {kInt64Max, "922337203685477.5807"},
                        {kInt64Min, "-922337203685477.5808"}};
  for (const Case& c : cases) {
    EXPECT_EQ(CurrToStr(Currency::FromRaw(c.raw)), c.expected);
    EXPECT_EQ(StrToCurr(c.expected).Raw(), c.raw) << c.expected;
  }
}

TEST(CurrencyText, StrToCurrReadsExactlyAndRoundsToEven) {
  struct Case {
    const char* text;
    int64_t raw;
  };
  const Case cases[] = {{"12.5", 125000},
                        {" -0.5 ", -5000},
                        {"0.00005", 0},
                        {"0.00015", 2},
                        {"0.000150001", 2},
                        {"0.00025", 2},
                        {"0.000250001", 3},
                        {"-0.00015", -2},
                        {"1e3", 10000000},
                        {"1.23456e2", 1234560},
                        {"123456e-6", 1235},
                        {"0.1", 1000},
                        {"922337203685477.58074", kInt64Max},
                        {"1e-999999999999", 0},
                        {"-922337203685477.5808", kInt64Min}};
  for (const Case& c : cases) {
    EXPECT_EQ(StrToCurr(c.text).Raw(), c.raw) << c.text;
    Currency value;
    EXPECT_TRUE(TryStrToCurr(c.text, value)) << c.text;
    EXPECT_EQ(value.Raw(), c.raw) << c.text;
  }
}

TEST(CurrencyText, StrToCurrRejectsBadTextAndOutOfRange) {
  const char* const cases[] = {"",
                               "abc",
                               "1.2.3",
                               "922337203685477.5808",
                               "922337203685477.58075",
                               "-922337203685477.5809",
                               "1e15",
                               "1e99999999999",
                               "12,5"};
  for (const char* text : cases) {
    EXPECT_EQ(ErrorText([&] { StrToCurr(text); }),
              "'" + std::string(text) + "' is not a valid floating point value")
        << text;
    Currency value = Currency::FromRaw(9);
    EXPECT_FALSE(TryStrToCurr(text, value)) << text;
    EXPECT_EQ(value.Raw(), 9);
  }
}

TEST(FormatFloatPatterns, DigitsSeparatorsAndLiterals) {
  struct Case {
    const char* pattern;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"##############0.00", 0.5, "0.50"},
      {"##############0.00", 12.345, "12.35"},
      {"##############0.00", 2.675, "2.68"},
      {"##############0.00", -12.345, "-12.35"},
      {"##############0", 12.5, "13"},
      {"##############0", -12.5, "-13"},
      {"##############0", 1e20, "100000000000000000000"},
      {"##############0.0", 123456789012345678.0, "123456789012346000.0"},
      {"0", 0, "0"},
      {"0", 0.4, "0"},
      {"0", -0.4, "0"},
      {"0.00", -0.001, "0.00"},
      {"#", 0, ""},
      {"#.##", 0.5, ".5"},
      {"0.##", 1, "1"},
      {"0.##", 1.5, "1.5"},
      {"0.0#", 1, "1.0"},
      {"0.0#", 1.256, "1.26"},
      {"000", 7, "007"},
      {"00", 12345, "12345"},
      {"#,##0", 1234567, "1,234,567"},
      {"#,##0.00", -1234.5, "-1,234.50"},
      {"#,##0", 123, "123"},
      {"#,##0", 1000, "1,000"},
      {"0,000", 5, "0,005"},
      {"00-00", 1234, "12-34"},
      {"00-00", 123456, "1234-56"},
      {"\"$\"#,##0.00", 1234.5, "$1,234.50"},
      {"#,##0.00 'EUR'", 1234.5, "1,234.50 EUR"},
      {"0.00 \"a;b\"", 1, "1.00 a;b"},
      {"0 %", 50, "50 %"},
      {".00", 12.5, "12.50"},
      {"x", 5, "x5"},
      {"0.0.0", 1.25, "1.25"},
      {"0.00", 1e-20, "0.00"},
      {"0.000", 0.0005, "0.001"},
      {"0.00", 0.995, "1.00"},
      {"0.00", 9.995, "10.00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFloat(c.pattern, c.value), c.expected) << c.pattern << " " << c.value;
  }
}

TEST(FormatFloatPatterns, Sections) {
  struct Case {
    const char* pattern;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"0.00;(0.00)", 5, "5.00"},
      {"0.00;(0.00)", -5, "(5.00)"},
      {"0.00;(0.00)", 0, "0.00"},
      {"0.00;(0.00)", -0.001, "0.00"},
      {"0.00;(0.00);\"zero\"", 0, "zero"},
      {"0.00;(0.00);\"zero\"", -0.001, "zero"},
      {"0.00;(0.00);\"zero\"", 0.004, "zero"},
      {"0.00;;\"zero\"", -2, "-2.00"},
      {"0.00;;", 0, "0.00"},
      {";(0)", 2.5, "2.5"},
      {";(0)", -2.5, "(3)"},
      {"", -1.5e20, "-1.5E+20"},
      {"0;-0;0;ignored", 1, "1"},
      {"'a;b'0;'n'0", -3, "n3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFloat(c.pattern, c.value), c.expected) << c.pattern << " " << c.value;
  }
}

TEST(FormatFloatPatterns, Scientific) {
  struct Case {
    const char* pattern;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"0.00E+00", 12345, "1.23E+04"},   {"0.00E+00", 0.00012345, "1.23E-04"},
      {"0.00E-00", 12345, "1.23E04"},    {"0.00E-00", 0.00012345, "1.23E-04"},
      {"0.00e+0", 1.5e100, "1.50e+100"}, {"0.##E+0", 1e5, "1E+5"},
      {"0.00E+00", 0, "0.00E+00"},       {"0.00E+00", -9.999, "-1.00E+01"},
      {"#.0E+0", 12, "1.2E+1"},          {"0E+0000", 5, "5E+0000"},
      {"0E+00000", 5, "5E+00000"},       {"0.0E+0 0", 5, "5.0E+0 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatFloat(c.pattern, c.value), c.expected) << c.pattern << " " << c.value;
  }
}

TEST(FormatFloatPatterns, UsesSeparatorsFromTheSettings) {
  SettingsScope scope;
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().ThousandSeparator = '.';
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
  FormatSettings().ThousandSeparator = '\0';
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1234567,89");
}

TEST(FormatFloatPatterns, SpecialValuesIgnoreThePattern) {
  EXPECT_EQ(FormatFloat("0.00", kNaN), "NAN");
  EXPECT_EQ(FormatFloat("0.00", kInf), "INF");
  EXPECT_EQ(FormatFloat("0.00;(0.00)", -kInf), "-INF");
}

TEST(FormatFloatPatterns, FormatCurrIsExact) {
  EXPECT_EQ(FormatCurr("##############0.00", Currency::FromRaw(5000)), "0.50");
  EXPECT_EQ(FormatCurr("##############0.00", Currency::FromRaw(23450)), "2.35");
  EXPECT_EQ(FormatCurr("##############0.00", Currency::FromRaw(-23450)), "-2.35");
  EXPECT_EQ(FormatCurr("0.0000", Currency::FromRaw(kInt64Max)), "922337203685477.5807");
  EXPECT_EQ(FormatCurr("#,##0.00", Currency::FromRaw(kInt64Min)), "-922,337,203,685,477.58");
  EXPECT_EQ(FormatCurr("", Currency::FromRaw(kInt64Min)), "-922337203685477.5808");
  EXPECT_EQ(FormatCurr("0;(0);-", Currency()), "-");
}

}  // namespace
}  // namespace jw
