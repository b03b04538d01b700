#include <gtest/gtest.h>

#include "engine/core/data_file_format.h"
#include "engine/dataset/field_type_map.h"
#include "engine/support/field_types.h"

namespace jw {
namespace {

struct EngineRow {
  uint8_t type;
  uint8_t sub_type;
  bool defined;
  TFieldType field_type;
  int32_t size;  // with a descriptor of size 12 and 3 decimals
};

TEST(FieldTypeMap, EngineTypesBecomeFieldTypesAndSomeMakeNoDefinition) {
  const EngineRow rows[] = {
      {1, 0, true, ftString, 12},      {2, 0, true, ftDate, 0},
      {3, 22, true, ftMemo, 0},        {3, 24, true, ftFmtMemo, 0},
      {3, 26, true, ftGraphic, 0},     {3, 28, true, ftTypedBinary, 0},
      {3, 0, true, ftBlob, 0},         {3, 23, true, ftBlob, 0},
      {4, 0, true, ftBoolean, 0},      {5, 0, true, ftSmallint, 0},
      {6, 29, true, ftAutoInc, 0},     {6, 0, true, ftInteger, 0},
      {7, 21, true, ftCurrency, 0},    {7, 0, true, ftFloat, 0},
      {8, 0, true, ftBCD, 3},          {9, 0, true, ftBytes, 12},
      {10, 0, true, ftTime, 0},        {11, 0, true, ftDateTime, 0},
      {12, 0, true, ftWord, 0},        {13, 0, true, ftInteger, 0},
      {15, 0, true, ftVarBytes, 12},   {18, 0, true, ftLargeint, 0},
      {19, 0, true, ftLargeint, 0},    {20, 0, true, ftADT, 0},
      {21, 0, true, ftArray, 0},       {22, 0, true, ftReference, 0},
      {23, 0, true, ftDataSet, 0},     {0, 0, false, ftUnknown, 0},
      {14, 0, false, ftUnknown, 0},    {16, 0, false, ftUnknown, 0},
      {17, 0, false, ftUnknown, 0},    {24, 0, false, ftUnknown, 0},
      {255, 0, false, ftUnknown, 0},
  };
  for (const EngineRow& row : rows) {
    FieldDescriptor field;
    field.Type = row.type;
    field.SubType = row.sub_type;
    field.Size = 12;
    field.Decimals = 3;
    TFieldType type = ftUnknown;
    int32_t size = -1;
    SCOPED_TRACE(testing::Message() << "engine type " << int{row.type} << "/" << int{row.sub_type});
    ASSERT_EQ(FieldTypeOfEngine(field, type, size), row.defined);
    if (!row.defined) continue;
    EXPECT_EQ(type, row.field_type);
    EXPECT_EQ(size, row.size);
  }
}

TEST(FieldTypeMap, FieldTypesBecomeEngineTypesAndSubtypes) {
  // Every framework type, by ordinal: engine type, subtype.
  const TEngineFieldType expected[] = {
      {0, 0},   {1, 0},  {5, 0},  {6, 0},  {12, 0}, {4, 0},  {7, 0},  {7, 21}, {8, 0},
      {2, 0},   {10, 0}, {11, 0}, {9, 0},  {15, 0}, {6, 29}, {3, 0},  {3, 22}, {3, 26},
      {3, 24},  {3, 0},  {3, 0},  {3, 28}, {17, 0}, {1, 31}, {1, 32}, {18, 0}, {20, 0},
      {21, 0},  {22, 0}, {23, 0}, {3, 0},  {3, 0},  {0, 0},  {0, 0},  {0, 0},  {1, 0},
  };
  static_assert(std::size(expected) == ftGuid + 1);
  for (int ordinal = 0; ordinal <= ftGuid; ++ordinal) {
    SCOPED_TRACE(ordinal);
    EXPECT_EQ(EngineTypeOf(static_cast<TFieldType>(ordinal)), expected[ordinal]);
  }
  // Every type a table can hold comes back as itself.
  for (uint8_t type = 1; type <= 12; ++type) {
    FieldDescriptor field;
    field.Type = type;
    for (uint8_t sub_type : {0, 21, 22, 24, 26, 28, 29}) {
      field.SubType = sub_type;
      TFieldType field_type = ftUnknown;
      int32_t size = 0;
      ASSERT_TRUE(FieldTypeOfEngine(field, field_type, size));
      EXPECT_EQ(EngineTypeOf(field_type).Type, type);
    }
  }
}

}  // namespace
}  // namespace jw
