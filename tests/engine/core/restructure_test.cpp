// Restructuring a table through a cursor, each path against a model of the
// rows: header values and names written in place with no other file made;
// indexes rebuilt behind an ".IBK" backup, with the data-loss handler's
// every answer; and the full copy with per-field conversion.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "engine/support/language_settings.h"
#include "engine/support/value_conversions.h"
#include "platform/os/os_file_faults.h"

#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_verifier.h"

namespace jw::test {
namespace {

enum : int16_t { kId = 1, kName, kCode };

TTableDefinition Definition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 16),
              Field("CODE", kFldInteger)};
  for (size_t k = 0; k < d.Fields.size(); ++k) d.Fields[k].Number = static_cast<int16_t>(k + 1);
  d.Indexes = {Index("", {kCode}), Index("ByName", {kName}, false)};
  d.Description = "rows";
  d.BlobBlockSize = 512;
  return d;
}

struct Loss {
  TDataLossKind kind;
  std::string text;
  bool operator==(const Loss&) const = default;
};

// How a data-loss handler answers.
struct Answers {
  bool go_on = true;
  bool for_all = false;
  std::vector<Loss> asked;
};

void AnswerLoss(void* user, TDataLossKind kind, const std::string& text, bool& answer_for_all,
                bool& go_on) {
  auto* answers = static_cast<Answers*>(user);
  answers->asked.push_back({kind, text});
  answer_for_all = answers->for_all;
  go_on = answers->go_on;
}

class Restructure : public ::testing::Test {
 protected:
  // Codes 10, 20, ... and names that repeat every fifth record.
  void SetUp() override {
    db.Create("T", Definition());
    TableLoader loader(db.directory, "T");
    for (int32_t k = 0; k < kRows; ++k) {
      std::vector<uint8_t> image = loader.Image();
      const std::string name = "name" + std::to_string(k % (kRows / 5));
      PutString(loader.Data(), image, kName, name);
      PutInt(loader.Data(), image, kCode, (k + 1) * 10);
      loader.Insert(image);
      rows.emplace_back(name, (k + 1) * 10);
    }
  }

  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(db.dir.Path(""))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::unique_ptr<TDataCursor> Closed(Answers* answers) {
    auto cursor = std::make_unique<TDataCursor>(db.directory);
    cursor->SetTableName("T");
    cursor->SetExclusive(true);
    if (answers != nullptr) cursor->SetDataLossHandler(AnswerLoss, answers);
    return cursor;
  }

  std::vector<std::pair<std::string, int32_t>> Walk(const std::string& index) {
    return WalkTextAndInt(*db.Open("T"), index, kName, kCode);
  }

  std::vector<uint8_t> Records() const {
    const std::vector<uint8_t> bytes = ReadWholeFile(db.dir.Path("T.DAT"));
    const size_t start = bytes.size() - static_cast<size_t>(kRows) * record_size;
    return {bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end()};
  }

  void GoOn(bool no_backup);

  static constexpr int32_t kRows = 2000;
  static constexpr size_t record_size = 9 + 17 + 5;
  CursorDatabase db;
  std::vector<std::pair<std::string, int32_t>> rows;
};

TEST_F(Restructure, HeaderValuesAndNamesAreWrittenInPlaceWithNoOtherFile) {
  const std::set<std::string> files = Files();
  const std::vector<uint8_t> records = Records();
  TTableDefinition d = Definition();
  d.Fields[1].Name = "LABEL";
  d.Indexes[1].Name = "Labels";
  d.Description = "renamed rows";
  d.UserMajor = 3;
  d.UserMinor = 4;
  TRestructureOptions options;
  options.LastAutoInc = 5000;
  auto cursor = Closed(nullptr);
  ASSERT_TRUE(cursor->RestructureTable(d, options));
  EXPECT_FALSE(cursor->IsOpen());
  EXPECT_EQ(Files(), files);
  EXPECT_EQ(Records(), records);
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  auto open = db.Open("T");
  const TDataFile& data = open->Table()->DataFile();
  EXPECT_EQ(data.FieldDesc(kName).Name, "LABEL");
  EXPECT_EQ(data.Description(), "renamed rows");
  EXPECT_EQ(data.UserMajor(), 3);
  EXPECT_EQ(data.UserMinor(), 4);
  EXPECT_EQ(data.LastAutoInc(), 5000);
  open->Close(false);
  std::vector<std::pair<std::string, int32_t>> by_name = rows;
  std::stable_sort(by_name.begin(), by_name.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  EXPECT_EQ(Walk("Labels"), by_name);
  // A restructure needs the closed cursor's exclusive option.
  auto shared = db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { shared->RestructureTable(d, options); }), kErrTableInUse);
  shared->Close(false);
  auto plain = std::make_unique<TDataCursor>(db.directory);
  plain->SetTableName("T");
  EXPECT_EQ(ErrorCodeOf([&] { plain->RestructureTable(d, options); }), kErrMustBeExclusive);
}

// A unique index over the repeating names, and one more index.
TTableDefinition UniqueNames() {
  TTableDefinition d = Definition();
  d.Indexes[1] = Index("ByName", {kName}, true);
  d.Indexes.push_back(Index("Desc", {kCode}, true, 0, true));
  return d;
}

TEST_F(Restructure, IndexOnlyPathStoppedLeavesTheTableAsItWas) {
  const TTableDefinition d = UniqueNames();
  const std::set<std::string> files = Files();
  const std::vector<uint8_t> records = Records();
  const auto by_name_before = Walk("ByName");
  struct Case {
    const char* name;
    bool handler, for_all, no_backup;
  };
  for (const Case& c : {Case{"no handler", false, false, false}, Case{"stop", true, false, false},
                        Case{"stop for all, no backup", true, true, true}}) {
    SCOPED_TRACE(c.name);
    Answers answers{false, c.for_all, {}};
    auto cursor = Closed(c.handler ? &answers : nullptr);
    TRestructureOptions options;
    options.NoBackup = c.no_backup;
    if (c.handler) {
      EXPECT_FALSE(cursor->RestructureTable(d, options));
      EXPECT_EQ(answers.asked, (std::vector<Loss>{{TDataLossKind::DuplicateKey, "ByName"}}));
    } else {
      try {
        cursor->RestructureTable(d, options);
        ADD_FAILURE() << "no loss was reported";
      } catch (const EQuireEngineError& e) {
        EXPECT_EQ(e.Code(), kErrDuplicateKey);
        EXPECT_NE(e.Message().find("ByName"), std::string::npos) << e.Message();
      }
    }
    EXPECT_FALSE(cursor->IsOpen());
    EXPECT_EQ(Records(), records);
    EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
    EXPECT_EQ(Walk("ByName"), by_name_before);
    EXPECT_EQ(ErrorCodeOf([&] { Walk("Desc"); }), kErrInvalidIndexName);
    std::set<std::string> expected = files;
    if (!c.no_backup) expected.insert("T.IBK");
    EXPECT_EQ(Files(), expected);
    std::filesystem::remove(db.dir.Path("T.IBK"));
  }
}

// Going on removes every record beyond the first of its name.
void Restructure::GoOn(bool no_backup) {
  const TTableDefinition d = UniqueNames();
  std::vector<std::pair<std::string, int32_t>> first_of_each;
  std::set<std::string> seen;
  for (const auto& row : rows) {
    if (seen.insert(row.first).second) first_of_each.push_back(row);
  }
  std::sort(first_of_each.begin(), first_of_each.end());
  const std::set<std::string> files = Files();
  Answers answers{true, false, {}};
  std::vector<int32_t> percents;
  auto cursor = Closed(&answers);
  cursor->SetRestructureProgressHandler(
      [](void* user, int32_t, int32_t percent) {
        static_cast<std::vector<int32_t>*>(user)->push_back(percent);
      },
      &percents);
  TRestructureOptions options;
  options.NoBackup = no_backup;
  ASSERT_TRUE(cursor->RestructureTable(d, options));
  EXPECT_EQ(answers.asked.size(), rows.size() - first_of_each.size());
  EXPECT_EQ(static_cast<int32_t>(percents.size()), kRows);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  EXPECT_EQ(Walk("ByName"), first_of_each);
  auto descending = first_of_each;
  std::sort(descending.begin(), descending.end(),
            [](const auto& a, const auto& b) { return a.second > b.second; });
  EXPECT_EQ(Walk("Desc"), descending);
  std::set<std::string> expected = files;
  if (!no_backup) expected.insert("T.IBK");
  EXPECT_EQ(Files(), expected);
}

TEST_F(Restructure, IndexOnlyPathGoingOnRemovesRefusedRecordsAndKeepsTheBackup) {
  GoOn(false);
}

TEST_F(Restructure, IndexOnlyPathWithNoBackupLeavesNoBackup) {
  GoOn(true);
}

// ---- the full copy ----

std::unique_ptr<TDataCursor> OpenExclusive(CursorDatabase& db, const std::string& name) {
  auto cursor = std::make_unique<TDataCursor>(db.directory);
  cursor->SetTableName(name);
  cursor->SetExclusive(true);
  cursor->SetNaturalOrder(true);
  cursor->Open();
  return cursor;
}

std::map<std::string, std::vector<uint8_t>> FileBytes(const CursorDatabase& db) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(db.dir.Path(""))) {
    files[entry.path().filename().string()] = ReadWholeFile(entry.path().string());
  }
  return files;
}

using Value = std::array<uint8_t, 2 * kValueBufferSize>;

template <class T>
Value Of(T v) {
  Value value{};
  std::memcpy(value.data(), &v, sizeof v);
  return value;
}

Value Text(const char* text) {
  Value value{};
  std::memcpy(value.data(), text, std::strlen(text));
  return value;
}

struct TypeColumn {
  const char* name;
  uint8_t type;
  uint8_t size;
  uint8_t decimals;
  std::vector<Value> values;  // one per row; an empty optional row is null
};

std::vector<TypeColumn> TypeColumns() {
  return {
      {"S", kFldString, 12, 0, {Text("123"), Text("abc"), Text("2.5")}},
      {"SI", kFldSmallInt, 0, 0, {Of<int16_t>(5), Of<int16_t>(-7), Of<int16_t>(300)}},
      {"I", kFldInteger, 0, 0, {Of<int32_t>(42), Of<int32_t>(70000), Of<int32_t>(-1)}},
      {"F", kFldFloat, 0, 0, {Of(2.5), Of(1e10), Of(-0.25)}},
      {"B", kFldBoolean, 0, 0, {Of<int16_t>(1), Of<int16_t>(0), Of<int16_t>(1)}},
      {"D", kFldDate, 0, 0, {Of<int32_t>(730000), Of<int32_t>(1), Of<int32_t>(800000)}},
      {"W", kFldWord, 0, 0, {Of<uint16_t>(7), Of<uint16_t>(65000), Of<uint16_t>(0)}},
      {"C",
       kFldBcd,
       0,
       2,
       {Of(FloatToBcd(2, 12.5)), Of(FloatToBcd(2, -3.25)), Of(FloatToBcd(2, 1e6))}},
      {"T", kFldTime, 0, 0, {Of<int32_t>(3600000), Of<int32_t>(0), Of<int32_t>(86399000)}},
      {"TS", kFldTimeStamp, 0, 0, {Of(6.3e13), Of(1.0), Of(6.4e13)}},
  };
}

// Every stored value type into every other: the copy must give exactly what
// the engine's value conversion gives, a null and a loss of kind 4 naming
// the field where it refuses or where a text would not fit its new string
// field, and keep nulls null.
TEST(RestructureCopy, EveryTypePairConvertsAsTheValueConversionDoes) {
  const std::vector<TypeColumn> columns = TypeColumns();
  const size_t rows = columns[0].values.size() + 1;  // the last row is all null
  for (const TypeColumn& target : columns) {
    SCOPED_TRACE(std::string("into ") + target.name);
    CursorDatabase db;
    TTableDefinition d;
    d.BlobBlockSize = 512;
    d.Fields.push_back(Field("ID", kFldInteger, 0, kSubTypeAutoInc));
    for (const TypeColumn& c : columns)
      d.Fields.push_back(Field(c.name, c.type, c.size, 0, c.decimals));
    for (size_t k = 0; k < d.Fields.size(); ++k) d.Fields[k].Number = static_cast<int16_t>(k + 1);
    d.Indexes = {Index("", {1})};
    db.Create("C", d);
    {
      auto cursor = OpenExclusive(db, "C");
      std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
      for (size_t r = 0; r < rows; ++r) {
        cursor->InitRecord(image.data());
        for (size_t k = 0; k < columns.size() && r + 1 < rows; ++k) {
          cursor->SetTableFieldData(static_cast<int32_t>(k) + 2, image.data(),
                                    columns[k].values[r].data());
        }
        cursor->InsertRecord(image.data(), false);
      }
    }
    TTableDefinition wanted = d;
    for (size_t k = 1; k < wanted.Fields.size(); ++k) {
      wanted.Fields[k] = Field(columns[k - 1].name, target.type, target.size, 0, target.decimals);
      wanted.Fields[k].Number = static_cast<int16_t>(k + 1);
    }
    std::vector<Loss> expected_losses;
    std::vector<std::vector<std::optional<Value>>> expected(rows);
    for (size_t r = 0; r < rows; ++r) {
      for (const TypeColumn& c : columns) {
        if (r + 1 == rows) {
          expected[r].push_back(std::nullopt);
          continue;
        }
        Value value = c.values[r];
        const TLanguageSwap swap(0, 0);
        // Into a string the whole text is made first: one longer than the
        // field would lose characters, so it does not convert.
        const bool into_text = target.type == kFldString;
        bool converts = ConvertFieldValue(c.type, c.size, c.decimals, value.data(), target.decimals,
                                          into_text ? kValueBufferSize : target.size, target.type);
        if (converts && into_text) {
          std::string text(reinterpret_cast<const char*>(value.data()));
          while (!text.empty() && text.back() == ' ') text.pop_back();
          converts = text.size() <= target.size;
        }
        if (converts) {
          expected[r].push_back(value);
        } else {
          expected[r].push_back(std::nullopt);
          expected_losses.push_back({TDataLossKind::ValueNotConverted, c.name});
        }
      }
    }
    Answers answers{true, false, {}};
    auto cursor = std::make_unique<TDataCursor>(db.directory);
    cursor->SetTableName("C");
    cursor->SetExclusive(true);
    cursor->SetDataLossHandler(AnswerLoss, &answers);
    ASSERT_TRUE(cursor->RestructureTable(wanted, TRestructureOptions()));
    EXPECT_EQ(answers.asked, expected_losses);
    if (target.type == kFldString) {
      // A date and time text is longer than the twelve characters.
      const Loss cut{TDataLossKind::ValueNotConverted, "TS"};
      EXPECT_NE(std::find(expected_losses.begin(), expected_losses.end(), cut),
                expected_losses.end());
    }
    EXPECT_EQ(VerifyTable(db.dir.Path("C.DAT")), std::vector<std::string>{});
    auto check = OpenExclusive(db, "C");
    std::vector<uint8_t> image(static_cast<size_t>(check->GetRecordSize()));
    const int32_t length = PhysicalFieldLength(target.type, target.size);
    for (size_t r = 0; r < rows; ++r) {
      ASSERT_EQ(check->GetNextRecord(image.data()), 0);
      EXPECT_EQ(TDataCursor::GetRecordId(image.data()), static_cast<int32_t>(r) + 1);
      for (size_t k = 0; k < columns.size(); ++k) {
        SCOPED_TRACE(std::string("from ") + columns[k].name + " row " + std::to_string(r));
        Value got{};
        bool null = false;
        check->GetTableFieldData(static_cast<int32_t>(k) + 2, image.data(), null, got.data());
        ASSERT_EQ(null, !expected[r][k].has_value());
        if (null) continue;
        const Value& want = *expected[r][k];
        if (target.type == kFldString) {
          // A string field stores its text without trailing blanks.
          std::string text(reinterpret_cast<const char*>(want.data()));
          while (!text.empty() && text.back() == ' ') text.pop_back();
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data())), text);
        } else {
          EXPECT_EQ(std::memcmp(got.data(), want.data(), static_cast<size_t>(length)), 0);
        }
      }
    }
    EXPECT_EQ(check->GetNextRecord(image.data()), kErrEndOfFile);
  }
}

enum : int16_t { kLName = 2, kLCode, kLMemo };

// Ten rows: names repeating every fifth, codes 0..9, a memo on even rows.
class RestructureLoss : public ::testing::Test {
 protected:
  static TTableDefinition Base() {
    TTableDefinition d;
    d.BlobBlockSize = 512;
    d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 16),
                Field("CODE", kFldInteger), Field("MEMO", kFldBlob)};
    for (size_t k = 0; k < d.Fields.size(); ++k) d.Fields[k].Number = static_cast<int16_t>(k + 1);
    d.Indexes = {Index("", {1}), Index("ByName", {kLName}, false)};
    return d;
  }

  void Make() {
    db = std::make_unique<CursorDatabase>();
    db->Create("L", Base());
    auto cursor = OpenExclusive(*db, "L");
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    for (int32_t k = 0; k < 10; ++k) {
      cursor->InitRecord(image.data());
      const std::string name = "name" + std::to_string(k % 5);
      cursor->SetTableFieldData(kLName, image.data(), name.c_str());
      cursor->SetTableFieldData(kLCode, image.data(), &k);
      if (k % 2 == 0) {
        const std::string memo(700 + k, static_cast<char>('a' + k));
        ASSERT_EQ(cursor->OpenBlob(kLMemo, image.data(), 1, true, 2), 0);
        ASSERT_EQ(cursor->WriteBlob(kLMemo, image.data(), true, static_cast<int32_t>(memo.size()),
                                    memo.data(), 0),
                  0);
      }
      cursor->InsertRecord(image.data(), false);
    }
  }

  // Restructures with the answers (nullptr: no handler).
  bool Run(const TTableDefinition& d, Answers* answers, bool no_backup = false) {
    auto cursor = std::make_unique<TDataCursor>(db->directory);
    cursor->SetTableName("L");
    cursor->SetExclusive(true);
    if (answers != nullptr) cursor->SetDataLossHandler(AnswerLoss, answers);
    TRestructureOptions options;
    options.NoBackup = no_backup;
    const bool done = cursor->RestructureTable(d, options);
    EXPECT_FALSE(cursor->IsOpen());
    return done;
  }

  int32_t Count() {
    auto cursor = OpenExclusive(*db, "L");
    return cursor->GetTotalRecordCount();
  }

  std::unique_ptr<CursorDatabase> db;
};

struct LossCase {
  const char* name;
  TDataLossKind kind;
  const char* text;
  int32_t losses;     // asked when every loss is asked about
  int32_t survivors;  // records after going on
  EngineErrorCode raised;
  void (*change)(TTableDefinition&);
};

TEST_F(RestructureLoss, EveryKindOfLossIsAskedAndEveryAnswerHonoured) {
  const LossCase cases[] = {
      {"dropped field", TDataLossKind::FieldDropped, "CODE", 10, 10, kErrInvalidFieldDefinition,
       [](TTableDefinition& d) { d.Fields.erase(d.Fields.begin() + 2); }},
      {"BLOB into a string", TDataLossKind::ValueNotConverted, "MEMO", 5, 10,
       kErrInvalidFieldDefinition,
       [](TTableDefinition& d) {
         d.Fields[3] = Field("MEMO", kFldString, 20), d.Fields[3].Number = 4;
       }},
      {"unique index over equal names", TDataLossKind::DuplicateKey, "UName", 5, 5,
       kErrDuplicateKey,
       [](TTableDefinition& d) {
         d.Fields[2].Type = kFldFloat;
         d.Indexes.push_back(Index("UName", {kLName}, true));
       }},
      {"minimum", TDataLossKind::ValidityCheck, "CODE", 5, 5, kErrBelowMinimum,
       [](TTableDefinition& d) { d.Fields[2].Minimum = "5"; }},
  };
  for (const LossCase& c : cases) {
    TTableDefinition d = Base();
    c.change(d);
    for (const int mode : {0, 1, 2, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode));
      Make();
      const auto before = FileBytes(*db);
      if (mode == 0) {
        // No handler: the first loss raises, naming its field or index.
        try {
          Run(d, nullptr);
          ADD_FAILURE() << "no loss was reported";
        } catch (const EQuireEngineError& e) {
          EXPECT_EQ(e.Code(), c.raised);
          EXPECT_NE(e.Message().find(c.text), std::string::npos) << e.Message();
        }
        EXPECT_EQ(FileBytes(*db), before);
        continue;
      }
      Answers answers{mode != 3, mode == 2, {}};
      const bool done = Run(d, &answers);
      EXPECT_EQ(done, mode != 3);
      ASSERT_FALSE(answers.asked.empty());
      EXPECT_EQ(answers.asked[0], (Loss{c.kind, c.text}));
      if (mode == 3) {
        // Stopped: the table is byte for byte what it was, no file added.
        EXPECT_EQ(answers.asked.size(), 1u);
        EXPECT_EQ(FileBytes(*db), before);
        continue;
      }
      EXPECT_EQ(static_cast<int32_t>(answers.asked.size()), mode == 2 ? 1 : c.losses);
      EXPECT_EQ(Count(), c.survivors);
      EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
      // The old files are the backups, byte for byte.
      EXPECT_EQ(FileBytes(*db).at("L.DBK"), before.at("L.DAT"));
      EXPECT_EQ(FileBytes(*db).at("L.BBK"), before.at("L.BLB"));
    }
  }
}

TEST_F(RestructureLoss, CopyKeepsValuesAndBlobsAndNoBackupLeavesNone) {
  Make();
  TTableDefinition d = Base();
  d.Fields[2] = Field("AMOUNT", kFldFloat);  // CODE renamed and widened
  d.Fields[2].Number = 3;
  std::swap(d.Fields[1], d.Fields[3]);  // MEMO first, NAME last: renumbered by position
  d.Indexes[1].FieldNumbers[0] = kLName;
  const std::set<std::string> before = [&] {
    std::set<std::string> names;
    for (const auto& [name, bytes] : FileBytes(*db)) names.insert(name);
    return names;
  }();
  ASSERT_TRUE(Run(d, nullptr, true));
  std::set<std::string> after;
  for (const auto& [name, bytes] : FileBytes(*db)) after.insert(name);
  EXPECT_EQ(after, before);
  EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
  auto cursor = OpenExclusive(*db, "L");
  EXPECT_EQ(cursor->GetTableFieldDesc(2).Name, "MEMO");
  EXPECT_EQ(cursor->GetTableFieldDesc(4).Name, "NAME");
  cursor->SetIndexByName("ByName");
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  std::vector<std::string> names;
  cursor->First();
  while (cursor->GetNextRecord(image.data()) == 0) {
    bool null = false;
    char name[17] = {};
    double amount = 0;
    cursor->GetTableFieldData(4, image.data(), null, name);
    cursor->GetTableFieldData(3, image.data(), null, &amount);
    const int32_t k = TDataCursor::GetRecordId(image.data()) - 1;
    EXPECT_EQ(amount, k);
    EXPECT_EQ(std::string(name), "name" + std::to_string(k % 5));
    int32_t size = 0;
    ASSERT_EQ(cursor->OpenBlob(2, image.data(), 1, true, 1), 0);
    ASSERT_EQ(cursor->GetBlobSize(2, image.data(), true, size), 0);
    std::string memo(static_cast<size_t>(size), '\0');
    int32_t read = 0;
    if (size > 0) {
      ASSERT_EQ(cursor->ReadBlob(2, image.data(), true, read, size, memo.data(), 0), 0);
    }
    EXPECT_EQ(memo, k % 2 == 0 ? std::string(700 + k, static_cast<char>('a' + k)) : "");
    EXPECT_EQ(cursor->CloseBlob(2, image.data(), 1, true), 0);
    names.emplace_back(name);
  }
  EXPECT_EQ(names.size(), 10u);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

// Records a rebuilt unique index refuses go with their BLOBs: the
// verifier's block census finds every block of theirs free again.
TEST_F(RestructureLoss, IndexOnlyPathRemovesRefusedRecordsWithTheirBlobs) {
  Make();
  TTableDefinition d = Base();
  d.Indexes[1] = Index("ByName", {kLName}, true);
  Answers answers{true, true, {}};
  ASSERT_TRUE(Run(d, &answers));
  EXPECT_EQ(answers.asked, (std::vector<Loss>{{TDataLossKind::DuplicateKey, "ByName"}}));
  EXPECT_EQ(Count(), 5);
  EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
  const auto files = FileBytes(*db);
  EXPECT_EQ(files.count("L.IBK"), 1u);
  EXPECT_EQ(files.count("L.DBK"), 0u);
}

TEST_F(RestructureLoss, EncryptingCopyNeedsOnlyTheNewPasswordAfterwards) {
  Make();
  TTableDefinition d = Base();
  d.Encrypted = true;
  d.Password = " secret ";
  ASSERT_TRUE(Run(d, nullptr));
  EXPECT_FALSE(db->session.HasPassword("secret"));
  EXPECT_EQ(ErrorCodeOf([&] { OpenExclusive(*db, "L"); }), kErrPasswordRequired);
  db->session.AddPassword("secret");
  EXPECT_EQ(Count(), 10);
  EXPECT_TRUE(OpenExclusive(*db, "L")->Table()->DataFile().Encrypted());
  EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
}

// A disk that fails the k-th write, for every k until the copy runs
// through: each failure leaves the table's files byte for byte as they were
// and no work table behind.
TEST_F(RestructureLoss, FailedWriteAnywhereInTheCopyLeavesTheTableAsItWas) {
  TTableDefinition d = Base();
  d.Fields[2].Type = kFldFloat;
  bool done = false;
  int64_t k = 1;
  for (; !done && k < 500; ++k) {
    SCOPED_TRACE("write " + std::to_string(k));
    Make();
    const auto before = FileBytes(*db);
    OsFileFaults faults;
    faults.fail_write_at = k;
    try {
      const TScopedOsFileFaults scope(faults);
      done = Run(d, nullptr);
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrWrite) << e.Message();
    }
    if (!done) {
      EXPECT_EQ(FileBytes(*db), before);
    }
  }
  ASSERT_TRUE(done);
  EXPECT_GT(k, 3);
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
}

// The old table's files whole under another name than its own: that name.
std::string AsideWith(std::map<std::string, std::vector<uint8_t>>& files,
                      const std::map<std::string, std::vector<uint8_t>>& old_files) {
  std::string aside;
  for (const auto& [name, bytes] : files) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".DAT" &&
        bytes == old_files.at("L.DAT") && name != "L.DAT") {
      EXPECT_TRUE(aside.empty()) << name;
      aside = name.substr(0, name.size() - 4);
    }
  }
  for (const char* extension : {".IDX", ".BLB"}) {
    EXPECT_TRUE(files[aside + extension] == old_files.at(std::string("L") + extension))
        << aside << extension;
  }
  return aside;
}

// A rename that fails at each step of putting the copy in place: renames 1
// to 3 move the old files aside, 4 to 6 bring the copy in (the old files then
// move back), 7 to 9 move the old files to the backup names. The table never
// goes: under its name it holds the old rows or the new and verifies, and no
// work table stays behind. A failure once the copy is in place is still
// reported, naming the old files, which lie whole under a name of their own.
// Should the way back fail too, the error names where the old files lie.
TEST_F(RestructureLoss, FailedRenameAnywhereInPuttingTheCopyInPlaceNeverLosesTheTable) {
  TTableDefinition d = Base();
  d.Fields[2].Type = kFldFloat;
  bool done = false;
  int64_t k = 1;
  for (; !done && k < 50; ++k) {
    SCOPED_TRACE("rename " + std::to_string(k));
    Make();
    const auto before = FileBytes(*db);
    OsFileFaults faults;
    faults.fail_rename_at = k;
    std::string error;
    try {
      const TScopedOsFileFaults scope(faults);
      done = Run(d, nullptr);
      ASSERT_TRUE(done);
    } catch (const EQuireEngineError& e) {
      error = e.Message();
    }
    auto files = FileBytes(*db);
    const bool copied = OpenExclusive(*db, "L")->GetTableFieldDesc(kLCode).Type == kFldFloat;
    EXPECT_EQ(Count(), 10);
    EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
    if (done) break;
    if (!copied) {
      EXPECT_EQ(files, before);
      continue;
    }
    const std::string aside = AsideWith(files, before);
    ASSERT_FALSE(aside.empty());
    EXPECT_NE(error.find(aside), std::string::npos) << error;
    EXPECT_EQ(files.size(), before.size() + 3);
  }
  ASSERT_TRUE(done);
  EXPECT_EQ(k, 10);

  // The copy's first rename into place fails, then the first rename back.
  Make();
  const auto before = FileBytes(*db);
  OsFileFaults faults;
  faults.fail_rename_at = 4;
  faults.fail_rename_again_at = 5;
  std::string error;
  try {
    const TScopedOsFileFaults scope(faults);
    Run(d, nullptr);
    ADD_FAILURE() << "no rename failed";
  } catch (const EQuireEngineError& e) {
    error = e.Message();
  }
  auto files = FileBytes(*db);
  EXPECT_EQ(files.count("L.DAT") + files.count("L.IDX") + files.count("L.BLB"), 0u);
  const std::string aside = AsideWith(files, before);
  ASSERT_FALSE(aside.empty());
  EXPECT_NE(error.find(aside), std::string::npos) << error;
  // The work table stays whole beside them.
  ASSERT_EQ(files.size(), 6u);
  for (const auto& [name, bytes] : files) {
    if (name.substr(0, aside.size()) == aside || name.substr(name.size() - 4) != ".DAT") continue;
    EXPECT_EQ(VerifyTable(db->dir.Path(name)), std::vector<std::string>{});
    auto work = OpenExclusive(*db, name.substr(0, name.size() - 4));
    EXPECT_EQ(work->GetTotalRecordCount(), 10);
    EXPECT_EQ(work->GetTableFieldDesc(kLCode).Type, kFldFloat);
  }
}

// The session's private directory on another file system plays no part:
// the work table lies beside the table, so nothing crosses file systems.
TEST_F(RestructureLoss, PrivateDirectoryOnAnotherFileSystemIsLeftAlone) {
  struct stat shm {};
  struct stat scratch {};
  Make();
  if (stat("/dev/shm", &shm) != 0 || stat(db->dir.Path("").c_str(), &scratch) != 0 ||
      shm.st_dev == scratch.st_dev) {
    GTEST_SKIP() << "no /dev/shm on a file system of its own here";
  }
  const std::string private_dir = "/dev/shm/jw-restructure-" + std::to_string(getpid());
  std::filesystem::create_directory(private_dir);
  db->session.SetPrivateDir(private_dir);
  TTableDefinition d = Base();
  d.Fields[2].Type = kFldFloat;
  const bool done = Run(d, nullptr);
  const bool private_empty = std::filesystem::is_empty(private_dir);
  std::filesystem::remove_all(private_dir);
  ASSERT_TRUE(done);
  EXPECT_TRUE(private_empty);
  EXPECT_EQ(Count(), 10);
  EXPECT_EQ(VerifyTable(db->dir.Path("L.DAT")), std::vector<std::string>{});
}

}  // namespace
}  // namespace jw::test
