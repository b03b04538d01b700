// Field values in the dataset's native forms: the bytes each field class
// stores for a value, the value it reads back, and the values it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "array_data_set.h"
#include "platform/db/field.h"
#include "platform/rtl/date_time.h"

namespace jw {
namespace {

// Stores BCD values as the engine does: the unscaled digits of four
// decimals followed by the scale digit, so 12.5 becomes 1250004.
class TBcdArrayDataSet : public TArrayDataSet {
 public:
  using TArrayDataSet::TArrayDataSet;

 protected:
  void DataConvert(TField* field, const void* source, void* dest, bool to_native) override {
    if (field->DataType() != ftBCD) {
      TArrayDataSet::DataConvert(field, source, dest, to_native);
      return;
    }
    int64_t value = 0;
    std::memcpy(&value, source, 8);
    value = to_native ? value * 10 + 4 : (value - 4) / 10;
    std::memcpy(dest, &value, 8);
  }
};

template <class T>
std::vector<uint8_t> Bytes(T value) {
  std::vector<uint8_t> bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

std::vector<uint8_t> Text(const char* text, size_t size) {
  return std::vector<uint8_t>(text, text + size);
}

const std::vector<ArrayFieldSpec> kSpecs = {
    {"Name", ftString, 5},  {"Small", ftSmallint}, {"Count", ftInteger},  {"Flag", ftWord},
    {"Yes", ftBoolean},     {"Ratio", ftFloat},    {"Price", ftCurrency}, {"Amount", ftBCD, 4},
    {"Day", ftDate},        {"Clock", ftTime},     {"Stamp", ftDateTime}, {"Raw", ftBytes, 3},
    {"Var", ftVarBytes, 4},
};

TEST(FieldValuesTest, FieldsStoreTheNativeFormsAndReadThemBack) {
  TBcdArrayDataSet dataset(nullptr, kSpecs);
  dataset.AddRecord();
  dataset.Open();
  const TDateTime noon_2000 = EncodeDate(2000, 1, 1) + EncodeTime(12, 0, 0, 0);
  const struct {
    const char* field;
    Variant value;
    std::vector<uint8_t> stored;
    Variant read_back;
  } cases[] = {
      {"Name", "Hello world", Text("Hello", 6), "Hello"},
      {"Small", -2, Bytes<int16_t>(-2), -2},
      {"Count", 123456, Bytes<int32_t>(123456), 123456},
      {"Flag", 65535, Bytes<uint16_t>(65535), 65535},
      {"Yes", true, Bytes<int16_t>(1), true},
      {"Ratio", 2.5, Bytes<double>(2.5), 2.5},
      {"Price", 3.25, Bytes<double>(3.25), 3.25},
      {"Amount", Currency::FromRaw(125000), Bytes<int64_t>(1250004), Currency::FromRaw(125000)},
      {"Day", VarFromDateTime(EncodeDate(1, 1, 1)), Bytes<int32_t>(1),
       VarFromDateTime(EncodeDate(1, 1, 1))},
      {"Day", VarFromDateTime(0), Bytes<int32_t>(kDateDelta), VarFromDateTime(0)},
      {"Clock", VarFromDateTime(EncodeTime(1, 2, 3, 4)), Bytes<int32_t>(3723004),
       VarFromDateTime(EncodeTime(1, 2, 3, 4))},
      {"Stamp", VarFromDateTime(noon_2000), Bytes<double>(63082411200000.0),
       VarFromDateTime(noon_2000)},
      {"Raw", "ab", Text("ab", 3), std::string("ab", 3)},
      {"Var", "xyz", Text("\3\0xyz", 6), "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = " + VarToStr(c.value));
    TField* field = dataset.FieldByName(c.field);
    dataset.Edit();
    field->SetValue(c.value);
    dataset.Post();
    EXPECT_EQ(dataset.RecordField(0, field->FieldNo() - 1), c.stored);
    EXPECT_EQ(VarCompare(field->Value(), c.read_back), 0) << VarToStr(field->Value());
    EXPECT_FALSE(field->IsNull());
  }

  TField* count = dataset.FieldByName("Count");
  dataset.Edit();
  count->Clear();
  dataset.Post();
  EXPECT_TRUE(dataset.RecordField(0, 2).empty());
  EXPECT_TRUE(count->IsNull());
  EXPECT_TRUE(VarIsNull(count->Value()));
  EXPECT_EQ(count->AsInteger(), 0);
  EXPECT_EQ(count->AsString(), "");
}

TEST(FieldValuesTest, FieldsRefuseValuesTheyCannotHold) {
  TArrayDataSet dataset(nullptr, kSpecs);
  dataset.Open();
  dataset.Append();
  const struct {
    const char* field;
    std::function<void(TField*)> write;
    const char* message;
  } cases[] = {
      {"Small", [](TField* f) { f->SetAsInteger(40000); },
       "40000 is not a valid value for field 'Small'. The allowed range is -32768 to 32767"},
      {"Flag", [](TField* f) { f->SetAsInteger(-1); },
       "-1 is not a valid value for field 'Flag'. The allowed range is 0 to 65535"},
      {"Yes", [](TField* f) { f->SetAsString("maybe"); },
       "'maybe' is not a valid boolean value for field 'Yes'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    try {
      c.write(dataset.FieldByName(c.field));
      ADD_FAILURE() << "the value was taken";
    } catch (const EDatabaseError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
    EXPECT_TRUE(dataset.FieldByName(c.field)->IsNull());
  }
  dataset.Cancel();
  try {
    dataset.FieldByName("Count")->SetAsInteger(1);
    ADD_FAILURE() << "a browsing dataset took a value";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Dataset not in edit or insert mode");
  }
}

}  // namespace
}  // namespace jw
