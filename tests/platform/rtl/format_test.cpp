#include "platform/rtl/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/rtl/format_settings.h"
#include "tests/support/format_settings_scope.h"

namespace jw {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using SettingsScope = test_support::FormatSettingsScope;

std::string Invalid(std::string_view fmt) {
  return "Format '" + std::string(fmt) + "' invalid or incompatible with argument";
}

template <class... Args>
std::string MessageOf(std::string_view fmt, const Args&... args) {
  try {
    return "returned " + Format(fmt, args...);
  } catch (const EConvertError& e) {
    return e.Message();
  }
}

TEST(FormatText, LiteralsAndPercent) {
  EXPECT_EQ(Format("plain"), "plain");
  EXPECT_EQ(Format(""), "");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("%%d%d", 5), "%d5");
  EXPECT_EQ(Format("extra args are ignored", 1, "x"), "extra args are ignored");
}

TEST(FormatText, Strings) {
  const std::string owned = "owned";
  const std::string_view view = "view";
  EXPECT_EQ(Format("%s_%d", "Session", 1), "Session_1");
  EXPECT_EQ(Format("[%s|%s|%s]", owned, view, 'c'), "[owned|view|c]");
  EXPECT_EQ(Format("[%6s]", "abc"), "[   abc]");
  EXPECT_EQ(Format("[%-6s]", "abc"), "[abc   ]");
  EXPECT_EQ(Format("[%.2s]", "abc"), "[ab]");
  EXPECT_EQ(Format("[%5.2s]", "abc"), "[   ab]");
  EXPECT_EQ(Format("[%2s]", "abcd"), "[abcd]");
  EXPECT_EQ(Format("[%06s]", "ab"), "[    ab]");
  EXPECT_EQ(Format("[%s]", static_cast<const char*>(nullptr)), "[]");
  EXPECT_EQ(Format("%S", "upper type letter"), "upper type letter");
  EXPECT_EQ(Format("%s", std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(FormatText, Integers) {
  struct Case {
    const char* fmt;
    int64_t value;
    const char* expected;
  };
  const Case cases[] = {
      {"%d", 0, "0"},
      {"%d", -42, "-42"},
      {"%5d", 42, "   42"},
      {"%-5d|", 42, "42   |"},
      {"%05d", -42, "-0042"},
      {"%-05d|", -42, "-42  |"},
      {"%.5d", -42, "-00042"},
      {"%8.5d", 42, "   00042"},
      {"%.0d", 0, "0"},
      {"%1d", 12345, "12345"},
      {"%d", std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      {"%d", std::numeric_limits<int64_t>::max(), "9223372036854775807"},
      {"%x", 255, "FF"},
      {"%X", 255, "FF"},
      {"%.4x", 255, "00FF"},
      {"%06x", 255, "0000FF"},
      {"%x", -1, "FFFFFFFFFFFFFFFF"},
      {"%u", -1, "18446744073709551615"},
      {"%D", 7, "7"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.fmt, c.value), c.expected) << c.fmt;
}

TEST(FormatText, IntegerWidthsFollowTheArgumentType) {
  EXPECT_EQ(Format("%x", -1), "FFFFFFFF");
  EXPECT_EQ(Format("%u", -1), "4294967295");
  EXPECT_EQ(Format("%d", std::numeric_limits<int32_t>::min()), "-2147483648");
  EXPECT_EQ(Format("%d", static_cast<int16_t>(-5)), "-5");
  EXPECT_EQ(Format("%d", static_cast<uint8_t>(200)), "200");
  EXPECT_EQ(Format("%d", std::numeric_limits<uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(Format("%x", std::numeric_limits<uint64_t>::max()), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("%u", 4000000000u), "4000000000");
  EXPECT_EQ(Format("%d", static_cast<int64_t>(-1)), "-1");
}

TEST(FormatText, FixedAndThousands) {
  struct Case {
    const char* fmt;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"%f", 1.5, "1.50"},
      {"%.0f", 2.5, "3"},
      {"%.0f", -2.5, "-3"},
      {"%.3f", 2.0 / 3, "0.667"},
      {"%.2f", 2.675, "2.68"},
      {"%.2f", 1.005, "1.01"},
      {"%.2f", -0.001, "0.00"},
      {"%f", -0.0, "0.00"},
      {"%8.2f", -3.14159, "   -3.14"},
      {"%-8.2f|", 3.14159, "3.14    |"},
      {"%08.2f", -3.14159, "-0003.14"},
      {"%.20f", 0.1, "0.100000000000000000"},  // decimals stop at 18
      {"%.2f", 1e20, "100000000000000000000.00"},
      {"%n", 1234567.891, "1,234,567.89"},
      {"%.0n", -1234567.5, "-1,234,568"},
      {"%n", 999.999, "1,000.00"},
      {"%n", 12, "12.00"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.fmt, c.value), c.expected) << c.fmt;
}

TEST(FormatText, ScientificAndGeneral) {
  struct Case {
    const char* fmt;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"%e", 1.5, "1.50000000000000E+000"},
      {"%.3e", 1234.5, "1.23E+003"},
      {"%.3e", -0.00012345, "-1.23E-004"},
      {"%.1e", 9.6, "1E+001"},
      {"%.2e", 0, "0.0E+000"},
      {"%.3e", 1e300, "1.00E+300"},
      {"%.17e", 0.1, "1.0000000000000001E-001"},
      {"%.30e", 0.1, "1.0000000000000001E-001"},
      {"%g", 1.5, "1.5"},
      {"%g", 0.1 + 0.2, "0.3"},
      {"%g", 1.5e20, "1.5E+20"},
      {"%g", 0.000001, "1E-6"},
      {"%.3g", 1234.5, "1.23E+3"},
      {"%.3g", 123.45, "123"},
      {"%.4g", 0.00012345, "0.0001235"},
      {"%.17g", 0.1, "0.10000000000000001"},
      {"%.0g", 2.5, "3"},
      {"%8g|", 2.5, "     2.5|"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.fmt, c.value), c.expected) << c.fmt;
}

TEST(FormatText, SpecialFloatValues) {
  EXPECT_EQ(Format("%f|%e|%g|%n|%m", kNaN, kInf, -kInf, kNaN, kInf), "NAN|INF|-INF|NAN|INF");
  EXPECT_EQ(Format("[%06f]", kNaN), "[   NAN]");
  EXPECT_EQ(Format("[%-5f]", -kInf), "[-INF ]");
}

TEST(FormatText, SeparatorsComeFromTheSettings) {
  SettingsScope scope;
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().ThousandSeparator = '.';
  EXPECT_EQ(Format("%f %n %g %.2e", 1234.5, 1234.5, 1234.5, 1234.5),
            "1234,50 1.234,50 1234,5 1,2E+003");
  FormatSettings().ThousandSeparator = '\0';
  EXPECT_EQ(Format("%n", 1234.5), "1234,50");
}

TEST(FormatText, CurrencyLayouts) {
  SettingsScope scope;
  TFormatSettings& s = FormatSettings();
  s.CurrencyString = "$";
  s.CurrencyDecimals = 2;
  const char* const positive[] = {"$1,234.50", "1,234.50$", "$ 1,234.50", "1,234.50 $"};
  for (int format = 0; format < 4; ++format) {
    s.CurrencyFormat = static_cast<uint8_t>(format);
    EXPECT_EQ(Format("%m", 1234.5), positive[format]) << format;
  }
  const char* const negative[] = {"($1.50)", "-$1.50",  "$-1.50",   "$1.50-",  "(1.50$)", "-1.50$",
                                  "1.50-$",  "1.50$-",  "-1.50 $",  "-$ 1.50", "1.50 $-", "$ 1.50-",
                                  "$ -1.50", "1.50- $", "($ 1.50)", "(1.50 $)"};
  for (int format = 0; format < 16; ++format) {
    s.NegCurrFormat = static_cast<uint8_t>(format);
    EXPECT_EQ(Format("%m", -1.5), negative[format]) << format;
  }
  s.CurrencyFormat = 0;
  s.CurrencyDecimals = 0;
  EXPECT_EQ(Format("%m", 2.5), "$3");
  EXPECT_EQ(Format("%.3m", 2.5), "$2.500");
  EXPECT_EQ(Format("%m", -0.4), "$0");
  EXPECT_EQ(Format("[%8m]", 2.0), "[      $2]");
  EXPECT_EQ(Format("[%08m]", 2.0), "[      $2]");
}

TEST(FormatText, CurrencyArgumentsAreFormattedExactly) {
  const Currency big = Currency::FromRaw(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Format("%.4f", big), "922337203685477.5807");
  EXPECT_EQ(Format("%n", big), "922,337,203,685,477.58");
  EXPECT_EQ(Format("%.2f", Currency::FromRaw(-23450)), "-2.35");
  EXPECT_EQ(Format("%g", Currency::FromRaw(125000)), "12.5");
  EXPECT_EQ(Format("%.19g", big), "922337203685477.5807");
  EXPECT_EQ(Format("%.3e", Currency::FromRaw(125000)), "1.25E+001");
  EXPECT_EQ(Format("%m", Currency::FromRaw(-5000)), "(0.50)");
}

TEST(FormatText, StarsIndexesAndPointers) {
  EXPECT_EQ(Format("[%*d]", 5, 42), "[   42]");
  EXPECT_EQ(Format("[%-*d]", 5, 42), "[42   ]");
  EXPECT_EQ(Format("[%*d]", -5, 42), "[42   ]");
  EXPECT_EQ(Format("[%0*d]", 5, 42), "[00042]");
  EXPECT_EQ(Format("[%0*d]", 5, -42), "[-0042]");
  EXPECT_EQ(Format("[%-0*d]", 5, 42), "[42   ]");
  EXPECT_EQ(Format("[%1:0*d]", 9, 5, 42), "[00042]");
  EXPECT_EQ(Format("[%0*.*f]", 7, 1, -1.25), "[-0001.3]");
  EXPECT_EQ(Format("[%.*f]", 3, 1.0), "[1.000]");
  EXPECT_EQ(Format("[%*.*f]", 7, 1, 1.25), "[    1.3]");
  EXPECT_EQ(Format("[%.*s]", -1, "abc"), "[abc]");
  EXPECT_EQ(Format("%1:s %0:s", "a", "b"), "b a");
  EXPECT_EQ(Format("%1:s %s %0:s %s", "a", "b", "c"), "b c a b");
  EXPECT_EQ(Format("%0:s%0:s", "x"), "xx");
  EXPECT_EQ(Format("%*:s", 1, "x"), "x");
  EXPECT_EQ(Format("%p", reinterpret_cast<const void*>(uintptr_t{0xABC})), "0000000000000ABC");
  const int local = 0;
  EXPECT_EQ(Format("%p", &local).size(), 16u);
}

TEST(FormatText, NeverReadsPastItsArguments) {
  const char* const missing[] = {"%d",   "%s %s", "%1:s", "%*d",  "%.*f",
                                 "%5:d", "%d%d",  "%*:s", "%-*s", "%0:s%1:s"};
  for (const char* fmt : missing) EXPECT_EQ(MessageOf(fmt, "only"), Invalid(fmt)) << fmt;
  EXPECT_EQ(MessageOf("%s"), Invalid("%s"));
  EXPECT_EQ(MessageOf("%d%d", 1), Invalid("%d%d"));
}

TEST(FormatText, RejectsMismatchedArguments) {
  EXPECT_EQ(MessageOf("%d", "1"), Invalid("%d"));
  EXPECT_EQ(MessageOf("%d", 1.0), Invalid("%d"));
  EXPECT_EQ(MessageOf("%x", 'c'), Invalid("%x"));
  EXPECT_EQ(MessageOf("%s", 1), Invalid("%s"));
  EXPECT_EQ(MessageOf("%f", 1), Invalid("%f"));
  EXPECT_EQ(MessageOf("%m", "1"), Invalid("%m"));
  EXPECT_EQ(MessageOf("%p", 1), Invalid("%p"));
  EXPECT_EQ(MessageOf("%*d", 1.5, 1), Invalid("%*d"));
  EXPECT_EQ(MessageOf("%*d", "5", 1), Invalid("%*d"));
  EXPECT_EQ(MessageOf("%d", Currency()), Invalid("%d"));
}

TEST(FormatText, RejectsMalformedSpecifiers) {
  const char* const cases[] = {"abc%",
                               "%",
                               "%5",
                               "%.",
                               "%q",
                               "%-",
                               "%5.2",
                               "%1:",
                               "% d",
                               "%#x",
                               "%99999999999999999999d",
                               "%1000001d",
                               "%.1000001d",
                               "%1000001:d",
                               "%0*:d"};
  for (const char* fmt : cases) EXPECT_EQ(MessageOf(fmt, 1), Invalid(fmt)) << fmt;
  EXPECT_EQ(MessageOf("%*d", 2000000, 1), Invalid("%*d"));
  EXPECT_EQ(MessageOf("%*d", std::numeric_limits<int64_t>::min(), 1), Invalid("%*d"));
  EXPECT_EQ(MessageOf("%*:d", -1, 1), Invalid("%*:d"));
}

TEST(FormatText, KeepsTheMessagesTheSystemFormats) {
  EXPECT_EQ(Format("Filter error for table '%s' - %s", "notes", "bad"),
            "Filter error for table 'notes' - bad");
  EXPECT_EQ(Format("List index out of bounds (%d)", -1), "List index out of bounds (-1)");
  EXPECT_EQ(Format("%s: %s", "Cannot open file x", "y"), "Cannot open file x: y");
}

}  // namespace
}  // namespace jw
