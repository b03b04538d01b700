// Restructuring a table through a cursor, each path against a model of the
// rows: header values and names written in place with no other file made;
// indexes rebuilt behind an ".IBK" backup, with the data-loss handler's
// every answer; and the full copy with per-field conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

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
    auto cursor = db.Open("T");
    cursor->SetIndexByName(index);
    std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
    std::vector<std::pair<std::string, int32_t>> out;
    cursor->First();
    while (cursor->GetNextRecord(image.data()) == 0) {
      bool null = false;
      char name[17] = {};
      int32_t code = 0;
      cursor->GetFieldData(kName, image.data(), null, name);
      cursor->GetFieldData(kCode, image.data(), null, &code);
      out.emplace_back(name, code);
    }
    return out;
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

}  // namespace
}  // namespace jw::test
