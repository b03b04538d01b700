// Cursor navigation against a model: a table filled with random records,
// some deleted and their slots reused, walked in every index kind (unique
// composite, non-unique case-insensitive descending, the status index,
// natural order) forwards, backwards, by record number and within ranges,
// each compared with the model's records sorted the index's way.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kName = 2;
constexpr int32_t kCode = 3;
constexpr int32_t kGroup = 4;
constexpr uint8_t kByName = 1;

TTableDefinition Definition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 12),
              Field("CODE", kFldInteger), Field("GRP", kFldSmallInt)};
  IndexDescriptor by_name = Index("ByName", {kName}, false, 0, true);
  by_name.CaseInsensitive = 1;
  d.Indexes = {Index("", {kGroup, kCode}), by_name};
  return d;
}

struct Row {
  int32_t number;
  int32_t id;
  std::string name;
  int32_t code;
  int16_t group;
  bool live;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The model's records in the order of the index.
std::vector<Row> Ordered(std::vector<Row> rows, uint8_t index) {
  if (index != kStatusSlot) std::erase_if(rows, [](const Row& r) { return !r.live; });
  std::sort(rows.begin(), rows.end(), [index](const Row& a, const Row& b) {
    switch (index) {
      case 0:
        return std::pair(a.group, a.code) < std::pair(b.group, b.code);
      case kByName:
        return std::pair(Upper(b.name), b.id) < std::pair(Upper(a.name), a.id);
      case kStatusSlot:
        return std::pair(!a.live, a.id) < std::pair(!b.live, b.id);
      default:
        return a.number < b.number;
    }
  });
  return rows;
}

class Walker {
 public:
  explicit Walker(TDataCursor& cursor)
      : cursor_(cursor), image_(static_cast<size_t>(cursor.GetRecordSize())) {}

  std::vector<int32_t> Forward() {
    std::vector<int32_t> ids;
    cursor_.First();
    while (cursor_.GetNextRecord(image_.data()) == 0) ids.push_back(Id());
    EXPECT_TRUE(cursor_.Eof());
    return ids;
  }
  std::vector<int32_t> Backward() {
    std::vector<int32_t> ids;
    cursor_.Last();
    while (cursor_.GetPriorRecord(image_.data()) == 0) ids.push_back(Id());
    EXPECT_TRUE(cursor_.Bof());
    std::reverse(ids.begin(), ids.end());
    return ids;
  }
  int32_t Current() { return cursor_.GetCurrentRecord(image_.data()) == 0 ? Id() : 0; }

 private:
  int32_t Id() const { return TDataCursor::GetRecordId(image_.data()); }

  TDataCursor& cursor_;
  std::vector<uint8_t> image_;
};

std::vector<int32_t> Ids(const std::vector<Row>& rows) {
  std::vector<int32_t> ids;
  for (const Row& r : rows) ids.push_back(r.id);
  return ids;
}

class CursorNavigationTest : public testing::Test {
 protected:
  // The table with count random records, some deleted, open in a cursor.
  std::unique_ptr<TDataCursor> Filled(int32_t count) {
    std::mt19937& rng = rng_;
    db_.Create("T", Definition());
    TableLoader loader(db_.directory, "T");
    const auto add = [&](int32_t code) {
      std::string name;
      const int32_t length = 1 + static_cast<int32_t>(rng() % 3);
      for (int32_t i = 0; i < length; ++i) name += "aAbBcC"[rng() % 6];
      auto image = loader.Image();
      const auto group = static_cast<int16_t>(rng() % 40 - 20);
      PutString(loader.Data(), image, kName, name);
      PutInt(loader.Data(), image, kCode, code);
      PutSmallInt(loader.Data(), image, kGroup, group);
      const int32_t number = loader.Insert(image);
      const int32_t id = loader.Data().LastAutoInc();
      Row row{number, id, name, code, group, true};
      if (number <= static_cast<int32_t>(rows_.size())) {
        rows_[static_cast<size_t>(number - 1)] = row;
      } else {
        rows_.push_back(row);
      }
    };
    for (int32_t i = 0; i < count; ++i) add(i);
    // Every tenth record goes, then a few new ones take freed slots.
    for (Row& r : rows_) {
      if (rng() % 10 == 0) {
        loader.Delete(r.number);
        r.live = false;
      }
    }
    for (int32_t i = 0; i < count / 20; ++i) add(count + i);
    loader.Flush();
    return db_.Open("T");
  }

  std::string Seed() const { return "seed " + std::to_string(seed_) + " (JW_SEED)"; }

  const uint32_t seed_ = TestSeed();
  std::mt19937 rng_{seed_};
  CursorDatabase db_;
  std::vector<Row> rows_;
};

TEST_F(CursorNavigationTest, EveryIndexKindWalksAndNumbersAsTheModelSorts) {
  SCOPED_TRACE(Seed());
  auto cursor = Filled(LongTests() ? 100000 : 10000);
  Walker walker(*cursor);
  for (const uint8_t index : {uint8_t{0}, kByName, uint8_t{kStatusSlot}, kNaturalOrder}) {
    SCOPED_TRACE("index " + std::to_string(index));
    cursor->SetIndexByNumber(index);
    const std::vector<int32_t> expected = Ids(Ordered(rows_, index));
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(walker.Forward(), expected);
    EXPECT_EQ(walker.Backward(), expected);
    for (int i = 0; i < 50; ++i) {
      const auto n = static_cast<int32_t>(1 + rng_() % expected.size());
      cursor->SetRecNo(n);
      ASSERT_EQ(walker.Current(), expected[static_cast<size_t>(n - 1)]) << "record number " << n;
      EXPECT_EQ(cursor->GetRecNo(), n);
    }
    // Before the first and after the last record the cursor keeps the
    // number of the record it stands next to.
    const auto count = static_cast<int32_t>(expected.size());
    cursor->First();
    EXPECT_TRUE(cursor->Bof());
    EXPECT_EQ(cursor->GetRecNo(), 1);
    cursor->SetRecNo(count + 1);
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(cursor->GetRecNo(), count);
    cursor->SetRecNo(0);
    EXPECT_TRUE(cursor->Bof());
    EXPECT_EQ(cursor->GetRecNo(), 1);
    cursor->Last();
    EXPECT_EQ(cursor->GetRecNo(), count);
    EXPECT_EQ(cursor->GetPriorRecord(nullptr), 0);
    EXPECT_EQ(cursor->GetRecNo(), count);
  }
  EXPECT_EQ(cursor->GetTotalRecordCount(), static_cast<int32_t>(Ordered(rows_, 0).size()));
}

TEST_F(CursorNavigationTest, RangesHoldTheModelsRecordsBetweenTheirBounds) {
  SCOPED_TRACE(Seed());
  auto cursor = Filled(LongTests() ? 20000 : 3000);
  Walker walker(*cursor);
  auto low = std::vector<uint8_t>(static_cast<size_t>(cursor->GetRecordSize()));
  auto high = low;
  const TDataFile& data = cursor->Table()->DataFile();
  const auto check = [&](uint8_t index, const uint8_t* start, const uint8_t* end, auto inside) {
    cursor->SetIndexByNumber(index);
    cursor->SetRange(false, start, 1, end, 1);
    std::vector<Row> rows = Ordered(rows_, index);
    std::erase_if(rows, [&](const Row& r) { return !inside(r); });
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(rows.size()));
    EXPECT_EQ(walker.Forward(), Ids(rows));
    EXPECT_EQ(walker.Backward(), Ids(rows));
    if (!rows.empty()) {
      const auto n = static_cast<int32_t>(1 + rng_() % rows.size());
      cursor->SetRecNo(n);
      EXPECT_EQ(walker.Current(), rows[static_cast<size_t>(n - 1)].id);
      EXPECT_EQ(cursor->GetRecNo(), n);
    }
    cursor->CancelRange();
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(Ordered(rows_, index).size()));
  };
  for (int round = 0; round < 4; ++round) {
    const auto a = static_cast<int16_t>(rng_() % 40 - 20);
    const auto b = static_cast<int16_t>(a + rng_() % 8);
    PutSmallInt(data, low, kGroup, a);
    PutSmallInt(data, high, kGroup, b);
    SCOPED_TRACE("groups " + std::to_string(a) + " to " + std::to_string(b));
    // The composite index's range on its first field only.
    check(0, low.data(), high.data(), [&](const Row& r) { return r.group >= a && r.group <= b; });
    check(0, low.data(), nullptr, [&](const Row& r) { return r.group >= a; });
    check(0, nullptr, high.data(), [&](const Row& r) { return r.group <= b; });
    check(0, high.data(), low.data(), [&](const Row& r) { return a == b && r.group == a; });
  }
  // The descending index starts at the name that sorts highest.
  PutString(data, low, kName, "B");
  PutString(data, high, kName, "c");
  check(kByName, high.data(), low.data(), [](const Row& r) {
    const std::string name = Upper(r.name);
    return name >= "B" && name <= "C";
  });
  check(kByName, low.data(), high.data(), [](const Row&) { return false; });
}

TEST_F(CursorNavigationTest, AnEmptyTableHasNoRecordInAnyOrder) {
  db_.Create("T", Definition());
  auto cursor = db_.Open("T");
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()), 0xAB);
  for (const uint8_t index : {uint8_t{0}, kByName, uint8_t{kStatusSlot}, kNaturalOrder}) {
    SCOPED_TRACE("index " + std::to_string(index));
    cursor->SetIndexByNumber(index);
    cursor->First();
    EXPECT_EQ(cursor->GetNextRecord(image.data()), kErrEndOfFile);
    EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(cursor->GetPriorRecord(nullptr), kErrBeginningOfFile);
    EXPECT_EQ(cursor->GetCurrentRecord(nullptr), kErrNoCurrentRecord);
    EXPECT_EQ(cursor->GetRecordCount(), 0);
    EXPECT_EQ(cursor->GetRecNo(), 0);
    cursor->SetRecNo(1);
    EXPECT_EQ(cursor->GetRecNo(), 0);
  }
}

}  // namespace
}  // namespace jw::test
