// Record editing through cursors against an in-memory model: inserts with
// BLOBs, seeks, ranges, modifications that move keys, deletes and inserts
// that reuse their slots, compared after reopening with the verifiers'
// blessing; refusals that leave the files' bytes alone; record locks
// between two cursors; a failed write at every point of an edit; a copy
// of a record with its BLOB; and the id and BLOB stamp counters at their
// limits.
// JW_LONG_TESTS=1 runs the model scenario with 100,000 records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

#include "engine/expr/expression_types.h"
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

// Without a primary index the same key is a unique secondary index, "ByKey".
TTableDefinition Definition(bool with_blob, bool primary = true) {
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
  if (with_blob) d.Fields.push_back(Field("MEMO", kFldBlob, 0, kSubTypeTextBlob));
  IndexDescriptor by_name = Index("ByName", {kName}, false);
  by_name.CaseInsensitive = 1;
  d.Indexes = {Index("", {kGroup, kCode}), by_name};
  if (!primary) d.Indexes = {IndexDescriptor(), by_name, Index("ByKey", {kGroup, kCode})};
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

// Stands the cursor on the index of (group, code): the primary one or "ByKey".
void UseKeyIndex(TDataCursor& cursor) {
  if (cursor.Table()->HasPrimaryIndex()) {
    cursor.SetIndexByNumber(0);
  } else {
    cursor.SetIndexByName("ByKey");
  }
}

void ExpectTable(TDataCursor& cursor, bool blobs, const std::map<int32_t, Row>& model) {
  Editor editor(cursor, blobs);
  UseKeyIndex(cursor);
  EXPECT_EQ(editor.Walk(), InPrimaryOrder(model));
  cursor.SetIndexByName("ByName");
  std::vector<int32_t> ids;
  for (const Row& r : editor.Walk()) ids.push_back(r.id);
  EXPECT_EQ(ids, IdsByName(model));
  UseKeyIndex(cursor);
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

// A cursor whose view is a filtered bitmap keeps it right through its own
// inserts, modifies (also moving records out of the filter) and deletes.
TEST(CursorEditing, FilteredViewFollowsTheCursorsOwnWrites) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 random(seed);
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  // The text BLOB is read whole, from its chain or the buffer being posted.
  cursor->ActivateFilter(
      cursor->AddFilter("GRP < 20 OR MEMO >= 'm'", nullptr, nullptr, nullptr, {}));
  Editor editor(*cursor, true);
  std::map<int32_t, Row> model;
  const auto visible = [&] {
    std::map<int32_t, Row> rows;
    for (const auto& [id, r] : model)
      if (r.group < 20 || r.memo >= "m") rows[id] = r;
    return rows;
  };
  int32_t next_code = 0;
  for (int step = 0; step < 600; ++step) {
    const std::map<int32_t, Row> shown = visible();
    const int kind = shown.empty() ? 0 : static_cast<int>(random() % 3);
    if (kind == 0) {
      // The cursor stays on the record it stood on, and steps from there to
      // the next record shown.
      std::vector<uint8_t> at(static_cast<size_t>(cursor->GetRecordSize()));
      const bool on = cursor->GetCurrentRecord(at.data()) == 0;
      const int32_t stood = TDataCursor::GetRecordId(at.data());
      Row r = RandomRow(random, ++next_code, random() % 3 == 0);
      editor.Insert(r);
      model[r.id] = r;
      if (on) {
        ASSERT_EQ(cursor->GetCurrentRecord(at.data()), 0) << step;
        ASSERT_EQ(TDataCursor::GetRecordId(at.data()), stood) << step;
        const std::vector<Row> order = InPrimaryOrder(visible());
        const auto it = std::find_if(order.begin(), order.end(),
                                     [&](const Row& row) { return row.id == stood; });
        ASSERT_NE(it, order.end()) << step;
        const int32_t next = cursor->GetNextRecord(at.data());
        if (it + 1 == order.end()) {
          EXPECT_EQ(next, kErrEndOfFile) << step;
        } else {
          ASSERT_EQ(next, 0) << step;
          EXPECT_EQ(TDataCursor::GetRecordId(at.data()), (it + 1)->id) << step;
        }
      }
    } else {
      auto it = shown.begin();
      std::advance(it, static_cast<long>(random() % shown.size()));
      if (kind == 1) {
        Row changed = RandomRow(random, ++next_code, random() % 3 == 0);
        changed.id = it->first;
        editor.Modify(it->second, changed);
        model[changed.id] = changed;
      } else {
        editor.Delete(it->second);
        model.erase(it->first);
      }
    }
    ASSERT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(visible().size())) << step;
    if (step % 100 == 99) {
      ASSERT_EQ(editor.Walk(), InPrimaryOrder(visible())) << step;
    }
  }
  // Filled again, the filter reads every BLOB from its chain.
  cursor->DeactivateFilter(nullptr);
  cursor->ActivateFilter(nullptr);
  EXPECT_EQ(editor.Walk(), InPrimaryOrder(visible()));
}

// In natural order under a filter, a record modified where the cursor
// stands keeps its place while it passes (its position among the visible
// records is kept, not counted again), and gives way to the nearest
// visible record when it leaves; positions are checked against a model.
TEST(CursorEditing, InNaturalOrderAModifiedRecordKeepsItsPlaceOrGivesWay) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(seed);
  std::mt19937 random(seed);
  CursorDatabase db;
  db.Create("T", Definition(false));
  {
    auto keyed = db.Open("T");
    Editor editor(*keyed, false);
    for (int32_t code = 1; code <= 200; ++code) {
      Row r = RandomRow(random, code, false);
      editor.Insert(r);
    }
  }
  auto cursor = db.Open("T", true);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  bool null = false;
  // Record number to GRP; the view is GRP < 20.
  std::map<int32_t, int16_t> groups;
  cursor->First();
  while (cursor->GetNextRecord(image.data()) == 0) {
    cursor->GetFieldData(kGroup, image.data(), null, &groups[cursor->CurrentRecordNumber()]);
  }
  cursor->ActivateFilter(cursor->AddFilter("GRP < 20", nullptr, nullptr, nullptr, {}));
  const auto visible = [&] {
    std::vector<int32_t> numbers;
    for (const auto& [number, group] : groups)
      if (group < 20) numbers.push_back(number);
    return numbers;
  };
  for (int step = 0; step < 150; ++step) {
    const std::vector<int32_t> before = visible();
    ASSERT_FALSE(before.empty());
    const size_t k = random() % before.size();
    cursor->First();
    for (size_t i = 0; i <= k; ++i) ASSERT_EQ(cursor->GetNextRecord(image.data()), 0);
    const int32_t n = cursor->CurrentRecordNumber();
    ASSERT_EQ(n, before[k]) << step;
    ASSERT_EQ(cursor->GetCurrentRecord(image.data(), true), 0);
    // A third of the changes take the record out of the view.
    const auto group = static_cast<int16_t>(random() % 30);
    cursor->SetFieldData(kGroup, image.data(), false, &group);
    cursor->ModifyRecord(image.data(), true, false);
    groups[n] = group;
    const std::vector<int32_t> after = visible();
    ASSERT_FALSE(after.empty());
    const auto next = std::lower_bound(after.begin(), after.end(), n);
    const auto expected = next != after.end() ? next : std::prev(after.end());
    ASSERT_EQ(cursor->CurrentRecordNumber(), *expected) << step;
    ASSERT_EQ(cursor->GetRecNo(), expected - after.begin() + 1) << step;
    if (expected + 1 != after.end()) {
      ASSERT_EQ(cursor->GetNextRecord(image.data()), 0);
      ASSERT_EQ(cursor->CurrentRecordNumber(), *(expected + 1)) << step;
    }
  }
}

std::vector<std::vector<uint8_t>> TableBytes(const CursorDatabase& db) {
  return {ReadWholeFile(db.dir.Path("T.DAT")), ReadWholeFile(db.dir.Path("T.IDX")),
          ReadWholeFile(db.dir.Path("T.BLB"))};
}

// A table of rows with codes 1 .. count, opened by cursor.
std::map<int32_t, Row> Fill(TDataCursor& cursor, bool blobs, int32_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Editor editor(cursor, blobs);
  std::map<int32_t, Row> model;
  for (int32_t code = 1; code <= count; ++code) {
    Row r = RandomRow(random, code, blobs && code % 3 == 0);
    editor.Insert(r);
    model[r.id] = r;
  }
  return model;
}

// With the primary index the only unique one, the insert's own walk down
// it refuses a duplicate: at the first, a middle and the last key, naming
// the table, with the files byte for byte as they were.
TEST(CursorEditing, DuplicatePrimaryKeyIsRefusedBeforeAnyKeyChanges) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  const std::map<int32_t, Row> model = Fill(*cursor, true, 30, 5);
  const auto before = TableBytes(db);
  Editor editor(*cursor, true);
  std::vector<Row> rows;
  for (const auto& [id, row] : model) rows.push_back(row);
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::pair(a.group, a.code) < std::pair(b.group, b.code);
  });
  for (Row dup : {rows.front(), rows[rows.size() / 2], rows.back()}) {
    dup.name = "other";
    dup.raw = 99;
    std::string message;
    try {
      editor.Insert(dup);
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrDuplicateKey);
      message = e.what();
    }
    EXPECT_NE(message.find("'T"), std::string::npos) << message;
    EXPECT_FALSE(cursor->Table()->LockState().WriteLock);
    EXPECT_EQ(TableBytes(db), before);
  }
  Row fresh = rows.back();
  fresh.code += 1000;
  editor.Insert(fresh);
  EXPECT_EQ(cursor->GetTotalRecordCount(), 31);
}

TEST(CursorEditing, RefusalsNameTheirCulpritAndLeaveTheFilesByteForByte) {
  TTableDefinition d = Definition(true);
  d.Fields[kName - 1].Required = 1;
  d.Fields[kCode - 1].Minimum = "1";
  d.Fields[kCode - 1].Maximum = "500";
  IndexDescriptor by_raw = Index("ByRaw", {kRaw});
  d.Indexes.push_back(by_raw);
  CursorDatabase db;
  db.Create("T", d);
  auto cursor = db.Open("T");
  std::map<int32_t, Row> model = Fill(*cursor, true, 20, 7);
  const Row first = model.begin()->second;
  const auto before = TableBytes(db);
  Editor editor(*cursor, true);
  const auto refused = [&](Row row, int code, const std::string& culprit) {
    std::string message;
    try {
      editor.Insert(row);
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), code);
      message = e.what();
    }
    EXPECT_NE(message.find(culprit), std::string::npos) << message;
    cursor->FreeBlobs(true);
    EXPECT_FALSE(cursor->Table()->LockState().WriteLock);
    EXPECT_EQ(TableBytes(db), before);
  };
  Row dup = first;
  dup.code = 400;
  refused(dup, kErrDuplicateKey, "ByRaw");
  Row clash = first;
  clash.raw = 1;
  refused(clash, kErrDuplicateKey, "'T");
  Row unnamed = clash;
  unnamed.code = 401;
  unnamed.name = "";
  refused(unnamed, kErrValueRequired, "NAME");
  Row low = unnamed;
  low.name = "x";
  low.code = 0;
  refused(low, kErrBelowMinimum, "CODE");
  Row high = low;
  high.code = 501;
  refused(high, kErrAboveMaximum, "CODE");
  // An id in use is refused even when the cursor keeps the ids it is given.
  cursor.reset();
  cursor = std::make_unique<TDataCursor>(db.directory);
  cursor->SetTableName("T");
  cursor->SetKeepAutoInc(true);
  cursor->Open();
  Row reused = high;
  reused.code = 402;
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  cursor->InitRecord(image.data());
  cursor->SetFieldData(kName, image.data(), false, "y");
  cursor->SetFieldData(kCode, image.data(), false, &reused.code);
  TDataCursor::SetRecordId(image.data(), first.id);
  EXPECT_EQ(ErrorCodeOf([&] { cursor->InsertRecord(image.data(), false); }), kErrDuplicateKey);
  EXPECT_EQ(TableBytes(db), before);
  // An id above the counter is kept, and the counter follows it.
  reused.raw = 77;
  cursor->SetFieldData(kRaw, image.data(), false, &reused.raw);
  TDataCursor::SetRecordId(image.data(), 1000000);
  cursor->InsertRecord(image.data(), false);
  EXPECT_EQ(cursor->Table()->DataFile().LastAutoInc(), 1000000);
  // A free id below the counter is kept, and the counter still moves on by one.
  reused.raw = 78;
  reused.code = 403;
  cursor->SetFieldData(kRaw, image.data(), false, &reused.raw);
  cursor->SetFieldData(kCode, image.data(), false, &reused.code);
  TDataCursor::SetRecordId(image.data(), 500);
  cursor->InsertRecord(image.data(), true);
  EXPECT_EQ(cursor->Table()->DataFile().LastAutoInc(), 1000001);
  ASSERT_EQ(cursor->GetCurrentRecord(image.data()), 0);
  EXPECT_EQ(TDataCursor::GetRecordId(image.data()), 500);
}

// Images that hold an open BLOB are compared by what their record stores.
TEST(CursorEditing, SecondCursorMeetsLockThenChangedRecordAndLetsItsLockGo) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto first = db.Open("T");
  std::map<int32_t, Row> model = Fill(*first, true, 10, 3);
  auto second = db.Open("T");
  Editor two(*second, true);
  // Row 3 carries a BLOB (every third row does).
  const Row row = std::next(model.begin(), 2)->second;
  ASSERT_FALSE(row.memo.empty());
  std::vector<uint8_t> seen(static_cast<size_t>(second->GetRecordSize()));
  ASSERT_TRUE(two.Seek(row));
  ASSERT_EQ(second->GetCurrentRecord(seen.data()), 0);
  ASSERT_EQ(second->OpenBlob(kMemo, seen.data(), 0, false, 1), 0);
  Row changed = row;
  changed.name = "changed";
  ASSERT_TRUE(Editor(*first, true).Seek(row));
  std::vector<uint8_t> image(static_cast<size_t>(first->GetRecordSize()));
  ASSERT_EQ(first->GetCurrentRecord(image.data()), 0);
  ASSERT_EQ(first->OpenBlob(kMemo, image.data(), 0, false, 1), 0);
  ASSERT_EQ(first->GetCurrentRecord(image.data(), true), 0);
  std::vector<uint8_t> mine(seen);
  EXPECT_EQ(ErrorCodeOf([&] { second->GetCurrentRecord(mine.data(), true); }), kErrRecordInUse);
  const int32_t number = first->CurrentRecordNumber();
  first->SetFieldData(kName, image.data(), false, "changed");
  first->ModifyRecord(image.data(), true, false);
  EXPECT_FALSE(first->Table()->IsCursorLocked(number));
  EXPECT_EQ(ErrorCodeOf([&] { second->GetCurrentRecord(seen.data(), true); }), kErrRecordChanged);
  EXPECT_FALSE(second->Table()->IsCursorLocked(number));
  EXPECT_FALSE(second->Table()->IsRecordHeld(number));
  EXPECT_EQ(ErrorCodeOf([&] { second->DeleteRecord(seen.data(), false); }), kErrRecordChanged);
  model[row.id] = changed;
  // Another row, read with its BLOB open, is deleted with its chain.
  const Row gone = std::next(model.begin(), 5)->second;
  ASSERT_FALSE(gone.memo.empty());
  ASSERT_TRUE(two.Seek(gone));
  ASSERT_EQ(second->GetCurrentRecord(seen.data()), 0);
  ASSERT_EQ(second->OpenBlob(kMemo, seen.data(), 0, false, 1), 0);
  second->DeleteRecord(seen.data(), false);
  model.erase(gone.id);
  first.reset();
  second.reset();
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  auto cursor = db.Open("T");
  ExpectTable(*cursor, true, model);
}

// Fails the k-th write, or with every write flushed the k-th flush, of one
// edit for every k the edit reaches, on tables with BLOBs with and without
// a primary index: the edit raises 9218 with no lock left, and the reopened
// table is the one before, every BLOB block in a chain or free.
TEST(CursorEditing, FailedWriteOrFlushAtAnyPointLeavesTheTableAsItWas) {
  for (const bool flush : {false, true}) {
    for (const bool primary : {true, false}) {
      for (int op = 0; op < 3; ++op) {
        for (int64_t k = 1;; ++k) {
          SCOPED_TRACE(testing::Message() << (flush ? "flush " : "write ") << k << " op " << op
                                          << (primary ? "" : " without primary index"));
          CursorDatabase db;
          db.Create("T", Definition(true, primary));
          auto cursor = db.Open("T");
          UseKeyIndex(*cursor);
          const std::map<int32_t, Row> model = Fill(*cursor, true, 30, 11);
          for (int32_t d = 0; d < 3; ++d)
            Editor(*cursor, true).Delete(std::next(model.begin(), d * 5)->second);
          db.session.SetForceBufferFlush(flush);
          std::map<int32_t, Row> expected = model;
          for (int32_t d = 0; d < 3; ++d) expected.erase(std::next(model.begin(), d * 5)->first);
          Editor editor(*cursor, true);
          // Row 9 carries a BLOB (every third row does).
          Row target = std::next(expected.begin(), 6)->second;
          EXPECT_FALSE(target.memo.empty());
          Row changed = target;
          changed.code = 1000;
          changed.name = "moved";
          changed.memo = std::string(2000, 'm');
          Row added = target;
          added.code = 2000;
          added.memo = std::string(1500, 'n');
          OsFileFaults faults;
          (flush ? faults.fail_flush_at : faults.fail_write_at) = k;
          int code = 0;
          {
            TScopedOsFileFaults scope(faults);
            code = ErrorCodeOf([&] {
              if (op == 0) editor.Insert(added);
              if (op == 1) editor.Modify(target, changed);
              if (op == 2) editor.Delete(target);
            });
          }
          if ((flush ? faults.flushes : faults.writes) < k) {
            EXPECT_EQ(code, 0);
            break;
          }
          EXPECT_EQ(code, kErrWrite);
          EXPECT_FALSE(cursor->Table()->LockState().WriteLock);
          // The edit's own lock stays for the caller's cancel.
          if (op == 1) cursor->UnlockRecord(0);
          for (const auto& [id, r] : model) {
            EXPECT_FALSE(cursor->Table()->IsRecordHeld(static_cast<int32_t>(id)));
          }
          cursor.reset();
          EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
          cursor = db.Open("T");
          ExpectTable(*cursor, true, expected);
          if (HasFailure()) return;
        }
      }
    }
  }
}

// An exclusive cursor writes pages only when its caches overflow, in the
// middle of an edit's key changes: a failed write there takes the keys
// already stored back out, and the table written at close holds every
// edit that succeeded. The caches are held at their fixed sizes so that
// they overflow within a few thousand records.
TEST(CursorEditing, FailedWriteAmidKeyChangesTakesTheKeysBackOut) {
  for (int64_t k : {1, 2, 3, 5, 8}) {
    SCOPED_TRACE(k);
    CursorDatabase db;
    db.Create("T", Definition(false));
    auto cursor = std::make_unique<TDataCursor>(db.directory);
    cursor->SetTableName("T");
    cursor->SetExclusive(true);
    cursor->Open();
    cursor->Table()->SetCacheBudgetBytes(0);
    std::map<int32_t, Row> model = Fill(*cursor, false, 1500, 13);
    Editor editor(*cursor, false);
    std::mt19937 random(17);
    OsFileFaults faults;
    faults.fail_write_at = k;
    int code = 0;
    {
      TScopedOsFileFaults scope(faults);
      for (int32_t code_value = 2000; code == 0 && code_value < 4000; ++code_value) {
        Row r = RandomRow(random, code_value, false);
        code = ErrorCodeOf([&] { editor.Insert(r); });
        if (code == 0) model[r.id] = r;
      }
    }
    EXPECT_EQ(code, kErrWrite);
    cursor.reset();
    EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
    cursor = db.Open("T");
    ExpectTable(*cursor, false, model);
  }
}

// A transaction keeps every record it changed in the cache; records read
// in by the window around a wanted one must not push the wanted one out.
TEST(CursorEditing, TransactionDeletingMoreRecordsThanTheCacheHoldsCommitsThemAll) {
  CursorDatabase db;
  db.Create("T", Definition(false));
  auto cursor = db.Open("T");
  std::map<int32_t, Row> model = Fill(*cursor, false, 6000, 29);
  cursor.reset();
  cursor = std::make_unique<TDataCursor>(db.directory);
  cursor->SetTableName("T");
  cursor->SetNaturalOrder(true);
  cursor->Open();
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  db.directory->StartTransaction();
  cursor->First();
  while (cursor->GetNextRecord(image.data()) == 0) {
    model.erase(TDataCursor::GetRecordId(image.data()));
    cursor->DeleteRecord(image.data(), false);
  }
  db.directory->Commit(true);
  cursor.reset();
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  cursor = db.Open("T");
  ExpectTable(*cursor, false, model);
}

// A cursor hands the memory of a closed BLOB to the next one it opens:
// against a model, random values are posted, opened, cut, grown, written
// and abandoned record after record, and every open shows only its own
// record's bytes, grown bytes zero, whatever the buffer held before.
TEST(CursorEditing, BlobBuffersOpenedOneAfterAnotherShowOnlyTheirOwnBytes) {
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto below = [&](int32_t n) { return static_cast<int32_t>(random() % static_cast<uint32_t>(n)); };
  auto random_bytes = [&](int32_t size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    for (char& c : bytes) c = static_cast<char>(1 + below(255));
    return bytes;
  };
  // Mostly small values, now and then one larger than the memory a closed
  // buffer keeps.
  auto random_size = [&] { return below(10) == 0 ? 60000 + below(20000) : below(3000); };

  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  Editor editor(*cursor, true);
  std::vector<Row> rows;
  for (int32_t code = 1; code <= 4; ++code) {
    rows.push_back(RandomRow(random, code, false));
    rows.back().memo = random_bytes(random_size());
    editor.Insert(rows.back());
  }
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  auto expect_open = [&](const std::string& value) {
    int32_t size = -1;
    ASSERT_EQ(cursor->GetBlobSize(kMemo, image.data(), false, size), 0);
    ASSERT_EQ(size, static_cast<int32_t>(value.size()));
    std::string out(value.size() + 1, 'x');
    int32_t read = -1;
    EXPECT_EQ(cursor->ReadBlob(kMemo, image.data(), false, read, size + 1, out.data(), 0),
              kErrEndOfBlob);
    ASSERT_EQ(read, size);
    out.resize(value.size());
    ASSERT_TRUE(out == value) << "the open BLOB differs from its value";
  };
  const int32_t steps = LongTests() ? 3000 : 300;
  for (int32_t step = 0; step < steps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    Row& row = rows[static_cast<size_t>(below(static_cast<int32_t>(rows.size())))];
    if (below(4) == 0) {
      Row changed = row;
      changed.memo = random_bytes(random_size());
      editor.Modify(row, changed);
      row = changed;
      continue;
    }
    ASSERT_TRUE(editor.Seek(row));
    ASSERT_EQ(cursor->GetCurrentRecord(image.data()), 0);
    ASSERT_EQ(cursor->OpenBlob(kMemo, image.data(), 1, false, 1), 0);
    expect_open(row.memo);
    std::string value = row.memo;
    for (int32_t edit = below(4); edit > 0; --edit) {
      const int32_t size = static_cast<int32_t>(value.size());
      if (below(2) == 0) {
        const int32_t cut = below(size + 1);
        ASSERT_EQ(cursor->TruncateBlob(kMemo, image.data(), false, cut), 0);
        value.resize(static_cast<size_t>(cut));
        const int32_t grown = cut + below(size - cut + 100);
        ASSERT_EQ(cursor->TruncateBlob(kMemo, image.data(), false, grown), 0);
        value.resize(static_cast<size_t>(grown), '\0');
      } else {
        const int32_t offset = below(size + 100);
        const std::string bytes = random_bytes(1 + below(200));
        ASSERT_EQ(cursor->WriteBlob(kMemo, image.data(), false, static_cast<int32_t>(bytes.size()),
                                    bytes.data(), offset),
                  0);
        if (value.size() < offset + bytes.size()) value.resize(offset + bytes.size(), '\0');
        value.replace(static_cast<size_t>(offset), bytes.size(), bytes);
      }
      expect_open(value);
    }
    // Closed unposted, the changes are gone.
    ASSERT_EQ(cursor->CloseBlob(kMemo, image.data(), 1, false), 0);
  }
  cursor.reset();
  cursor = db.Open("T");
  Editor reopened(*cursor, true);
  for (const Row& row : rows) {
    ASSERT_TRUE(reopened.Seek(row));
    ASSERT_EQ(cursor->GetCurrentRecord(image.data()), 0);
    EXPECT_EQ(reopened.Read(image.data()), row);
  }
}

TEST(CursorEditing, BlobBuffersReadShortReopenLimitAndFreeTheirChains) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  Editor editor(*cursor, true);
  Row row = RandomRow(*std::make_unique<std::mt19937>(5), 1, false);
  row.memo = std::string(40, 'q');
  editor.Insert(row);
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  ASSERT_TRUE(editor.Seek(row));
  ASSERT_EQ(cursor->GetCurrentRecord(image.data()), 0);
  ASSERT_EQ(cursor->OpenBlob(kMemo, image.data(), 1, false, 1), 0);
  const std::vector<uint8_t> open(image);
  EXPECT_EQ(cursor->OpenBlob(kMemo, image.data(), 1, false, 1), 0);
  EXPECT_EQ(image, open);
  char out[100] = {};
  int32_t read = -1;
  EXPECT_EQ(cursor->ReadBlob(kMemo, image.data(), false, read, 100, out, 0), kErrEndOfBlob);
  EXPECT_EQ(read, 40);
  EXPECT_EQ(cursor->ReadBlob(kMemo, image.data(), false, read, 1, out, 40), kErrEndOfBlob);
  EXPECT_EQ(read, 0);
  // Nothing before the start is read, whatever the count.
  for (const auto& [count, offset] : {std::pair{4, -1}, std::pair{60, -20}, std::pair{-1, 0}}) {
    EXPECT_EQ(cursor->ReadBlob(kMemo, image.data(), false, read, count, out, offset),
              kErrInvalidBlobOffset);
    EXPECT_EQ(read, 0);
  }
  EXPECT_EQ(cursor->CloseBlob(kMemo, image.data(), 1, false), 0);
  std::vector<std::vector<uint8_t>> images(65, image);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(cursor->OpenBlob(kMemo, images[i].data(), 1, false, 1), 0);
  }
  EXPECT_EQ(cursor->OpenBlob(kMemo, images[64].data(), 1, false, 1), kErrTooManyBlobs);
  EXPECT_EQ(images[64], image);
  cursor->FreeBlobs(true);
  // A write inside the current size is a change the post must keep.
  ASSERT_EQ(cursor->GetCurrentRecord(image.data(), true), 0);
  ASSERT_EQ(cursor->OpenBlob(kMemo, image.data(), 1, false, 2), 0);
  ASSERT_EQ(cursor->WriteBlob(kMemo, image.data(), false, 3, "abc", 10), 0);
  cursor->ModifyRecord(image.data(), true, false);
  row.memo.replace(10, 3, "abc");
  // Truncated to 0, the BLOB reads as null and its blocks go free.
  Row empty = RandomRow(*std::make_unique<std::mt19937>(6), 2, false);
  empty.memo = std::string(5000, 'z');
  editor.Insert(empty);
  Row emptied = empty;
  emptied.memo.clear();
  editor.Modify(empty, emptied);
  cursor.reset();
  EXPECT_EQ(VerifyTableBlobs(db.dir.Path("T.DAT"), db.dir.Path("T.BLB")),
            std::vector<std::string>{});
  const auto chains = BlobChainsOfTable(db.dir.Path("T.DAT"));
  ASSERT_EQ(chains.size(), 1u);
  cursor = db.Open("T");
  ASSERT_TRUE(Editor(*cursor, true).Seek(emptied));
  ASSERT_EQ(cursor->GetCurrentRecord(image.data()), 0);
  bool null = false;
  int32_t ref = 0;
  cursor->GetFieldData(kMemo, image.data(), null, &ref);
  EXPECT_TRUE(null);
  ExpectTable(*cursor, true, {{row.id, row}, {emptied.id, emptied}});
}

TEST(CursorEditing, ACopyOfTheCurrentRecordOwnsACopyOfItsBlob) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  auto cursor = db.Open("T");
  Editor editor(*cursor, true);
  std::mt19937 random(11);
  Row row = RandomRow(random, 1, true);
  editor.Insert(row);
  // The copy takes the memo through a buffer of its own: changing the
  // source afterwards leaves the copy's chain alone.
  std::vector<uint8_t> copy(static_cast<size_t>(cursor->GetRecordSize()));
  ASSERT_TRUE(editor.Seek(row));
  ASSERT_EQ(cursor->CopyCurrentRecord(copy.data()), 0);
  int32_t size = 0;
  int32_t read = 0;
  ASSERT_EQ(cursor->GetBlobSize(kMemo, copy.data(), false, size), 0);
  std::string memo(static_cast<size_t>(size), '\0');
  ASSERT_EQ(cursor->ReadBlob(kMemo, copy.data(), false, read, size, memo.data(), 0), 0);
  EXPECT_EQ(memo, row.memo);
  Row copied = row;
  copied.code = 2;
  cursor->SetFieldData(kCode, copy.data(), false, &copied.code);
  cursor->InsertRecord(copy.data(), false);
  copied.id = TDataCursor::GetRecordId(copy.data());
  Row changed = row;
  changed.memo = std::string(5000, 'x');
  editor.Modify(row, changed);
  cursor.reset();
  EXPECT_EQ(VerifyTableBlobs(db.dir.Path("T.DAT"), db.dir.Path("T.BLB")),
            std::vector<std::string>{});
  EXPECT_EQ(BlobChainsOfTable(db.dir.Path("T.DAT")).size(), 2u);
  cursor = db.Open("T");
  ExpectTable(*cursor, true, {{changed.id, changed}, {copied.id, copied}});
}

TEST(CursorEditing, TheLastIdIsHandedOutOnceAndARecordKeepingItsOwnStillGoesIn) {
  CursorDatabase db;
  db.Create("T", Definition(false));
  auto cursor = db.Open("T");
  Editor editor(*cursor, false);
  std::mt19937 random(12);
  cursor->SetLastAutoInc(2147483646);
  Row last = RandomRow(random, 1, false);
  editor.Insert(last);
  EXPECT_EQ(last.id, 2147483647);
  // Refused before anything changes: the counter never wraps to repeat an id.
  Row refused = RandomRow(random, 2, false);
  EXPECT_EQ(ErrorCodeOf([&] { editor.Insert(refused); }), kErrFieldLimits);
  cursor->Close(false);
  cursor->SetKeepAutoInc(true);
  cursor->Open();
  Row kept = RandomRow(random, 3, false);
  kept.id = 77;
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  cursor->InitRecord(image.data());
  TDataCursor::SetRecordId(image.data(), kept.id);
  cursor->SetFieldData(kCode, image.data(), false, &kept.code);
  cursor->SetFieldData(kGroup, image.data(), false, &kept.group);
  cursor->InsertRecord(image.data(), false);
  EXPECT_EQ(cursor->GetLastAutoInc(), 2147483647);
  const Row stored = editor.Read(image.data());
  cursor.reset();
  EXPECT_EQ(VerifyTable(db.dir.Path("T.DAT")), std::vector<std::string>{});
  cursor = db.Open("T");
  ExpectTable(*cursor, false, {{last.id, last}, {kept.id, stored}});
}

TEST(CursorEditing, BlobWritesGoOnPastTheLastStamp) {
  CursorDatabase db;
  db.Create("T", Definition(true));
  Row row = RandomRow(*std::make_unique<std::mt19937>(13), 1, true);
  Editor(*db.Open("T"), true).Insert(row);
  std::vector<uint8_t> header = ReadWholeFile(db.dir.Path("T.DAT"));
  PutInt32(&header[kHdrLastBlobStamp], 2147483646);
  WriteWholeFile(db.dir.Path("T.DAT"), header);
  auto cursor = db.Open("T");
  Editor editor(*cursor, true);
  for (const char* memo : {"at the limit", "past it", "and on"}) {
    Row changed = row;
    changed.memo = memo;
    editor.Modify(row, changed);
    row = changed;
  }
  cursor.reset();
  EXPECT_EQ(VerifyTableBlobs(db.dir.Path("T.DAT"), db.dir.Path("T.BLB")),
            std::vector<std::string>{});
  EXPECT_EQ(GetInt32(ReadWholeFile(db.dir.Path("T.DAT")).data() + kHdrLastBlobStamp), 2);
  cursor = db.Open("T");
  ExpectTable(*cursor, true, {{row.id, row}});
}

}  // namespace
}  // namespace jw::test
