// The data file's bytes as every stored table has them: header, field
// descriptors and record layout, pinned at their offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/core/data_file.h"
#include "platform/rtl/clock.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

// Physical lengths as the format's table gives them, written out here
// independently of the code.
int ExpectedPhysicalLength(int type, int size) {
  switch (type) {
    case 1:
      return size + 1;
    case 9:
    case 15:
      return size;
    case 3:
    case 7:
    case 8:
    case 11:
      return 8;
    case 4:
    case 5:
    case 12:
      return 2;
    case 14:
      return 10;
    default:
      return 4;
  }
}

std::vector<FieldDescriptor> EveryTypeDefinition() {
  FieldDescriptor name = Field("NAME", kFldString, 20);
  name.Required = 1;
  name.Minimum = "A";
  name.Maximum = "Z";
  name.Default = "M";
  name.Description = "the name";
  return {name,
          Field("BORN", kFldDate),
          Field("NOTES", kFldBlob),
          Field("FLAG", kFldBoolean),
          Field("SMALL", kFldSmallInt),
          Field("COUNT", kFldInteger),
          Field("RATE", kFldFloat),
          Field("AMOUNT", kFldBcd, 0, 0, 2),
          Field("RAW", kFldBytes, 16),
          Field("AT", kFldTime),
          Field("STAMP", kFldTimeStamp),
          Field("W", kFldWord),
          Field("PRICE", kFldFloat, 0, kSubTypeMoney),
          Field("ID", kFldInteger, 0, kSubTypeAutoInc),
          Field("PIC", kFldBlob)};
}

bool AllZero(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(DataFileFormat, GoldenLayoutOfEveryFieldType) {
  ScratchDir dir;
  FakeTable table;
  const double now = 45000.5;
  TFixedClock clock(now);
  TScopedClock scope(clock);
  const auto fields = EveryTypeDefinition();
  {
    TDataFile file(&table);
    CreateTable(file, dir.Path("ALL.DAT"), fields);
  }
  const auto bytes = ReadWholeFile(dir.Path("ALL.DAT"));

  int expected_size = 9;
  std::vector<int> expected_offsets;
  for (const auto& f : fields) {
    if (f.Type == 6 && f.SubType == 29) {
      expected_offsets.push_back(5);
    } else {
      expected_offsets.push_back(expected_size);
      expected_size += ExpectedPhysicalLength(f.Type, f.Size) + 1;
    }
  }
  const size_t data_start = 127 + fields.size() * 768;
  ASSERT_EQ(bytes.size(), data_start);

  EXPECT_EQ(GetInt32(&bytes[0]), 1);  // one header write
  EXPECT_EQ(GetInt32(&bytes[4]), 0);
  EXPECT_EQ(bytes[8], 4);
  EXPECT_EQ(GetInt32(&bytes[9]), 0);
  EXPECT_EQ(GetInt32(&bytes[13]), 1);
  EXPECT_EQ(GetInt32(&bytes[17]), 0);
  EXPECT_EQ(GetUInt16(&bytes[21]), expected_size);
  EXPECT_EQ(GetUInt16(&bytes[23]), fields.size());
  EXPECT_EQ(GetInt16(&bytes[25]), 2);
  EXPECT_EQ(GetFloat64(&bytes[27]), now - 693594.0);
  EXPECT_EQ(bytes[35], 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[36]), 10), "test table");
  EXPECT_EQ(bytes[86], 0);
  EXPECT_EQ(bytes[87], 0);
  EXPECT_EQ(GetInt64(&bytes[116]), 21200);
  EXPECT_EQ(bytes[111], 0);  // no write in progress
  EXPECT_TRUE(AllZero(bytes, 124, 127));

  for (size_t i = 0; i < fields.size(); ++i) {
    SCOPED_TRACE(fields[i].Name);
    const uint8_t* d = &bytes[127 + i * 768];
    EXPECT_EQ(GetInt16(d + 0), static_cast<int>(i + 1));
    EXPECT_EQ(d[2], fields[i].Name.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + 3), d[2]), fields[i].Name);
    EXPECT_EQ(d[84], fields[i].Type);
    EXPECT_EQ(d[85], fields[i].SubType);
    EXPECT_EQ(d[86], fields[i].Size);
    EXPECT_EQ(d[87], fields[i].Decimals);
    EXPECT_EQ(d[88], ExpectedPhysicalLength(fields[i].Type, fields[i].Size));
    EXPECT_EQ(d[89], fields[i].Decimals);
    EXPECT_EQ(GetUInt16(d + 90), expected_offsets[i]);
    EXPECT_EQ(d[93], 0);
    EXPECT_EQ(d[247], 0);
    EXPECT_EQ(d[253], 0);
    const std::vector<uint8_t> descriptor(d, d + 768);
    EXPECT_TRUE(AllZero(descriptor, 248, 253));
    EXPECT_TRUE(AllZero(descriptor, 254, 768));
  }
  const uint8_t* name = &bytes[127];
  EXPECT_EQ(name[33], 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(name + 34), 8), "the name");
  EXPECT_EQ(name[92], 1);
  EXPECT_EQ(name[94], 1);
  EXPECT_EQ(name[95], 'A');
  EXPECT_EQ(name[145], 1);
  EXPECT_EQ(name[146], 'Z');
  EXPECT_EQ(name[196], 1);
  EXPECT_EQ(name[197], 'M');
}

TEST(DataFileFormat, PhysicalLengthOfEveryType) {
  const struct {
    uint8_t type, size;
    int length;
  } rows[] = {{1, 20, 21}, {1, 250, 251}, {2, 0, 4},   {3, 0, 8},   {4, 0, 2},  {5, 0, 2},
              {6, 0, 4},   {7, 0, 8},     {8, 0, 8},   {9, 16, 16}, {10, 0, 4}, {11, 0, 8},
              {12, 0, 2},  {13, 0, 4},    {14, 0, 10}, {15, 7, 7},  {0, 9, 0},  {16, 0, 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(PhysicalFieldLength(row.type, row.size), row.length) << int(row.type);
  }
}

TEST(DataFileFormat, HeaderRoundTripsAndRefusesOverlongStrings) {
  TDataFileHeader h;
  h.ChangeCounter = -7;
  h.BlobBlockSize = 1024;
  h.Version = 4;
  h.FreeHead = 3;
  h.NextRecord = 99;
  h.LastAutoInc = 0x7FFFFFFF;
  h.RecordSize = 65535;
  h.FieldCount = 1024;
  h.BlobFieldCount = 64;
  h.LastWriteTime = -1.25;
  h.Description = std::string(50, 'd');
  h.Encrypted = 1;
  h.Password = "secret";
  h.LanguageId = 0x0407;
  h.SortId = 1;
  h.UserMajor = -2;
  h.UserMinor = 3;
  h.LastBlobStamp = 12;
  h.EngineVersion = 21200;
  uint8_t bytes[kHeaderSize];
  h.EncodeTo(bytes);
  TDataFileHeader back;
  ASSERT_TRUE(back.DecodeFrom(bytes));
  uint8_t again[kHeaderSize];
  back.EncodeTo(again);
  EXPECT_EQ(std::memcmp(bytes, again, kHeaderSize), 0);
  EXPECT_EQ(bytes[kHdrRecordSize], 0xFF);
  EXPECT_EQ(bytes[kHdrLanguageId], 0x07);
  EXPECT_EQ(bytes[kHdrLanguageId + 1], 0x04);

  bytes[kHdrDescription] = 51;
  EXPECT_FALSE(back.DecodeFrom(bytes));
  bytes[kHdrDescription] = 50;
  bytes[kHdrPassword] = 16;
  EXPECT_FALSE(back.DecodeFrom(bytes));
}

TEST(DataFileFormat, DescriptorRefusesOverlongStrings) {
  FieldDescriptor f = Field("X", kFldString, 5);
  uint8_t bytes[kFieldDescriptorSize];
  const struct {
    int offset, max;
  } strings[] = {{kFdName, 30},    {kFdDescription, 50}, {kFdMinimum, 50},
                 {kFdMaximum, 50}, {kFdDefault, 50},     {kFdQualifiedName, 100}};
  for (const auto& s : strings) {
    f.EncodeTo(bytes);
    bytes[s.offset] = static_cast<uint8_t>(s.max);
    FieldDescriptor back;
    EXPECT_TRUE(back.DecodeFrom(bytes)) << s.offset;
    bytes[s.offset] = static_cast<uint8_t>(s.max + 1);
    EXPECT_FALSE(back.DecodeFrom(bytes)) << s.offset;
  }
}

TEST(DataFileFormat, AllAutoIncOrDerivedGivesRecordSizeNine) {
  ScratchDir dir;
  FakeTable table;
  FieldDescriptor derived = Field("D", kFldInteger);
  derived.Derived = 1;
  TDataFile file(&table);
  CreateTable(file, dir.Path("T.DAT"), {Field("ID", kFldInteger, 0, kSubTypeAutoInc), derived});
  EXPECT_EQ(file.RecordSize(), 9);
}

TEST(DataFileFormat, SeedPairsArePinned) {
  // Changing them makes every encrypted table unreadable.
  EXPECT_EQ(kPasswordSeed.K1, 0x5D);
  EXPECT_EQ(kPasswordSeed.K2, 0xA7);
  EXPECT_EQ(kRecordSeed.K1, 0x39);
  EXPECT_EQ(kRecordSeed.K2, 0xC4);
}

}  // namespace
}  // namespace jw::test
