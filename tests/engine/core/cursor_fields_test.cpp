// Field access through a cursor: every field type stored and read back in a
// record image with the null rules, cuts and character case, the defaults
// a new image takes, and derived fields that follow their columns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/expr/expression_tokens.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/date_time.h"
#include "tests/engine/core/cursor_test_table.h"

namespace jw::test {
namespace {

enum : int32_t {
  kId = 1,
  kUpper,
  kLower,
  kDate,
  kBlob,
  kBool,
  kSmall,
  kInt,
  kFloat,
  kBcd,
  kBytes,
  kTime,
  kStamp,
  kWord
};

FieldDescriptor Cased(const std::string& name, TCharCase char_case) {
  FieldDescriptor field = Field(name, kFldString, 6);
  field.CharCase = char_case;
  return field;
}

FieldDescriptor Defaulted(FieldDescriptor field, const std::string& text) {
  field.Default = text;
  return field;
}

TTableDefinition Definition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc),
              Defaulted(Cased("UP", kCaseUpper), "abc"),
              Cased("LOW", kCaseLower),
              Defaulted(Field("D", kFldDate), "date"),
              Defaulted(Field("B", kFldBlob), "x"),
              Defaulted(Field("BOOL", kFldBoolean), "TRUE"),
              Defaulted(Field("SI", kFldSmallInt), "-3"),
              Defaulted(Field("I", kFldInteger), "42"),
              Field("F", kFldFloat),
              Defaulted(Field("BCD", kFldBcd, 0, 0, 2), "12.5"),
              Field("BY", kFldBytes, 4),
              Defaulted(Field("T", kFldTime), "TIME"),
              Defaulted(Field("TS", kFldTimeStamp), "NOW"),
              Field("W", kFldWord)};
  d.Indexes = {IndexDescriptor()};
  return d;
}

class CursorFieldsTest : public testing::Test {
 protected:
  CursorFieldsTest() {
    db_.Create("F", Definition());
    cursor_ = db_.Open("F");
    image_.assign(static_cast<size_t>(cursor_->GetRecordSize()), 0);
  }

  // The field's null flag and value bytes as the cursor reads them.
  std::pair<bool, std::vector<uint8_t>> Read(int32_t field) {
    std::vector<uint8_t> value(256, 0xEE);
    bool null = false;
    cursor_->GetFieldData(field, image_.data(), null, value.data());
    return {null, value};
  }
  std::string Text(int32_t field) {
    const auto value = Read(field).second;
    return reinterpret_cast<const char*>(value.data());
  }
  template <class T>
  T Value(int32_t field) {
    return LoadValue<T>(Read(field).second.data());
  }
  template <class T>
  void Set(int32_t field, T value) {
    cursor_->SetFieldData(field, image_.data(), false, &value);
  }

  CursorDatabase db_;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<uint8_t> image_;
};

TEST_F(CursorFieldsTest, EveryTypeRoundTripsWithItsNullRules) {
  Set<int16_t>(kSmall, -7);
  Set<int32_t>(kInt, -123456);
  Set<double>(kFloat, 2.25);
  Set<int64_t>(kBcd, 9992);
  Set<int32_t>(kDate, 738000);
  Set<int32_t>(kTime, 3600000);
  Set<double>(kStamp, 6.4e13);
  Set<uint16_t>(kWord, 65535);
  Set<uint32_t>(kBytes, 0x04030201);
  Set<int16_t>(kBool, 5);
  EXPECT_EQ(Value<int16_t>(kSmall), -7);
  EXPECT_EQ(Value<int32_t>(kInt), -123456);
  EXPECT_EQ(Value<double>(kFloat), 2.25);
  EXPECT_EQ(Value<int64_t>(kBcd), 9992);
  EXPECT_EQ(Value<int32_t>(kDate), 738000);
  EXPECT_EQ(Value<int32_t>(kTime), 3600000);
  EXPECT_EQ(Value<double>(kStamp), 6.4e13);
  EXPECT_EQ(Value<uint16_t>(kWord), 65535);
  EXPECT_EQ(Value<uint32_t>(kBytes), 0x04030201u);
  EXPECT_EQ(Value<int16_t>(kBool), 1) << "any boolean but 0 is stored as 1";
  for (const int32_t field : {kSmall, kInt, kFloat, kBcd, kDate, kTime, kStamp, kWord, kBytes}) {
    EXPECT_FALSE(Read(field).first) << field;
    cursor_->SetFieldData(field, image_.data(), false, nullptr);
    const auto [null, value] = Read(field);
    EXPECT_TRUE(null) << field;
    const int32_t length = cursor_->GetCursorFieldDesc(field).PhysicalLength;
    EXPECT_TRUE(
        std::all_of(value.begin(), value.begin() + length, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(value[static_cast<size_t>(length)], 0xEE) << "nothing beyond the value is written";
  }
}

TEST_F(CursorFieldsTest, StringsAreCutTrimmedCasedAndNullWhenEmpty) {
  cursor_->SetFieldData(kUpper, image_.data(), false, "straight on");
  EXPECT_EQ(Text(kUpper), "STRAIG") << "cut to the physical length - 1";
  cursor_->SetFieldData(kLower, image_.data(), false, "MiX  ");
  EXPECT_EQ(Text(kLower), "mix");
  EXPECT_FALSE(Read(kLower).first);
  cursor_->SetFieldData(kLower, image_.data(), false, "");
  EXPECT_TRUE(Read(kLower).first);
  cursor_->SetFieldData(kLower, image_.data(), false, "   ");
  EXPECT_TRUE(Read(kLower).first) << "blanks alone are an empty string";
}

TEST_F(CursorFieldsTest, AutoIncrementIsTheRecordIdAndNeverNull) {
  EXPECT_EQ(cursor_->GetCursorFieldDesc(kId).Offset, kRecId);
  Set<int32_t>(kId, 77);
  EXPECT_EQ(TDataCursor::GetRecordId(image_.data()), 77);
  cursor_->SetFieldData(kId, image_.data(), false, nullptr);
  EXPECT_FALSE(Read(kId).first);
  EXPECT_EQ(Value<int32_t>(kId), 77);
}

TEST_F(CursorFieldsTest, BlobReferencesDecideTheirNullFlag) {
  Set<int32_t>(kBlob, 12);
  EXPECT_FALSE(Read(kBlob).first);
  EXPECT_EQ(Value<int32_t>(kBlob), 12);
  cursor_->SetBlobStamp(kBlob, image_.data(), true, 99);
  EXPECT_EQ(cursor_->GetBlobStamp(kBlob, image_.data(), false), 99);
  Set<int32_t>(kBlob, 0);
  EXPECT_TRUE(Read(kBlob).first) << "reference 0 is no BLOB";
  // A handle that names none of the cursor's buffers stores no value.
  Set<int32_t>(kBlob, TDataCursor::BlobBufferHandle(3));
  EXPECT_EQ(image_[cursor_->GetCursorFieldDesc(kBlob).Offset], 0);
  EXPECT_EQ(Value<int32_t>(kBlob), -4);
}

TEST_F(CursorFieldsTest, NewImagesTakeTheFieldsDefaults) {
  const TTimeStamp before = DateTimeToTimeStamp(Now());
  cursor_->InitRecord(image_.data());
  const TTimeStamp after = DateTimeToTimeStamp(Now());
  EXPECT_EQ(Text(kUpper), "ABC");
  EXPECT_EQ(Value<int16_t>(kBool), 1);
  EXPECT_EQ(Value<int16_t>(kSmall), -3);
  EXPECT_EQ(Value<int32_t>(kInt), 42);
  EXPECT_EQ(Value<int64_t>(kBcd), CurrencyToBcd(2, StrToCurr("12.5")));
  const int32_t date = Value<int32_t>(kDate);
  EXPECT_TRUE(date == before.Date || date == after.Date);
  const double stamp = Value<double>(kStamp);
  EXPECT_GE(stamp, TimeStampToMSecs(before));
  EXPECT_LE(stamp, TimeStampToMSecs(after));
  const int32_t time = Value<int32_t>(kTime);
  EXPECT_TRUE(time >= before.Time || before.Date != after.Date);
  EXPECT_TRUE(time <= after.Time || before.Date != after.Date);
  EXPECT_TRUE(Read(kBlob).first) << "a BLOB default stays null";
  EXPECT_TRUE(Read(kLower).first) << "no default, no value";
}

TEST_F(CursorFieldsTest, DerivedFieldsFollowTheColumnsTheyAreComputedFrom) {
  std::vector<FieldDescriptor> fields;
  for (int32_t i = 1; i <= cursor_->GetFieldCount(); ++i) {
    fields.push_back(cursor_->GetTableFieldDesc(i));
  }
  FieldDescriptor twice = Field("TWICE", kFldInteger);
  twice.Number = static_cast<int16_t>(fields.size() + 1);
  twice.Derived = 1;
  SetPhysicalLength(twice);
  fields.push_back(twice);
  // TWICE = I * 2
  TExpToken* product = GetToken();
  TExpToken* column = GetToken();
  TExpToken* two = GetToken();
  product->Kind = kTokenBinary;
  product->Code = kOpMultiply;
  product->Type = kFldInteger;
  column->Kind = kTokenColumn;
  column->ColumnName = "I";
  column->FieldNumber = kInt;
  column->Type = kFldInteger;
  two->Kind = kTokenConstant;
  two->Type = kFldInteger;
  two->SetValueSize(4);
  StoreValue<int32_t>(two->Value(), 2);
  product->Left = column;
  product->Right = two;
  std::vector<const TExpToken*> expressions(fields.size(), nullptr);
  expressions.back() = product;
  cursor_->SetFieldDescs(fields, expressions);
  const int32_t derived = twice.Number;
  EXPECT_EQ(cursor_->GetRecordSize(), cursor_->Table()->DataFile().RecordSize() + 5);
  EXPECT_EQ(cursor_->GetCursorFieldDesc(derived).QualifiedName, "F.TWICE");
  image_.assign(static_cast<size_t>(cursor_->GetRecordSize()), 0);
  Set<int32_t>(kInt, 21);
  EXPECT_EQ(Value<int32_t>(derived), 42);
  Set<int32_t>(derived, 5);
  EXPECT_EQ(Value<int32_t>(derived), 42) << "written only with allow-derived";
  cursor_->SetFieldData(kInt, image_.data(), false, nullptr);
  EXPECT_TRUE(Read(derived).first);
  for (TExpToken* t : {product, column, two}) ReleaseToken(t);
  EXPECT_EQ(ErrorCodeOf([&] { cursor_->GetCursorFieldDesc(derived + 1); }), kErrInvalidField);
}

}  // namespace
}  // namespace jw::test
