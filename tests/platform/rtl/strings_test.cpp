#include "platform/rtl/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

TEST(PascalPositions, CopyClampsIndexAndCount) {
  struct Case {
    int64_t index, count;
    const char* expected;
  };
  const Case cases[] = {
      {1, 3, "abc"},
      {2, 2, "bc"},
      {4, 10, "def"},
      {6, 1, "f"},
      {7, 1, ""},
      {0, 2, "ab"},
      {-5, 2, "ab"},
      {3, 0, ""},
      {3, -1, ""},
      {1, INT64_MAX, "abcdef"},
      {INT64_MAX, INT64_MAX, ""},
      {INT64_MIN, 1, "a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Copy("abcdef", c.index, c.count), c.expected) << c.index << "," << c.count;
  }
}

TEST(PascalPositions, PosIsOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(Pos("c", "abcabc"), 3);
  EXPECT_EQ(Pos("abc", "abcabc"), 1);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("abcd", "abc"), 0);
  EXPECT_EQ(Pos(std::string("\0b", 2), std::string("a\0b", 3)), 2);
}

TEST(PascalPositions, DeleteClampsAndIgnoresOutOfRangeIndex) {
  struct Case {
    int64_t index, count;
    const char* expected;
  };
  const Case cases[] = {
      {1, 2, "cdef"},   {3, 2, "abef"},    {5, 100, "abcd"}, {6, 1, "abcde"},   {7, 1, "abcdef"},
      {0, 2, "abcdef"}, {-1, 2, "abcdef"}, {2, 0, "abcdef"}, {2, -3, "abcdef"}, {1, INT64_MAX, ""},
  };
  for (const Case& c : cases) {
    std::string s = "abcdef";
    Delete(s, c.index, c.count);
    EXPECT_EQ(s, c.expected) << c.index << "," << c.count;
  }
}

TEST(PascalPositions, InsertClampsToTheString) {
  struct Case {
    int64_t index;
    const char* expected;
  };
  const Case cases[] = {{1, "XYabc"}, {2, "aXYbc"},  {4, "abcXY"},        {5, "abcXY"},
                        {0, "XYabc"}, {-9, "XYabc"}, {INT64_MAX, "abcXY"}};
  for (const Case& c : cases) {
    std::string s = "abc";
    Insert("XY", s, c.index);
    EXPECT_EQ(s, c.expected) << c.index;
  }
}

TEST(Trimming, RemovesControlsAndBlanksButKeepsHighBytes) {
  EXPECT_EQ(Trim(std::string(" \t\x01x y\r\n ")), "x y");
  EXPECT_EQ(TrimLeft(" \tx "), "x ");
  EXPECT_EQ(TrimRight(" x \n"), " x");
  EXPECT_EQ(Trim("\xa0x\xc3\xa9"), "\xa0x\xc3\xa9");
  EXPECT_EQ(Trim(std::string("  \0 ", 4)), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(TrimRight(std::string("x\0", 2)), "x");
}

TEST(AsciiCase, OnlyAsciiLettersChange) {
  EXPECT_EQ(UpperCase("abz AZ 09 \xe9\xc3\xa9"), "ABZ AZ 09 \xe9\xc3\xa9");
  EXPECT_EQ(LowerCase("ABZ az @[ \xc9"), "abz az @[ \xc9");
  EXPECT_TRUE(SameText("Hello", "hELLO"));
  EXPECT_FALSE(SameText("Hello", "Hello "));
  EXPECT_FALSE(SameText("\xe9", "\xc9"));
}

TEST(AsciiCase, CompareTextOrdersByUpperCasedUnsignedBytes) {
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_GT(CompareText("abd", "ABC"), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("abc", "AB"), 0);
  // '_' (0x5F) lies between the upper-case and lower-case letters.
  EXPECT_LT(CompareText("a", "_"), 0);
  EXPECT_GT(CompareText("\x80", "z"), 0);
}

TEST(ShortStrings, CutTo255Bytes) {
  EXPECT_EQ(ShortString(std::string(300, 'x')), std::string(255, 'x'));
  EXPECT_EQ(ShortString(std::string(255, 'y')), std::string(255, 'y'));
  EXPECT_EQ(ShortString("abc"), "abc");
  EXPECT_EQ(StringOfChar('-', 4), "----");
  EXPECT_EQ(StringOfChar('-', 0), "");
  EXPECT_EQ(StringOfChar('-', -3), "");
}

TEST(IntegerText, IntToStrCoversBothWidths) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(std::numeric_limits<int32_t>::min()), "-2147483648");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(IntToStr(int64_t{9223372036854775807}), "9223372036854775807");
}

TEST(IntegerText, IntToHexPadsAndUsesTwosComplementOfItsWidth) {
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(0x1ABCD, 2), "1ABCD");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t{-1}, 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t{0x123456789A}, 12), "00123456789A");
}

TEST(IntegerText, StrToIntAcceptsTheDocumentedForms) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"+42", 42},
      {"-42", -42},
      {"  17\t", 17},
      {"\t-3", -3},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"$FF", 255},
      {"$ff", 255},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"$80000000", std::numeric_limits<int32_t>::min()},
      {"$0000000000FF", 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToInt(c.text), c.expected) << c.text;
    int32_t value = 0;
    EXPECT_TRUE(TryStrToInt(c.text, value)) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
  }
}

TEST(IntegerText, StrToIntRejectsWithTheTextQuoted) {
  const char* const cases[] = {
      "",     " ",   "-",          "+",           "$",          "0x",
      "12a",  "1 2", "12.0",       "1e3",         "--1",        "+-1",
      "- 1",  "$G",  "2147483648", "-2147483649", "$100000000", "99999999999999999999",
      "\n12", "0b1", "١"};
  for (const char* text : cases) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid integer value");
    }
    int32_t value = 99;
    EXPECT_FALSE(TryStrToInt(text, value)) << text;
    EXPECT_EQ(value, 99) << "a failed parse must leave the target alone: " << text;
    EXPECT_EQ(StrToIntDef(text, -7), -7) << text;
  }
}

TEST(IntegerText, StrToInt64CoversTheWholeRange) {
  EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(StrToInt64(" 2147483648 "), int64_t{2147483648});
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(StrToInt64("$FFFFFFFF"), int64_t{0xFFFFFFFF});
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt64("-9223372036854775809"), EConvertError);
  EXPECT_THROW(StrToInt64("$10000000000000000"), EConvertError);
  int64_t value = 5;
  EXPECT_FALSE(TryStrToInt64("x", value));
  EXPECT_EQ(value, 5);
  try {
    StrToInt64(" 1x");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "' 1x' is not a valid integer value");
  }
}

TEST(IntegerText, HexTextReadsBackFromIntToHex) {
  const int32_t values[] = {
      0,      1, -1, 255, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
      -123456};
  for (int32_t v : values) EXPECT_EQ(StrToInt("$" + IntToHex(v, 8)), v) << v;
  const int64_t wide[] = {0, -1, std::numeric_limits<int64_t>::min(),
                          std::numeric_limits<int64_t>::max()};
  for (int64_t v : wide) EXPECT_EQ(StrToInt64("0x" + IntToHex(v, 1)), v) << v;
}

}  // namespace
}  // namespace jw
