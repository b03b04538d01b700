// A commit cut off halfway, by a kill or by a full disk, in a table whose
// two indexes each fit their root leaf until the commit's 3,000 rows split
// them. Afterwards the table must open (the open repairs what the write
// mark says was cut off), verify, and hold every row committed before; any
// other row it holds is one of the commit's, whole, and found through both
// indexes. A kill lands after each write of the commit and at random
// moments of it (40 in a run, 400 with JW_LONG_TESTS=1), where it may cut
// a write short; the full disk is a small tmpfs filled to leave the commit
// short of room at chosen points.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "tests/engine/core/commit_rows.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_verifier.h"
#include "tests/support/piped_child.h"

namespace jw::test {
namespace {

constexpr int32_t kCommittedRows = 20;
constexpr int32_t kCommitRows = 3000;

TTableDefinition RootsDefinition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("KEY", kFldInteger),
              Field("NAME", kFldString, kRootsNameSize)};
  d.Indexes = {Index("", {kRootsKey}), Index("ByName", {kRootsName}, false)};
  return d;
}

void InsertRows(TDataCursor& cursor, int32_t first, int32_t count) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  for (int32_t key = first; key < first + count; ++key) {
    cursor.InitRecord(image.data());
    FillRootsRow(cursor, image.data(), key);
    cursor.InsertRecord(image.data(), false);
  }
}

// The keys in the order of the named index, each row's name checked.
std::vector<int32_t> WalkKeys(TDataCursor& cursor, const std::string& index) {
  cursor.SetIndexByName(index);
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<int32_t> keys;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    bool null = false;
    int32_t key = 0;
    char name[kRootsNameSize + 1] = {};
    cursor.GetFieldData(kRootsKey, image.data(), null, &key);
    cursor.GetFieldData(kRootsName, image.data(), null, name);
    EXPECT_EQ(name, RootsName(key)) << "row of key " << key << " torn";
    keys.push_back(key);
  }
  return keys;
}

// Opens the table after the cut and checks it: every row committed before
// there, the others from the commit's keys, both indexes in order over the
// same rows, the files sound. The number of rows.
size_t CheckAfterCut(CursorDatabase& db) {
  std::unique_ptr<TDataCursor> cursor;
  EXPECT_NO_THROW(cursor = db.Open("ROOTS"));
  if (cursor == nullptr) return 0;
  const std::vector<int32_t> by_key = WalkKeys(*cursor, "");
  std::vector<int32_t> by_name = WalkKeys(*cursor, "ByName");
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(by_key.size()));
  cursor->Close(false);
  EXPECT_TRUE(std::is_sorted(by_key.begin(), by_key.end()));
  EXPECT_TRUE(std::is_sorted(by_name.begin(), by_name.end(),
                             [](int32_t a, int32_t b) { return RootsName(a) < RootsName(b); }));
  std::sort(by_name.begin(), by_name.end());
  EXPECT_EQ(by_name, by_key) << "the name index holds other rows than the primary index";
  const std::set<int32_t> keys(by_key.begin(), by_key.end());
  EXPECT_EQ(keys.size(), by_key.size()) << "a key twice";
  for (int32_t key = 1; key <= kCommittedRows; ++key) {
    EXPECT_TRUE(keys.count(key) == 1) << "committed row " << key << " lost";
  }
  if (!by_key.empty()) {
    EXPECT_GE(by_key.front(), 1);
    EXPECT_LE(by_key.back(), kCommittedRows + kCommitRows);
  }
  EXPECT_EQ(VerifyTable(db.dir.Path("ROOTS.DAT")), std::vector<std::string>());
  return by_key.size();
}

struct SavedFiles {
  std::map<std::string, std::vector<uint8_t>> bytes;
  void Save(const CursorDatabase& db) {
    for (const char* name : {"ROOTS.DAT", "ROOTS.IDX"})
      bytes[name] = ReadWholeFile(db.dir.Path(name));
  }
  void Restore(const CursorDatabase& db) const {
    for (const auto& [name, content] : bytes) WriteWholeFile(db.dir.Path(name), content);
  }
};

bool WriteMarkSet(const CursorDatabase& db) {
  const std::vector<uint8_t> bytes = ReadWholeFile(db.dir.Path("ROOTS.DAT"));
  return bytes.size() > kHdrDirtyFlag && bytes[kHdrDirtyFlag] != 0;
}

// Runs the writer over the table, killing it kill_after into its commit
// when given; its last line, "commit" when it died inside the commit.
std::string RunWriter(const CursorDatabase& db, bool exclusive, int64_t kill_at,
                      std::chrono::microseconds kill_after = std::chrono::microseconds(-1)) {
  test_support::PipedChild child(JW_COMMIT_WRITER, "commit_writer");
  fprintf(child.In(), "%s %d %d %d %lld\n", db.dir.Path("").c_str(), exclusive ? 1 : 0,
          kCommittedRows + 1, kCommitRows, static_cast<long long>(kill_at));
  fflush(child.In());
  std::string last;
  char line[256];
  while (fgets(line, sizeof line, child.Out()) != nullptr) {
    last = line;
    if (last == "commit\n" && kill_after.count() >= 0) {
      std::this_thread::sleep_for(kill_after);
      child.Kill();
    }
  }
  return last;
}

// Points in 1 .. count: count of them, or one in each of picks equal
// stretches.
std::vector<int64_t> Picks(int64_t count, int64_t picks, std::mt19937& rng) {
  std::vector<int64_t> out;
  if (picks >= count) {
    for (int64_t i = 1; i <= count; ++i) out.push_back(i);
    return out;
  }
  for (int64_t i = 0; i < picks; ++i) {
    const int64_t begin = 1 + i * count / picks;
    const int64_t end = 1 + (i + 1) * count / picks;
    out.push_back(begin + static_cast<int64_t>(rng() % static_cast<uint32_t>(end - begin)));
  }
  return out;
}

void CreateCommittedTable(CursorDatabase& db) {
  db.Create("ROOTS", RootsDefinition());
  auto cursor = db.Open("ROOTS");
  InsertRows(*cursor, 1, kCommittedRows);
  cursor->Close(false);
}

TEST(InterruptedCommit, AKillAtAnyWriteOfACommitThatSplitsTheRootsLeavesEveryCommittedRow) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("JW_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  CursorDatabase db;
  CreateCommittedTable(db);
  SavedFiles before;
  before.Save(db);

  long long writes = 0;
  long long took_us = 0;
  ASSERT_EQ(sscanf(RunWriter(db, false, 0).c_str(), "committed %lld %lld", &writes, &took_us), 2);
  ASSERT_GT(writes, 3);
  EXPECT_EQ(CheckAfterCut(db), static_cast<size_t>(kCommittedRows + kCommitRows));

  int32_t repaired = 0;
  const int32_t kills = LongTests() ? 400 : 40;
  for (int32_t k = 0; k < kills; ++k) {
    // The first kills follow each write in turn, the others come after a
    // random time within the commit's own (and a little beyond).
    const int64_t kill_at = k < writes ? k + 1 : 0;
    const auto kill_after = std::chrono::microseconds(
        kill_at != 0 ? -1
                     : static_cast<int64_t>(rng() % static_cast<uint32_t>(took_us * 5 / 4 + 1)));
    const bool exclusive = k % 2 == 1;
    SCOPED_TRACE("kill " + std::to_string(k) +
                 (kill_at != 0 ? " at write " + std::to_string(kill_at)
                               : " after " + std::to_string(kill_after.count()) + " us") +
                 (exclusive ? ", exclusive" : ", shared"));
    before.Restore(db);
    const std::string last = RunWriter(db, exclusive, kill_at, kill_after);
    if (kill_at != 0) {
      ASSERT_EQ(last, "commit\n");
    }
    if (WriteMarkSet(db)) ++repaired;
    CheckAfterCut(db);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GE(repaired, writes - 1);
  std::cout << kills << " kills in a commit of " << writes << " writes and " << took_us << " us, "
            << repaired << " inside it\n";
}

// A tmpfs of the given size over a folder, in a mount namespace of this
// process's own, so that nothing outside sees it.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const char* size) : path_(path) {
    if (unshare(CLONE_NEWNS) != 0) {
      failure_ = std::string("unshare: ") + strerror(errno);
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      failure_ = std::string("private mounts: ") + strerror(errno);
    } else if (mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) !=
               0) {
      failure_ = std::string("mount: ") + strerror(errno);
    } else {
      mounted_ = true;
    }
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  const std::string& Failure() const { return failure_; }
  int64_t FreeBytes() const {
    struct statvfs st;
    if (statvfs(path_.c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
  }

 private:
  std::string path_;
  std::string failure_;
  bool mounted_ = false;
};

TEST(InterruptedCommit, ACommitThatMeetsAFullDiskLeavesEveryCommittedRowOnceSpaceIsFreed) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("JW_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  CursorDatabase db;
  SmallDisk disk(db.dir.Path(""), "900k");
  if (!disk.Failure().empty()) {
    GTEST_SKIP() << "a small tmpfs cannot be mounted here (" << disk.Failure() << ")";
  }
  CreateCommittedTable(db);
  SavedFiles before;
  before.Save(db);
  const std::string filler = db.dir.Path("filler");
  // With room left for only part of its writes, the commit fails with the
  // disk full; space is freed, the table closed (an exclusive one writes
  // its header back then) and opened again.
  const auto commit_with_room = [&](int64_t room, bool exclusive) {
    before.Restore(db);
    const int64_t fill = disk.FreeBytes() - room;
    if (fill > 0) WriteWholeFile(filler, std::vector<uint8_t>(static_cast<size_t>(fill), 0));
    auto cursor = std::make_unique<TDataCursor>(db.directory);
    cursor->SetTableName("ROOTS");
    cursor->SetExclusive(exclusive);
    cursor->Open();
    db.directory->StartTransaction();
    InsertRows(*cursor, kCommittedRows + 1, kCommitRows);
    bool committed = true;
    try {
      db.directory->Commit(true);
    } catch (const EQuireEngineError&) {
      committed = false;
    }
    std::remove(filler.c_str());
    cursor->Close(false);
    return committed;
  };
  const int64_t free_before = disk.FreeBytes();
  ASSERT_TRUE(commit_with_room(free_before, false));
  const int64_t needed = free_before - disk.FreeBytes();
  ASSERT_EQ(CheckAfterCut(db), static_cast<size_t>(kCommittedRows + kCommitRows));

  const int64_t pages = needed / 4096;
  int32_t failed = 0;
  for (const int64_t page : Picks(pages, LongTests() ? pages : 10, rng)) {
    const bool exclusive = page % 2 == 0;
    const int64_t room = (page - 1) * 4096;
    SCOPED_TRACE("room for " + std::to_string(room) + " of " + std::to_string(needed) + " bytes" +
                 (exclusive ? ", exclusive" : ", shared"));
    if (!commit_with_room(room, exclusive)) ++failed;
    CheckAfterCut(db);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace jw::test
