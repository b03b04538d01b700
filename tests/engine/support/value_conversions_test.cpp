#include "engine/support/value_conversions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/support/field_types.h"
#include "platform/rtl/format_settings.h"
#include "platform/rtl/strings.h"
#include "tests/support/source_path.h"

namespace jw {
namespace {

// A typed value of the conversion table: "s:" text, "i16:" "u16:" "i32:"
// "i64:" integers, "f64:" doubles, "x:" hex bytes; `size` pads texts.
std::vector<uint8_t> Encode(const std::string& typed, int32_t size) {
  const size_t colon = typed.find(':');
  const std::string kind = typed.substr(0, colon);
  const std::string text = typed.substr(colon + 1);
  std::vector<uint8_t> bytes;
  auto put = [&bytes](const auto& value) {
    bytes.resize(sizeof(value));
    std::memcpy(bytes.data(), &value, sizeof(value));
  };
  if (kind == "s") {
    bytes.assign(text.begin(), text.end());
    bytes.resize(std::max<size_t>(static_cast<size_t>(size), text.size() + 1), 0);
  } else if (kind == "i16") {
    put(static_cast<int16_t>(std::stoi(text)));
  } else if (kind == "u16") {
    put(static_cast<uint16_t>(std::stoi(text)));
  } else if (kind == "i32" || kind == "d") {
    put(static_cast<int32_t>(std::stol(text)));
  } else if (kind == "i64") {
    put(static_cast<int64_t>(std::stoll(text)));
  } else if (kind == "f64") {
    put(std::stod(text));
  } else if (kind == "x") {
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
  }
  return bytes;
}

struct ConversionRow {
  int line;
  uint8_t source_type;
  int32_t source_size;
  std::string source;
  int32_t target_scale;
  int32_t target_size;
  uint8_t target_type;
  bool result;
  std::string expected;
};

std::vector<ConversionRow> ReadTable() {
  const std::string path = test_support::SourcePath("tests/engine/support/value_conversions.csv");
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<ConversionRow> rows;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream cellstream(line);
    std::string cell;
    while (std::getline(cellstream, cell, ',')) cells.push_back(cell);
    if (cells.size() != 8) {
      ADD_FAILURE() << "line " << number << " has " << cells.size() << " cells";
      continue;
    }
    rows.push_back({number, static_cast<uint8_t>(std::stoi(cells[0])), std::stoi(cells[1]),
                    cells[2], std::stoi(cells[3]), std::stoi(cells[4]),
                    static_cast<uint8_t>(std::stoi(cells[5])), cells[6] == "true", cells[7]});
  }
  return rows;
}

TEST(ValueConversionMatrix, EveryCellGivesTheTabledBytesAndFlag) {
  const std::vector<ConversionRow> rows = ReadTable();
  ASSERT_GT(rows.size(), 200u);
  std::vector<std::vector<bool>> covered(16, std::vector<bool>(16, false));
  for (const ConversionRow& row : rows) {
    SCOPED_TRACE("table line " + std::to_string(row.line));
    std::vector<uint8_t> buffer(kValueBufferSize + 16, 0xAB);
    const std::vector<uint8_t> source =
        Encode(row.source, row.source_type == kFldString ? kValueBufferSize : 0);
    std::memcpy(buffer.data(), source.data(), source.size());
    const std::vector<uint8_t> before = buffer;
    const bool result = ConvertFieldValue(row.source_type, row.source_size, 0, buffer.data(),
                                          row.target_scale, row.target_size, row.target_type);
    EXPECT_EQ(result, row.result);
    if (row.expected == "same") {
      EXPECT_EQ(buffer, before);
    } else {
      const std::vector<uint8_t> expected =
          Encode(row.expected, row.target_type == kFldString ? row.target_size : 0);
      EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + expected.size()), expected);
    }
    covered[row.source_type][row.target_type] = true;
  }
  for (int s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15}) {
    for (int t : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15}) {
      EXPECT_TRUE(covered[s][t]) << "cell " << s << " -> " << t;
    }
  }
}

TEST(ValueConversionMatrix, StringSourceBufferIsClearedBehindTheResult) {
  char buffer[kValueBufferSize];
  std::memset(buffer, 'z', sizeof(buffer));
  std::strcpy(buffer, "42");
  ASSERT_TRUE(ConvertFieldValue(kFldString, 20, 0, buffer, 0, 4, kFldInteger));
  for (size_t i = 4; i < sizeof(buffer); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

struct BcdCase {
  int32_t scale;
  double value;
  int64_t stored;
};

TEST(BcdStorageValues, CurrencyAndFloatPathsAgreeWithTheExamples) {
  const BcdCase cases[] = {{2, 12.5, 12502}, {1, -0.5, -51},      {2, 0, 2},    {0, 7, 70},
                           {2, 0.5, 502},    {4, 1.2345, 123454}, {0, -3, -30}, {3, 0.001, 13}};
  for (const BcdCase& c : cases) {
    SCOPED_TRACE(c.stored);
    EXPECT_EQ(CurrencyToBcd(c.scale, Currency::FromDouble(c.value)), c.stored);
    EXPECT_EQ(FloatToBcd(c.scale, c.value), c.stored);
    EXPECT_EQ(BcdToCurrency(c.stored), Currency::FromDouble(c.value));
    EXPECT_DOUBLE_EQ(BcdToFloat(c.stored), c.value);
  }
}

TEST(BcdStorageValues, RoundHalvesAwayFromZeroBeforeStoring) {
  EXPECT_EQ(CurrencyToBcd(1, Currency::FromDouble(0.25)), 31);
  EXPECT_EQ(CurrencyToBcd(1, Currency::FromDouble(-0.25)), -31);
  EXPECT_EQ(FloatToBcd(0, 2.5), 30);
}

TEST(BcdStorageValues, DigitsBeyondAnInt64AreRefused) {
  // 922337203685477 at scale 4 needs 20 digits.
  EXPECT_THROW(CurrencyToBcd(4, Currency::FromRaw(9223372036854775807)), EConvertError);
  EXPECT_THROW(FloatToBcd(9, 1e12), EConvertError);
  EXPECT_THROW(FloatToBcd(10, 1), EConvertError);
  // Nine decimals are more than the currency type holds: the amount reads
  // rounded to four places.
  EXPECT_EQ(BcdToCurrency(1234567899), Currency::FromDouble(0.1235));
}

TEST(Rounding, CurrencyAndFloatExamples) {
  EXPECT_EQ(RoundCurrency(2, Currency::FromDouble(2.345)), Currency::FromDouble(2.35));
  EXPECT_EQ(RoundCurrency(2, Currency::FromDouble(-2.345)), Currency::FromDouble(-2.35));
  EXPECT_EQ(RoundCurrency(6, Currency::FromDouble(1.2345)), Currency::FromDouble(1.2345));
  EXPECT_EQ(RoundCurrency(0, Currency::FromDouble(-0.5)), Currency::FromDouble(-1));
  EXPECT_EQ(RoundCurrency(0, Currency::FromDouble(0.4999)), Currency::FromDouble(0));
  EXPECT_THROW(RoundCurrency(0, Currency::FromRaw(9223372036854775807)), EIntOverflow);
  EXPECT_DOUBLE_EQ(RoundFloat(0, 2.5), 3);
  EXPECT_DOUBLE_EQ(RoundFloat(0, -2.5), -3);
  EXPECT_DOUBLE_EQ(RoundFloat(2, 1.005), 1.0);  // 1.005 is below the half in binary
  EXPECT_DOUBLE_EQ(RoundFloat(1, -0.25), -0.3);
  EXPECT_EQ(RoundFloat(3, 0), 0);
}

TEST(TextToDateTime, ParsesOrStoresDateTimeZero) {
  char buffer[kValueBufferSize] = "2024-03-05";
  EXPECT_TRUE(TextToDateTimeValue(buffer, kFldDate));
  int32_t day = 0;
  std::memcpy(&day, buffer, 4);
  EXPECT_EQ(day, 738950);

  std::strcpy(buffer, "not a time");
  EXPECT_FALSE(TextToDateTimeValue(buffer, kFldTime));
  int32_t ms = -1;
  std::memcpy(&ms, buffer, 4);
  EXPECT_EQ(ms, 0);

  std::strcpy(buffer, "junk");
  EXPECT_FALSE(TextToDateTimeValue(buffer, kFldTimeStamp));
  double stamp = 0;
  std::memcpy(&stamp, buffer, 8);
  EXPECT_EQ(stamp, 693594.0 * 86400000);

  std::strcpy(buffer, "12");
  EXPECT_TRUE(TextToDateTimeValue(buffer, kFldInteger));
  EXPECT_STREQ(buffer, "12");
}

struct TextCase {
  const char* text;
  uint8_t type;
  bool valid;
};

TEST(FieldTextValidity, WordsRangesAndParsers) {
  const TextCase cases[] = {{"now", kFldTimeStamp, true},
                            {"Date", kFldDate, true},
                            {"time", kFldTimeStamp, true},
                            {"TIME", kFldTime, true},
                            {"now", kFldDate, false},
                            {"70000", kFldWord, false},
                            {"65535", kFldWord, true},
                            {"-1", kFldWord, false},
                            {"-32768", kFldSmallInt, true},
                            {"32768", kFldSmallInt, false},
                            {"2147483648", kFldInteger, false},
                            {"-2147483648", kFldInteger, true},
                            {"1.5e3", kFldFloat, true},
                            {"1,5", kFldFloat, false},
                            {"12.3456", kFldBcd, true},
                            {"abc", kFldBcd, false},
                            {"tRUE", kFldBoolean, true},
                            {"yes", kFldBoolean, false},
                            {"", kFldInteger, true},
                            {"anything", kFldString, true},
                            {"anything", kFldBytes, true},
                            {"anything", kFldBlob, true},
                            {"2024-02-30", kFldDate, false},
                            {"2024-02-29 23:59", kFldTimeStamp, true},
                            {"25:00", kFldTime, false}};
  for (const TextCase& c : cases) {
    EXPECT_EQ(IsValidFieldText(c.text, c.type), c.valid) << c.text << " as " << int(c.type);
  }
  EXPECT_TRUE(IsValidBooleanText("false"));
  EXPECT_FALSE(IsValidBooleanText("0"));
  EXPECT_TRUE(IsValidDateTimeText("2024-03-05 06:00:00"));
}

TEST(BooleanText, WordsAndMessage) {
  EXPECT_EQ(BooleanText(true), "True");
  EXPECT_EQ(BooleanText(false), "False");
  EXPECT_TRUE(ParseBooleanText("TrUe"));
  EXPECT_FALSE(ParseBooleanText("false"));
  try {
    ParseBooleanText("maybe");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'maybe' is not a valid boolean value");
  }
  EXPECT_THROW(ParseBooleanText(" TRUE"), EConvertError);
  EXPECT_EQ(NormalizeBoolean(1), 1);
  EXPECT_EQ(NormalizeBoolean(0x10000), 0x10000);
  EXPECT_EQ(NormalizeBoolean(2), 1);
  EXPECT_EQ(NormalizeBoolean(-1), 1);
}

TEST(ValueHelpers, TiesReturnTheFirstArgument) {
  EXPECT_EQ(MaxOfByte(0x1FF, 0x0FF), 0x1FF);
  EXPECT_EQ(MaxOfByte(0x101, 0x002), 0x002);
  // 2^53 and 2^53 + 1 are one double: a tie.
  EXPECT_EQ(MaxOfInt64(9007199254740993, 9007199254740992), 9007199254740993);
  EXPECT_EQ(MinOfInt64(9007199254740992, 9007199254740993), 9007199254740992);
  EXPECT_EQ(MaxOfInt(3, 7), 7);
  EXPECT_EQ(MinOfWord(3, 7), 3);
  EXPECT_EQ(MaxOfSmallInt(-3, -7), -3);
  EXPECT_EQ(MinOfFloat(1.5, 1.25), 1.25);
}

TEST(ValueHelpers, BufferCounts) {
  const uint8_t a[] = {1, 2, 3, 0, 0};
  const uint8_t b[] = {1, 2, 4, 0, 0};
  EXPECT_EQ(CommonPrefixLength(a, b, 5), 2);
  EXPECT_EQ(CommonPrefixLength(a, a, 4), 4);
  EXPECT_EQ(TrailingZeroCount(&a[4], 5), 2);
  EXPECT_EQ(TrailingZeroCount(&a[4], 1), 1);
  uint8_t c[4] = {9, 9, 9, 9};
  ClearBuffer(c, 3);
  EXPECT_EQ(c[2], 0);
  EXPECT_EQ(c[3], 9);
  EXPECT_EQ(DecodeBlobBufferRef(-7), 7);
  EXPECT_EQ(DecodeBlobBufferRef(INT32_MIN), INT32_MIN);
}

}  // namespace
}  // namespace jw
