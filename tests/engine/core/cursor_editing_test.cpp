// Record editing through cursors against an in-memory model: inserts with
// BLOBs, seeks, ranges, modifications that move keys, deletes and inserts
// that reuse their slots, compared after reopening with the verifiers'
// blessing; refusals that leave the files' bytes alone; record locks
// between two cursors; and a failed write at every point of an edit.
// JW_LONG_TESTS=1 runs the model scenario with 100,000 records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "platform/os/os_file_faults.h"
#include "tests/engine/core/blob_file_verifier.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_verifier.h"

namespace jw::test {
namespace {

enum : int32_t {
  kId = 1,
  kName,
  kCode,
  kGroup,
  kBorn,
  kAt,
  kStamp,
  kFlag,
  kRate,
  kAmount,
  kRaw,
  kWord,
  kMemo
};

TTableDefinition Definition(bool with_blob) {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc),
              Field("NAME", kFldString, 16),
              Field("CODE", kFldInteger),
              Field("GRP", kFldSmallInt),
              Field("BORN", kFldDate),
              Field("AT", kFldTime),
              Field("STAMP", kFldTimeStamp),
              Field("FLAG", kFldBoolean),
              Field("RATE", kFldFloat),
              Field("AMOUNT", kFldBcd, 0, 0, 2),
              Field("RAW", kFldBytes, 8),
              Field("W", kFldWord)};
  if (with_blob) d.Fields.push_back(Field("MEMO", kFldBlob));
  IndexDescriptor by_name = Index("ByName", {kName}, false);
  by_name.CaseInsensitive = 1;
  d.Indexes = {Index("", {kGroup, kCode}), by_name};
  return d;
}

struct Row {
  int32_t id = 0;
  std::string name;
  int32_t code = 0;
  int16_t group = 0;
  int32_t born = 0;
  int32_t at = 0;
  double stamp = 0;
  int16_t flag = 0;
  double rate = 0;
  int64_t amount = 0;
  uint64_t raw = 0;
  uint16_t word = 0;
  std::string memo;
  bool operator==(const Row&) const = default;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class Editor {
 public:
  Editor(TDataCursor& cursor, bool blobs)
      : cursor_(cursor), blobs_(blobs), image_(static_cast<size_t>(cursor.GetRecordSize())) {}

  // Fills a new image with the row and inserts it; the row takes its id.
  void Insert(Row& row) {
    cursor_.InitRecord(image_.data());
    Fill(row);
    cursor_.InsertRecord(image_.data(), false);
    row.id = TDataCursor::GetRecordId(image_.data());
  }
  // Stands on the row's record by its primary key.
  bool Seek(const Row& row) {
    std::vector<uint8_t> probe(image_.size());
    cursor_.InitRecord(probe.data());
    cursor_.SetFieldData(kGroup, probe.data(), false, &row.group);
    cursor_.SetFieldData(kCode, probe.data(), false, &row.code);
    return cursor_.SeekKey(false, probe.data(), image_.data(), 0, false, 0);
  }
  void Modify(const Row& now, Row& row) {
    ASSERT_TRUE(Seek(now));
    ASSERT_EQ(cursor_.GetCurrentRecord(image_.data(), true), 0);
    Fill(row);
    cursor_.ModifyRecord(image_.data(), true, false);
  }
  void Delete(const Row& row) {
    ASSERT_TRUE(Seek(row));
    cursor_.DeleteRecord(image_.data(), false);
  }
  Row Read(uint8_t* image) {
    Row r;
    bool null = false;
    r.id = TDataCursor::GetRecordId(image);
    char name[17] = {};
    cursor_.GetFieldData(kName, image, null, name);
    r.name = name;
    cursor_.GetFieldData(kCode, image, null, &r.code);
    cursor_.GetFieldData(kGroup, image, null, &r.group);
    cursor_.GetFieldData(kBorn, image, null, &r.born);
    cursor_.GetFieldData(kAt, image, null, &r.at);
    cursor_.GetFieldData(kStamp, image, null, &r.stamp);
    cursor_.GetFieldData(kFlag, image, null, &r.flag);
    cursor_.GetFieldData(kRate, image, null, &r.rate);
    cursor_.GetFieldData(kAmount, image, null, &r.amount);
    cursor_.GetFieldData(kRaw, image, null, &r.raw);
    cursor_.GetFieldData(kWord, image, null, &r.word);
    if (blobs_) {
      EXPECT_EQ(cursor_.OpenBlob(kMemo, image, 1, false, 1), 0);
      int32_t size = 0;
      EXPECT_EQ(cursor_.GetBlobSize(kMemo, image, false, size), 0);
      r.memo.resize(static_cast<size_t>(size));
      int32_t read = 0;
      EXPECT_EQ(cursor_.ReadBlob(kMemo, image, false, read, size, r.memo.data(), 0), 0);
      EXPECT_EQ(cursor_.CloseBlob(kMemo, image, 1, false), 0);
    }
    return r;
  }
  // The rows in the order of the current index.
  std::vector<Row> Walk() {
    std::vector<Row> rows;
    cursor_.First();
    while (cursor_.GetNextRecord(image_.data()) == 0) rows.push_back(Read(image_.data()));
    return rows;
  }

 private:
  void Fill(const Row& row) {
    uint8_t* image = image_.data();
    cursor_.SetFieldData(kName, image, false, row.name.c_str());
    cursor_.SetFieldData(kCode, image, false, &row.code);
    cursor_.SetFieldData(kGroup, image, false, &row.group);
    cursor_.SetFieldData(kBorn, image, false, &row.born);
    cursor_.SetFieldData(kAt, image, false, &row.at);
    cursor_.SetFieldData(kStamp, image, false, &row.stamp);
    cursor_.SetFieldData(kFlag, image, false, &row.flag);
    cursor_.SetFieldData(kRate, image, false, &row.rate);
    cursor_.SetFieldData(kAmount, image, false, &row.amount);
    cursor_.SetFieldData(kRaw, image, false, &row.raw);
    cursor_.SetFieldData(kWord, image, false, &row.word);
    if (!blobs_) return;
    ASSERT_EQ(cursor_.OpenBlob(kMemo, image, 1, false, 2), 0);
    ASSERT_EQ(cursor_.TruncateBlob(kMemo, image, false, 0), 0);
    if (!row.memo.empty()) {
      ASSERT_EQ(cursor_.WriteBlob(kMemo, image, false, static_cast<int32_t>(row.memo.size()),
                                  row.memo.data(), 0),
                0);
    }
  }

  TDataCursor& cursor_;
  bool blobs_;
  std::vector<uint8_t> image_;
};

Row RandomRow(std::mt19937& random, int32_t code, bool blob) {
  static const char* const kNames[] = {"alpha", "Beta", "GAMMA", "delta", "Alpha", "beta"};
  Row r;
  r.name = std::string(kNames[random() % 6]) + std::to_string(random() % 50);
  r.code = code;
  r.group = static_cast<int16_t>(random() % 40);
  r.born = static_cast<int32_t>(random() % 800000 + 1);
  r.at = static_cast<int32_t>(random() % 86400000);
  r.stamp = static_cast<double>(random());
  r.flag = static_cast<int16_t>(random() % 2);
  r.rate = static_cast<double>(random()) / 7.0;
  r.amount = static_cast<int64_t>(random()) - (1 << 30);
  r.raw = (static_cast<uint64_t>(random()) << 32) | random();
  r.word = static_cast<uint16_t>(random());
  if (blob) r.memo = std::string(random() % 3000 + 1, static_cast<char>('a' + random() % 26));
  return r;
}

std::vector<Row> InPrimaryOrder(const std::map<int32_t, Row>& model) {
  std::vector<Row> rows;
  for (const auto& [id, r] : model) rows.push_back(r);
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::pair(a.group, a.code) < std::pair(b.group, b.code);
  });
  return rows;
}

std::vector<int32_t> IdsByName(const std::map<int32_t, Row>& model) {
  std::vector<Row> rows;
  for (const auto& [id, r] : model) rows.push_back(r);
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::pair(Upper(a.name), a.id) < std::pair(Upper(b.name), b.id);
  });
  std::vector<int32_t> ids;
  for (const Row& r : rows) ids.push_back(r.id);
  return ids;
}

void ExpectTable(TDataCursor& cursor, bool blobs, const std::map<int32_t, Row>& model) {
  Editor editor(cursor, blobs);
  cursor.SetIndexByNumber(0);
  EXPECT_EQ(editor.Walk(), InPrimaryOrder(model));
  cursor.SetIndexByName("ByName");
  std::vector<int32_t> ids;
  for (const Row& r : editor.Walk()) ids.push_back(r.id);
  EXPECT_EQ(ids, IdsByName(model));
  cursor.SetIndexByNumber(0);
}

TEST(CursorEditing, ModelScenarioSurvivesReopenWithEveryIndexAndBlobChainExact) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 random(seed);
  const int32_t count = LongTests() ? 100000 : 10000;
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  Editor editor(*cursor, true);
  std::map<int32_t, Row> model;
  int32_t next_code = 0;
  for (int32_t i = 0; i < count; ++i) {
    Row r = RandomRow(random, ++next_code, random() % 20 == 0);
    editor.Insert(r);
    model[r.id] = r;
  }
  std::vector<int32_t> ids;
  for (const auto& [id, r] : model) ids.push_back(id);
  for (int32_t i = 0; i < count; ++i) {
    const Row& r = model[ids[random() % ids.size()]];
    ASSERT_TRUE(editor.Seek(r));
    ASSERT_EQ(cursor->CurrentRecordNumber() > 0, true);
  }
  for (int16_t group = 0; group < 40; group += 7) {
    std::vector<uint8_t> bound(static_cast<size_t>(cursor->GetRecordSize()));
    cursor->InitRecord(bound.data());
    cursor->SetFieldData(kGroup, bound.data(), false, &group);
    cursor->SetRange(false, bound.data(), 1, bound.data(), 1);
    const auto in_group = std::count_if(model.begin(), model.end(),
                                        [&](const auto& e) { return e.second.group == group; });
    EXPECT_EQ(cursor->GetRecordCount(), in_group);
    cursor->CancelRange();
  }
  std::shuffle(ids.begin(), ids.end(), random);
  const size_t tenth = ids.size() / 10;
  for (size_t k = 0; k < tenth; ++k) {
    Row& r = model[ids[k]];
    Row changed = RandomRow(random, k % 2 == 0 ? ++next_code : r.code, random() % 20 == 0);
    changed.id = r.id;
    editor.Modify(r, changed);
    r = changed;
  }
  for (size_t k = tenth; k < 2 * tenth; ++k) {
    editor.Delete(model[ids[k]]);
    model.erase(ids[k]);
  }
  const int32_t slots = cursor->Table()->DataFile().RecordCount();
  for (size_t k = 0; k < tenth; ++k) {
    Row r = RandomRow(random, ++next_code, random() % 20 == 0);
    editor.Insert(r);
    model[r.id] = r;
  }
  EXPECT_EQ(cursor->Table()->DataFile().RecordCount(), slots);
  cursor.reset();
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  EXPECT_EQ(VerifyTableBlobs(db.dir.Path("T.DAT"), db.dir.Path("T.BLB")),
            std::vector<std::string>{});
  cursor = db.Open("T");
  EXPECT_EQ(cursor->GetTotalRecordCount(), static_cast<int32_t>(model.size()));
  ExpectTable(*cursor, true, model);
}

}  // namespace
}  // namespace jw::test
