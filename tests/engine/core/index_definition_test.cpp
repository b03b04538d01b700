// Index definitions through a cursor against a model of the rows: the
// rebuild of every index over a deliberately torn index file, AddIndex with
// its progress, a unique index over equal keys refused with nothing lost,
// and dropped indexes whose pages the next index reuses (every page of the
// file accounted for by the verifier's census).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/core/index_rebuild.h"
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
  d.Indexes = {Index("", {kCode}), Index("ByName", {kName}, false)};
  return d;
}

struct Fixture {
  CursorDatabase db;
  // Record id -> (name, code) of every live record.
  std::map<int32_t, std::pair<std::string, int32_t>> rows;

  // count records with distinct codes and names drawn from a few, every
  // seventh deleted again.
  void Fill(int32_t count, uint32_t seed) {
    db.Create("T", Definition());
    std::mt19937 random(seed);
    std::vector<int32_t> codes(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) codes[static_cast<size_t>(k)] = k * 3 + 1;
    std::shuffle(codes.begin(), codes.end(), random);
    TableLoader loader(db.directory, "T");
    std::vector<int32_t> numbers;
    for (int32_t k = 0; k < count; ++k) {
      std::vector<uint8_t> image = loader.Image();
      const std::string name = "n" + std::to_string(random() % (count / 4 + 1));
      PutString(loader.Data(), image, kName, name);
      PutInt(loader.Data(), image, kCode, codes[static_cast<size_t>(k)]);
      numbers.push_back(loader.Insert(image));
      rows[k + 1] = {name, codes[static_cast<size_t>(k)]};
    }
    for (int32_t k = 0; k < count; k += 7) {
      loader.Delete(numbers[static_cast<size_t>(k)]);
      rows.erase(k + 1);
    }
  }

  std::unique_ptr<TDataCursor> OpenExclusive() {
    auto cursor = std::make_unique<TDataCursor>(db.directory);
    cursor->SetTableName("T");
    cursor->SetExclusive(true);
    cursor->SetNaturalOrder(true);
    cursor->Open();
    return cursor;
  }

  // (name, code) of every record in the order of the named index.
  std::vector<std::pair<std::string, int32_t>> Walk(const std::string& index) {
    return WalkTextAndInt(*db.Open("T"), index, kName, kCode);
  }

  // The model's rows sorted by name (ties by record id) or by code.
  std::vector<std::pair<std::string, int32_t>> Expected(bool by_name) const {
    std::vector<std::pair<std::string, int32_t>> out;
    for (const auto& [id, row] : rows) out.push_back(row);
    if (by_name) {
      std::stable_sort(out.begin(), out.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
    } else {
      std::sort(out.begin(), out.end(),
                [](const auto& a, const auto& b) { return a.second < b.second; });
    }
    return out;
  }
};

int32_t RecordCount() {
  return LongTests() ? 40000 : 3000;
}

TEST(IndexDefinition, RebuildOfEveryIndexNeverReadsTheTornTrees) {
  Fixture f;
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  f.Fill(RecordCount(), seed);
  auto cursor = f.OpenExclusive();
  TDataTable& table = *cursor->Table();
  // Behind the open table every page becomes garbage, the live count lies
  // and nothing is cached: any read of an old page would fail.
  const std::string index_path = f.db.dir.Path("T.IDX");
  std::vector<uint8_t> bytes = ReadWholeFile(index_path);
  ASSERT_GT(bytes.size(), static_cast<size_t>(4 * kIndexPageSize));
  std::fill(bytes.begin() + kIndexHeaderSize, bytes.end(), 0xA5);
  WriteWholeFile(index_path, bytes);
  table.IndexFile().DropPageCache(true);
  table.IndexFile().SetLiveCount(7);

  {
    table.LockForWrite();
    std::vector<int32_t> progress;
    TIndexRebuildHandlers handlers;
    handlers.Progress = [&](int32_t number, int32_t percent) {
      EXPECT_EQ(number, static_cast<int32_t>(progress.size()) + 1);
      progress.push_back(percent);
    };
    ASSERT_TRUE(RebuildIndexes(*cursor, {}, handlers));
    table.WriteBack(false, true, false, false, true);
    table.UnlockForWrite();
    ASSERT_EQ(static_cast<int32_t>(progress.size()), RecordCount());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(cursor->GetTotalRecordCount(), static_cast<int32_t>(f.rows.size()));
  }
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(f.db.dir.Path("T.DAT")), std::vector<std::string>{});
  EXPECT_EQ(f.Walk(""), f.Expected(false));
  EXPECT_EQ(f.Walk("ByName"), f.Expected(true));
}

// (name, code) pairs sorted by name, then code.
std::vector<std::pair<std::string, int32_t>> ByNameThenCode(
    std::vector<std::pair<std::string, int32_t>> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(IndexDefinition, AddIndexBuildsFromEveryLiveRecordAndReportsProgress) {
  Fixture f;
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  f.Fill(RecordCount(), seed);
  {
    auto cursor = f.OpenExclusive();
    std::vector<std::pair<int32_t, int32_t>> calls;
    cursor->SetIndexProgressHandler(
        [](void* user, int32_t number, int32_t percent) {
          static_cast<std::vector<std::pair<int32_t, int32_t>>*>(user)->emplace_back(number,
                                                                                     percent);
        },
        &calls);
    cursor->AddIndex(Index("Code2", {kCode}, true, 0, true));
    ASSERT_EQ(static_cast<int32_t>(calls.size()), RecordCount());
    for (size_t k = 0; k < calls.size(); ++k) {
      ASSERT_EQ(calls[k].first, static_cast<int32_t>(k) + 1);
      ASSERT_EQ(calls[k].second, static_cast<int32_t>((k + 1) * 100 / calls.size()));
    }
    cursor->AddIndex(Index("NameCode", {kName, kCode}, false, 1));
    EXPECT_EQ(cursor->GetIndexCount(), 3);
    // Unreadable definitions are refused before anything changes.
    EXPECT_EQ(ErrorCodeOf([&] { cursor->AddIndex(Index("None", {})); }), kErrInvalidKeySize);
    EXPECT_EQ(ErrorCodeOf([&] { cursor->AddIndex(Index("code2", {kName})); }), kErrIndexExists);
    EXPECT_EQ(cursor->GetIndexCount(), 3);
    cursor->Close(false);
    // A closed cursor has no table to change, and Close let its handlers go.
    EXPECT_EQ(ErrorCodeOf([&] { cursor->AddIndex(Index("Other", {kCode})); }), kErrInvalidHandle);
    EXPECT_EQ(ErrorCodeOf([&] { cursor->DeleteIndex("Code2", true); }), kErrInvalidHandle);
    EXPECT_EQ(ErrorCodeOf([&] { cursor->DeleteIndexByNumber(1, true); }), kErrInvalidHandle);
    cursor->Open();
    calls.clear();
    cursor->AddIndex(Index("Other", {kCode}));
    EXPECT_TRUE(calls.empty());
    cursor->DeleteIndex("Other", true);
    EXPECT_EQ(cursor->GetIndexCount(), 3);
    cursor->Close(false);
  }
  EXPECT_EQ(VerifyTable(f.db.dir.Path("T.DAT")), std::vector<std::string>{});
  std::vector<std::pair<std::string, int32_t>> descending = f.Expected(false);
  std::reverse(descending.begin(), descending.end());
  EXPECT_EQ(f.Walk("Code2"), descending);
  EXPECT_EQ(f.Walk("NameCode"), ByNameThenCode(f.Expected(false)));
  auto shared = f.db.Open("T");
  EXPECT_EQ(ErrorCodeOf([&] { shared->AddIndex(Index("Other", {kCode})); }), kErrMustBeExclusive);
}

TEST(IndexDefinition, UniqueIndexOverEqualKeysIsRefusedWithNothingLost) {
  Fixture f;
  f.Fill(RecordCount(), TestSeed());
  const std::string data_path = f.db.dir.Path("T.DAT");
  auto cursor = f.OpenExclusive();
  const int64_t records_at = cursor->Table()->DataFile().DataStart();
  const std::vector<uint8_t> before = ReadWholeFile(data_path);
  try {
    cursor->AddIndex(Index("UName", {kName}, true));
    FAIL() << "a unique index over equal names was built";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrDuplicateKey);
    EXPECT_NE(e.Message().find("UName"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(cursor->GetIndexCount(), 1);
  EXPECT_EQ(cursor->GetTotalRecordCount(), static_cast<int32_t>(f.rows.size()));
  const std::vector<uint8_t> after = ReadWholeFile(data_path);
  EXPECT_TRUE(std::equal(before.begin() + records_at, before.end(), after.begin() + records_at,
                         after.end()));
  EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
  cursor->Close(false);
  EXPECT_EQ(f.Walk("ByName"), f.Expected(true));
}

TEST(IndexDefinition, DroppedIndexPagesGoToFreeListsAndTheNextIndexReusesThem) {
  Fixture f;
  f.Fill(RecordCount(), TestSeed());
  const std::string data_path = f.db.dir.Path("T.DAT");
  auto cursor = f.OpenExclusive();
  const TIndexFile& index = cursor->Table()->IndexFile();
  cursor->AddIndex(Index("A", {kCode, kName}, true));
  cursor->AddIndex(Index("B", {kName, kCode}, false));
  const int32_t end = index.EndPosition();
  // Dropping the first secondary index moves A and B down a slot.
  cursor->DeleteIndex(" byname ", true);
  EXPECT_EQ(cursor->GetIndexCount(), 2);
  EXPECT_EQ(index.Root(1) != 0 && index.IndexDesc(1).Name == "A", true);
  EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
  cursor->DeleteIndexByNumber(2, true);
  EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
  EXPECT_EQ(ErrorCodeOf([&] { cursor->DeleteIndex("B", true); }), kErrInvalidIndexName);
  // The same two definitions again take only freed pages.
  cursor->AddIndex(Index("B", {kName, kCode}, false));
  cursor->AddIndex(Index("ByName", {kName}, false));
  EXPECT_EQ(index.EndPosition(), end);
  cursor->Close(false);
  EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
  EXPECT_EQ(f.Walk("A"), f.Expected(false));
  EXPECT_EQ(f.Walk("B"), ByNameThenCode(f.Expected(false)));
  EXPECT_EQ(f.Walk("ByName"), f.Expected(true));
}

// The primary index dropped through the cursor, or by a restructure with no
// primary index, leaves slot 0 clear (the file opens again) and its pages,
// joined to those of a secondary index dropped before it, to the next index
// added: the census finds every page and the file does not grow. With all
// thirty secondary slots in use the status index takes the pages.
TEST(IndexDefinition, DroppedPrimaryIndexLeavesAnOpenableFileAndItsPagesToTheNextIndex) {
  for (const char* way : {"cursor", "restructure", "every slot in use"}) {
    SCOPED_TRACE(way);
    const bool restructure = way == std::string("restructure");
    const bool full = way == std::string("every slot in use");
    Fixture f;
    f.Fill(full ? RecordCount() / 10 : RecordCount(), TestSeed());
    const std::string data_path = f.db.dir.Path("T.DAT");
    auto before = f.OpenExclusive();
    for (int32_t k = 2; full && k <= kMaxSecondaryIndexes; ++k) {
      before->AddIndex(Index("I" + std::to_string(k), {kCode, kName}, k % 2 == 0));
    }
    const int32_t end = before->Table()->IndexFile().EndPosition();
    if (restructure) {
      TTableDefinition d = Definition();
      d.BlobBlockSize = before->GetBlobBlockSize();
      before->Close(false);
      for (size_t k = 0; k < d.Fields.size(); ++k) d.Fields[k].Number = static_cast<int16_t>(k + 1);
      d.Indexes = {IndexDescriptor()};
      TRestructureOptions options;
      options.PrimaryOptional = true;
      options.NoBackup = true;
      auto cursor = std::make_unique<TDataCursor>(f.db.directory);
      cursor->SetTableName("T");
      cursor->SetExclusive(true);
      ASSERT_TRUE(cursor->RestructureTable(d, options));
    } else {
      if (!full) before->DeleteIndex("ByName", true);
      before->DeleteIndexByNumber(0, true);
      before->Close(false);
    }
    EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
    auto cursor = f.OpenExclusive();
    const TIndexFile& index = cursor->Table()->IndexFile();
    EXPECT_FALSE(cursor->Table()->HasPrimaryIndex());
    EXPECT_EQ(index.SecondaryCount(), full ? kMaxSecondaryIndexes : 0);
    EXPECT_EQ(cursor->GetTotalRecordCount(), static_cast<int32_t>(f.rows.size()));
    if (full) cursor->DeleteIndex("ByName", true);
    cursor->AddIndex(Index("ByName", {kName}, false));
    if (!full) {
      EXPECT_EQ(index.EndPosition(), end);
    }
    cursor->Close(false);
    EXPECT_EQ(VerifyTable(data_path), std::vector<std::string>{});
    EXPECT_EQ(f.Walk("ByName"), f.Expected(true));
  }
}

}  // namespace
}  // namespace jw::test
