// The query component's parameters: markers found in statement texts, the
// "Data" stream written and read back for every value layout, and streams
// that lie about their counts, lengths or version refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dataset/quire_params.h"
#include "platform/rtl/streams.h"
#include "tests/support/error_text.h"

namespace jw {
namespace {

using test_support::ErrorText;

TEST(QuireParams, MarkersBecomeQuestionMarksAndParameters) {
  struct Case {
    const char* text;
    const char* replaced;
    const char* names;  // '|' after each
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a = :a AND b = ':x'", "SELECT * FROM t WHERE a = ? AND b = ':x'",
       "a|"},
      {"SELECT a::b FROM t", "SELECT a:b FROM t", ""},
      {"SELECT * FROM t WHERE a = :\"my name\" AND b=:b", "SELECT * FROM t WHERE a = ? AND b=?",
       "my name|b|"},
      {"SELECT * FROM t WHERE a IN (:x,:y)", "SELECT * FROM t WHERE a IN (?,?)", "x|y|"},
      {"UPDATE t SET a = :v WHERE b = :v;", "UPDATE t SET a = ? WHERE b = ?;", "v|v|"},
      {"SELECT \"a:b\" FROM t WHERE c = :'q r'\r\n", "SELECT \"a:b\" FROM t WHERE c = ?\r\n",
       "q r|"},
      {"x = :end", "x = ?", "end|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TQuireParams params;
    std::string text = c.text;
    ParseParams(&params, text);
    EXPECT_EQ(text, c.replaced);
    std::string names;
    for (int32_t i = 0; i < params.Count(); ++i) names += params.Items(i)->Name() + "|";
    EXPECT_EQ(names, c.names);
    std::string without_list = c.text;
    ParseParams(nullptr, without_list);
    EXPECT_EQ(without_list, text);
  }
}

TEST(QuireParams, TwoMarkersOfOneNameTakeTheFirstsValue) {
  TQuireParams params;
  std::string text = "UPDATE t SET a = :v WHERE b = :V";
  ParseParams(&params, text);
  params.Items(0)->SetAsInteger(7);
  EXPECT_EQ(params.Items(1)->Value().AsInteger(), 7);
  EXPECT_EQ(ErrorText([&] { params.ParamByName("w"); }), "Parameter 'w' not found");
}

std::vector<uint8_t> Written(const TQuireParams& params) {
  TMemoryStream stream;
  params.WriteData(stream);
  const auto* bytes = static_cast<const uint8_t*>(stream.Memory());
  return std::vector<uint8_t>(bytes, bytes + stream.Size());
}

std::string ReadError(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  TQuireParams params;
  params.CreateParam(ftInteger, "old", ptInput);
  std::string error = ErrorText([&] { params.ReadData(stream); });
  if (!error.empty()) {
    EXPECT_EQ(params.Count(), 0);
  }
  return error;
}

TEST(QuireParams, DataStreamRoundTripsEveryLayoutAndRefusesBadStreams) {
  TQuireParams params;
  params.CreateParam(ftUnknown, "s", ptInput)->SetAsString("text");
  params.CreateParam(ftUnknown, "m", ptInput)->SetAsMemo("memo");
  params.CreateParam(ftUnknown, "i", ptInput)->SetAsInteger(-123456);
  params.CreateParam(ftUnknown, "sm", ptInput)->SetAsSmallInt(-12);
  params.CreateParam(ftUnknown, "w", ptInput)->SetAsWord(65000);
  params.CreateParam(ftUnknown, "bo", ptInput)->SetAsBoolean(true);
  params.CreateParam(ftUnknown, "f", ptInput)->SetAsFloat(2.5);
  params.CreateParam(ftUnknown, "c", ptInput)->SetAsCurrency(12.25);
  params.CreateParam(ftUnknown, "bcd", ptInput)->SetAsBCD(Currency::FromRaw(123456));
  params.CreateParam(ftUnknown, "d", ptInput)->SetAsDate(45000);
  params.CreateParam(ftUnknown, "t", ptInput)->SetAsTime(0.5);
  params.CreateParam(ftUnknown, "dt", ptInput)->SetAsDateTime(45000.25);
  params.CreateParam(ftUnknown, "bl", ptInput)->SetAsBlob(std::string("a\0b", 3));
  params.CreateParam(ftInteger, "n", ptOutput)->Clear();
  params.CreateParam(ftUnknown, "u", ptUnknown);
  const std::vector<uint8_t> bytes = Written(params);

  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  TQuireParams read;
  read.ReadData(stream);
  ASSERT_EQ(read.Count(), params.Count());
  for (int32_t i = 0; i < params.Count(); ++i) {
    const TQuireParam& a = *params.Items(i);
    const TQuireParam& b = *read.Items(i);
    SCOPED_TRACE(a.Name());
    EXPECT_EQ(b.Name(), a.Name());
    EXPECT_EQ(b.DataType(), a.DataType());
    EXPECT_EQ(b.ParamType(), a.ParamType());
    EXPECT_EQ(b.IsNull(), a.IsNull());
    EXPECT_EQ(b.Bound(), a.Bound());
    if (!a.IsNull() && a.DataType() != ftUnknown) {
      EXPECT_EQ(b.AsString(), a.AsString());
    }
  }
  EXPECT_EQ(Written(read), bytes);

  // Every cut of the stream runs out of bytes somewhere.
  for (size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_EQ(ReadError(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length)),
              "Unable to load bind parameters");
  }
  const std::vector<std::vector<uint8_t>> bad = {
      {3, 0, 0, 0},                                  // version 3
      {1, 0, 1, 0, 1, 'a', 1, 3, 2, 0, 1, 0, 0, 0},  // an integer of 2 bytes
      {1, 0, 1, 0, 1, 'a', 1, 12, 1, 0, 7, 0, 0},    // ftBytes has no layout
      {2, 0, 1, 0, 0, 0, 255, 255, 255, 255, 'a'},   // a name past the end
      {1, 0, 1, 0, 1, 'a', 1, 1, 0x01, 0x08, 0, 0},  // a value beyond 2048 bytes
  };
  for (const std::vector<uint8_t>& stream_bytes : bad) {
    EXPECT_EQ(ReadError(stream_bytes), "Unable to load bind parameters");
  }

  TQuireParams large;
  large.CreateParam(ftUnknown, "big", ptInput)->SetAsString(std::string(2048, 'x'));
  EXPECT_EQ(ErrorText([&] { Written(large); }),
            "Parameter 'big', cannot save data larger than 2048 bytes");
  TQuireParams bytes_param;
  bytes_param.CreateParam(ftBytes, "raw", ptInput);
  EXPECT_EQ(ErrorText([&] { Written(bytes_param); }), "Field 'raw' is of an unsupported type");
}

}  // namespace
}  // namespace jw
