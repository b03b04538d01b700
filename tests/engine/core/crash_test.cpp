// Crash consistency from outside: a writer process (crash_writer, started
// with exec) changes a table with a primary index, a non-unique secondary
// index and a BLOB field, and is killed with SIGKILL at a random moment.
// After every kill the table must open, verify, and answer a full scan in
// natural and both index orders and seeks with every row the writer called
// durable, and otherwise only rows it had reported. 50 kills, 1,000 with
// JW_LONG_TESTS=1; JW_SEED repeats a run. A power failure, which loses
// what the files had not synced, is played from a journal of one
// transaction's writes and syncs.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "platform/os/os_file_faults.h"
#include "tests/engine/core/crash_rows.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_verifier.h"
#include "tests/support/piped_child.h"

namespace jw::test {
namespace {

using Clock = std::chrono::steady_clock;
using State = std::optional<CrashRow>;

TTableDefinition CrashDefinition() {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc),
              Field("KEY", kFldInteger),
              Field("GRP", kFldSmallInt),
              Field("NAME", kFldString, 12),
              Field("MSEED", kFldInteger),
              Field("MEMO", kFldBlob)};
  d.Indexes = {Index("", {kCrashKey}), Index("ByGroup", {kCrashGroup}, false)};
  d.BlobBlockSize = 64;
  return d;
}

// What the writer reported: the rows on disk for sure, and those it
// reported since, which a kill may or may not have let reach the disk.
class CrashModel {
 public:
  void Apply(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "put" || word == "ins") {
      CrashRow row;
      if (word == "put") in >> row.id;
      in >> row.key >> row.group >> row.memo_seed >> row.memo_length;
      pending_.emplace_back(row.id, row);
    } else if (word == "del") {
      int32_t id = 0;
      in >> id;
      pending_.emplace_back(id, std::nullopt);
    } else if (word == "begin") {
      transaction_start_ = pending_.size();
    } else if (word == "rollback") {
      pending_.resize(transaction_start_);
    } else if (word == "durable") {
      for (const auto& [id, state] : pending_) {
        if (id != 0) Set(durable_, id, state);
      }
      pending_.clear();
      ++durable_points;
    }
  }
  // Every state a row may be found in now. A row whose id no line named
  // may be one whose insert the writer died in.
  std::vector<State> Allowed(int32_t id) const {
    std::vector<State> allowed;
    const auto found = durable_.find(id);
    allowed.push_back(found == durable_.end() ? State() : State(found->second));
    for (const auto& [pending_id, state] : pending_) {
      if (pending_id == id) allowed.push_back(state);
      if (pending_id == 0 && found == durable_.end()) {
        CrashRow inserted = *state;
        inserted.id = id;
        allowed.push_back(inserted);
      }
    }
    return allowed;
  }
  std::set<int32_t> Ids() const {
    std::set<int32_t> ids;
    for (const auto& [id, row] : durable_) ids.insert(id);
    for (const auto& [id, state] : pending_) {
      if (id != 0) ids.insert(id);
    }
    return ids;
  }
  // Pending states that did not reach the disk: what the kill lost.
  int32_t LostPending(const std::map<int32_t, CrashRow>& found) const {
    std::map<int32_t, State> last;
    for (const auto& [id, state] : pending_) {
      if (id != 0) last[id] = state;
    }
    int32_t lost = 0;
    for (const auto& [id, state] : last) {
      const auto it = found.find(id);
      if ((it == found.end() ? State() : State(it->second)) != state) ++lost;
    }
    return lost;
  }
  size_t PendingCount() const { return pending_.size(); }
  // After a check the table as found is the new ground truth.
  void Rebase(const std::map<int32_t, CrashRow>& found) {
    durable_ = found;
    pending_.clear();
    transaction_start_ = 0;
  }

  int32_t durable_points = 0;

 private:
  static void Set(std::map<int32_t, CrashRow>& rows, int32_t id, const State& state) {
    if (state) {
      rows[id] = *state;
    } else {
      rows.erase(id);
    }
  }

  std::map<int32_t, CrashRow> durable_;
  std::vector<std::pair<int32_t, State>> pending_;
  size_t transaction_start_ = 0;
};

// Lines from a file descriptor, each wait bounded.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  // Hands on each line until the deadline, or until on_line returns false;
  // false when the other end closed.
  bool ReadUntil(Clock::time_point deadline,
                 const std::function<bool(const std::string&)>& on_line) {
    for (;;) {
      for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
        const std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!on_line(line)) return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return true;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

struct KillTally {
  int32_t kills = 0;
  int32_t interrupted_writes = 0;
  // Rows reported but not durable when the writer died, and how many of
  // them the disk did not hold, by the writer's mode (exclusive, flush).
  std::map<std::pair<int, int>, std::pair<int64_t, int64_t>> pending_lost;
};

// Starts a writer, lets it work for delay, kills it and feeds the model
// every line it wrote before it died.
void RunAndKill(const std::string& folder, uint32_t seed, std::chrono::microseconds delay,
                CrashModel& model, std::pair<int, int>& mode) {
  test_support::PipedChild child(JW_CRASH_WRITER, "crash_writer");
  std::fprintf(child.In(), "%s %u\n", folder.c_str(), seed);
  std::fflush(child.In());
  LineReader reader(fileno(child.Out()));
  std::string failure;
  auto take = [&](const std::string& line) {
    if (line.rfind("fail", 0) == 0) failure = line;
    model.Apply(line);
    return true;
  };
  bool ready = false;
  reader.ReadUntil(Clock::now() + std::chrono::seconds(30), [&](const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word >> mode.first >> mode.second;
    ready = word == "ready";
    if (!ready) failure = line;
    return false;
  });
  ASSERT_TRUE(ready) << "the writer did not start: " << failure;
  const bool alive = reader.ReadUntil(Clock::now() + delay, take);
  child.Kill();
  ASSERT_TRUE(alive) << "the writer (exclusive " << mode.first << ", flush " << mode.second
                     << ", seed " << seed << ") ended before the kill: " << failure;
  ASSERT_FALSE(reader.ReadUntil(Clock::now() + std::chrono::seconds(10), take))
      << "the killed writer's output did not end";
  ASSERT_EQ(failure, "");
}

std::string Describe(const State& state) {
  return state ? PutLine(*state) : "absent";
}

class CrashReader {
 public:
  explicit CrashReader(TDataCursor& cursor)
      : cursor_(cursor), image_(static_cast<size_t>(cursor.GetRecordSize())) {}

  // The rows in the order of the current index, each checked whole: NAME
  // follows KEY and the memo holds the bytes its seed gives.
  std::vector<CrashRow> Walk() {
    std::vector<CrashRow> rows;
    cursor_.First();
    while (cursor_.GetNextRecord(image_.data()) == 0) rows.push_back(Read());
    return rows;
  }
  bool Seek(int32_t key, int32_t& id) {
    std::vector<uint8_t> probe(image_.size());
    cursor_.InitRecord(probe.data());
    cursor_.SetFieldData(kCrashKey, probe.data(), false, &key);
    if (!cursor_.SeekKey(false, probe.data(), image_.data(), 0, false, 0)) return false;
    id = TDataCursor::GetRecordId(image_.data());
    return true;
  }

 private:
  CrashRow Read() {
    uint8_t* image = image_.data();
    CrashRow row;
    bool null = false;
    row.id = TDataCursor::GetRecordId(image);
    cursor_.GetFieldData(kCrashKey, image, null, &row.key);
    cursor_.GetFieldData(kCrashGroup, image, null, &row.group);
    cursor_.GetFieldData(kCrashMemoSeed, image, null, &row.memo_seed);
    char name[13] = {};
    cursor_.GetFieldData(kCrashName, image, null, name);
    EXPECT_EQ(name, CrashName(row.key)) << "record id " << row.id;
    EXPECT_EQ(cursor_.OpenBlob(kCrashMemo, image, 1, false, 1), 0);
    EXPECT_EQ(cursor_.GetBlobSize(kCrashMemo, image, false, row.memo_length), 0);
    std::string memo(static_cast<size_t>(row.memo_length), '\0');
    int32_t read = 0;
    EXPECT_EQ(cursor_.ReadBlob(kCrashMemo, image, false, read, row.memo_length, memo.data(), 0), 0);
    EXPECT_EQ(cursor_.CloseBlob(kCrashMemo, image, 1, false), 0);
    EXPECT_TRUE(memo == CrashMemo(row.memo_seed, row.memo_length))
        << "memo of record id " << row.id;
    return row;
  }

  TDataCursor& cursor_;
  std::vector<uint8_t> image_;
};

// Opens the table after a kill and checks it against the model; the rows found.
std::map<int32_t, CrashRow> CheckAfterKill(CursorDatabase& db, const CrashModel& model,
                                           std::mt19937& rng) {
  std::map<int32_t, CrashRow> found;
  auto cursor = db.Open("CRASH", true);
  CrashReader reader(*cursor);
  for (const CrashRow& row : reader.Walk()) {
    EXPECT_TRUE(found.emplace(row.id, row).second) << "record id " << row.id << " twice";
  }
  EXPECT_EQ(VerifyTable(db.dir.Path("CRASH.DAT")), std::vector<std::string>());
  std::set<int32_t> ids = model.Ids();
  for (const auto& [id, row] : found) ids.insert(id);
  for (int32_t id : ids) {
    const auto it = found.find(id);
    const State now = it == found.end() ? State() : State(it->second);
    const std::vector<State> allowed = model.Allowed(id);
    if (std::find(allowed.begin(), allowed.end(), now) != allowed.end()) continue;
    std::string expected;
    for (const State& state : allowed) expected += " | " + Describe(state);
    ADD_FAILURE() << "record id " << id << " found " << Describe(now) << ", expected" << expected;
  }

  std::vector<CrashRow> by_key;
  for (const auto& [id, row] : found) by_key.push_back(row);
  std::sort(by_key.begin(), by_key.end(),
            [](const CrashRow& a, const CrashRow& b) { return a.key < b.key; });
  cursor->SetIndexByNumber(0);
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<int32_t>(found.size()));
  EXPECT_TRUE(reader.Walk() == by_key) << "primary index order";
  std::vector<CrashRow> by_group = by_key;
  std::stable_sort(by_group.begin(), by_group.end(), [](const CrashRow& a, const CrashRow& b) {
    return std::pair(a.group, a.id) < std::pair(b.group, b.id);
  });
  cursor->SetIndexByName("ByGroup");
  EXPECT_TRUE(reader.Walk() == by_group) << "group index order";
  cursor->SetIndexByNumber(0);
  for (int i = 0; i < 10 && !by_key.empty(); ++i) {
    const CrashRow& row = by_key[rng() % by_key.size()];
    int32_t id = 0;
    EXPECT_TRUE(reader.Seek(row.key, id) && id == row.id) << "seek of key " << row.key;
  }
  int32_t id = 0;
  EXPECT_FALSE(reader.Seek(-1, id));
  cursor->Close(false);
  return found;
}

bool WriteMarkSet(const std::string& data_path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(data_path);
  return bytes.size() > kHdrDirtyFlag && bytes[kHdrDirtyFlag] != 0;
}

TEST(CrashConsistency, EveryDurableRowSurvivesAKillAtAnyMomentAndTheTableVerifies) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("JW_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  CursorDatabase db;
  db.Create("CRASH", CrashDefinition());
  CrashModel model;
  KillTally tally;
  const int32_t kills = LongTests() ? 1000 : 50;
  for (int32_t k = 0; k < kills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k));
    const uint32_t writer_seed = rng();
    // Most kills come while the writer is in full swing, a few right after
    // it opened the table.
    const auto delay = std::chrono::microseconds(rng() % 4 == 0 ? rng() % 5000 : rng() % 300000);
    std::pair<int, int> mode;
    ASSERT_NO_FATAL_FAILURE(RunAndKill(db.dir.Path(""), writer_seed, delay, model, mode));
    ++tally.kills;
    if (WriteMarkSet(db.dir.Path("CRASH.DAT"))) ++tally.interrupted_writes;
    const size_t pending = model.PendingCount();
    std::map<int32_t, CrashRow> found;
    ASSERT_NO_THROW(found = CheckAfterKill(db, model, rng));
    if (::testing::Test::HasFailure()) return;
    auto& [reported, lost] = tally.pending_lost[mode];
    reported += static_cast<int64_t>(pending);
    lost += model.LostPending(found);
    model.Rebase(found);
  }
  std::cout << "kills " << tally.kills << ", inside a write " << tally.interrupted_writes
            << ", durable points " << model.durable_points << "\n";
  for (const auto& [mode, counts] : tally.pending_lost) {
    std::cout << (mode.first ? "exclusive" : "shared")
              << (mode.second ? ", flush on" : ", flush off") << ": reported but not durable "
              << counts.first << ", not on disk after the kill " << counts.second << "\n";
  }
}

// A reader of this process walks the table in key order under its read
// lock, again and again, while a writer process inserts, rewrites and
// deletes memos between the walks: every memo read holds the bytes its
// record's seed gives, whether its blocks were appended past the file's
// end the reader had seen or taken from the free list where other memos
// lay. 1.5 s and 25 walks at least, 20 s with JW_LONG_TESTS=1.
TEST(CrashConsistency, AReaderSeesEveryMemoWholeWhileAnotherProcessRewritesThem) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("JW_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  CursorDatabase db;
  db.Create("CRASH", CrashDefinition());
  const auto duration = std::chrono::milliseconds(LongTests() ? 20000 : 1500);
  // A writer that flushes every write keeps the reader waiting at times.
  constexpr int32_t kMinWalks = 25;
  int32_t walks = 0;
  int64_t memos = 0;
  std::set<int32_t> seeds_seen;
  // A writer that holds the table exclusively is let go for one that shares it.
  for (int32_t attempt = 0; attempt < 20 && walks == 0; ++attempt) {
    test_support::PipedChild child(JW_CRASH_WRITER, "crash_writer");
    std::fprintf(child.In(), "%s %u\n", db.dir.Path("").c_str(), static_cast<unsigned>(rng()));
    std::fflush(child.In());
    LineReader lines(fileno(child.Out()));
    std::string failure;
    int exclusive = 1;
    lines.ReadUntil(Clock::now() + std::chrono::seconds(30), [&](const std::string& line) {
      std::istringstream in(line);
      std::string word;
      in >> word >> exclusive;
      if (word != "ready") failure = line;
      return false;
    });
    ASSERT_EQ(failure, "");
    if (exclusive != 0) {
      child.Kill();
      continue;
    }
    auto cursor = db.Open("CRASH");
    CrashReader reader(*cursor);
    // The writer's lines are taken as they come, so that it never waits on
    // its pipe, and give it the time to write between the walks.
    auto take = [&](const std::string& line) {
      if (line.rfind("fail", 0) == 0) failure = line;
      return true;
    };
    const auto start = Clock::now();
    while ((walks < kMinWalks || Clock::now() < start + duration) &&
           Clock::now() < start + std::chrono::seconds(60) && !HasFailure()) {
      ASSERT_TRUE(lines.ReadUntil(Clock::now() + std::chrono::milliseconds(2), take)) << failure;
      cursor->LockForRead();
      const std::vector<CrashRow> rows = reader.Walk();
      cursor->UnlockForRead();
      ++walks;
      memos += static_cast<int64_t>(rows.size());
      for (const CrashRow& row : rows) seeds_seen.insert(row.memo_seed);
    }
    cursor->Close(false);
    child.Kill();
    EXPECT_EQ(failure, "");
  }
  EXPECT_GE(walks, kMinWalks);
  EXPECT_GT(seeds_seen.size(), 50u) << "memos written by the writer while the reader walked";
  std::cout << walks << " walks, " << memos << " memos read, " << seeds_seen.size()
            << " distinct memos\n";
}

// ---- power failure ----

// A row's fields and memo written into the cursor's record image.
void FillCrashRow(TDataCursor& cursor, uint8_t* image, const CrashRow& row) {
  const std::string name = CrashName(row.key);
  cursor.SetFieldData(kCrashKey, image, false, &row.key);
  cursor.SetFieldData(kCrashGroup, image, false, &row.group);
  cursor.SetFieldData(kCrashName, image, false, name.c_str());
  cursor.SetFieldData(kCrashMemoSeed, image, false, &row.memo_seed);
  const std::string memo = CrashMemo(row.memo_seed, row.memo_length);
  ASSERT_EQ(cursor.OpenBlob(kCrashMemo, image, 1, false, 2), 0);
  ASSERT_EQ(cursor.TruncateBlob(kCrashMemo, image, false, 0), 0);
  if (!memo.empty()) {
    ASSERT_EQ(cursor.WriteBlob(kCrashMemo, image, false, static_cast<int32_t>(memo.size()),
                               memo.data(), 0),
              0);
  }
}

// Stands the cursor (in primary index order) on the row, read into image.
void SeekCrashRow(TDataCursor& cursor, uint8_t* image, const CrashRow& row, bool lock) {
  std::vector<uint8_t> probe(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.InitRecord(probe.data());
  cursor.SetFieldData(kCrashKey, probe.data(), false, &row.key);
  ASSERT_TRUE(cursor.SeekKey(false, probe.data(), image, 0, false, 0));
  ASSERT_EQ(cursor.GetCurrentRecord(image, lock), 0);
}

// A table file as it stood before the journal, and its inode.
struct JournalledFile {
  std::string path;
  uint64_t inode;
  std::vector<uint8_t> before;
};

void ApplyEvent(std::vector<uint8_t>& bytes, const OsFileEvent& event) {
  const auto offset = static_cast<size_t>(event.offset);
  if (event.kind == OsFileEvent::Kind::Cut) {
    bytes.resize(offset);
  } else if (event.kind == OsFileEvent::Kind::Write) {
    if (bytes.size() < offset + event.bytes.size()) bytes.resize(offset + event.bytes.size());
    std::copy(event.bytes.begin(), event.bytes.end(), bytes.begin() + event.offset);
  }
}

// The file as a disk may hold it when the power fails before journal event
// cut: every change up to the file's last sync, and of the changes since,
// none (pick 0), all (1), only the last (2) or all but the last (3).
std::vector<uint8_t> DiskAfterPowerLoss(const JournalledFile& file,
                                        const std::vector<OsFileEvent>& journal, size_t cut,
                                        int pick) {
  std::vector<const OsFileEvent*> changes;
  size_t synced = 0;
  for (size_t i = 0; i < cut; ++i) {
    if (journal[i].inode != file.inode) continue;
    if (journal[i].kind == OsFileEvent::Kind::Sync) {
      synced = changes.size();
    } else {
      changes.push_back(&journal[i]);
    }
  }
  std::vector<uint8_t> bytes = file.before;
  for (size_t i = 0; i < changes.size(); ++i) {
    const bool last = i + 1 == changes.size();
    const bool kept = i < synced || pick == 1 || (pick == 2 && last) || (pick == 3 && !last);
    if (kept) ApplyEvent(bytes, *changes[i]);
  }
  return bytes;
}

// A transaction with an interim commit changes, deletes and inserts rows of
// a table with a primary and a secondary index and BLOBs, its writes and
// syncs journalled. The power then fails after each step of the journal,
// each file keeping what it synced and some of what it did not: the table
// must open (repairing what its write mark says was cut off), verify, and
// hold each row as before the transaction or as the transaction wrote it;
// with the whole journal on the disk it holds exactly the committed rows.
TEST(CrashConsistency, PowerLostAtAnyStepOfACommitLeavesEveryRowAsBeforeOrAsCommitted) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE("JW_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  CursorDatabase db;
  db.Create("CRASH", CrashDefinition());
  CrashModel model;
  std::map<int32_t, CrashRow> rows;
  auto cursor = db.Open("CRASH");
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  int32_t last_key = 0;
  const auto new_row = [&] {
    CrashRow row;
    row.key = ++last_key;
    row.group = static_cast<int16_t>(rng() % 8);
    row.memo_seed = static_cast<int32_t>(rng() % 1000000);
    row.memo_length = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 2000);
    return row;
  };
  const auto insert = [&] {
    CrashRow row = new_row();
    model.Apply(InsertLine(row));
    cursor->InitRecord(image.data());
    FillCrashRow(*cursor, image.data(), row);
    cursor->InsertRecord(image.data(), false);
    row.id = TDataCursor::GetRecordId(image.data());
    model.Apply(PutLine(row));
    rows[row.key] = row;
  };
  db.directory->StartTransaction();
  const int32_t scale = LongTests() ? 4 : 1;
  for (int i = 0; i < 50 * scale; ++i) ASSERT_NO_FATAL_FAILURE(insert());
  db.directory->Commit(true);
  model.Apply("durable");
  cursor.reset();
  std::map<int32_t, CrashRow> before;
  for (const auto& [key, row] : rows) before[row.id] = row;

  std::vector<JournalledFile> files;
  for (const char* name : {"CRASH.DAT", "CRASH.IDX", "CRASH.BLB"}) {
    JournalledFile file{db.dir.Path(name), 0, {}};
    struct stat st;
    ASSERT_EQ(stat(file.path.c_str(), &st), 0);
    file.inode = static_cast<uint64_t>(st.st_ino);
    file.before = ReadWholeFile(file.path);
    files.push_back(std::move(file));
  }
  std::vector<OsFileEvent> journal;
  OsFileFaults faults;
  faults.journal = &journal;
  {
    TScopedOsFileFaults scope(faults);
    cursor = db.Open("CRASH");
    db.directory->StartTransaction();
    model.Apply("begin");
    for (int half = 0; half < 2; ++half) {
      for (int i = 0; i < 6 * scale; ++i) {
        auto it = std::next(rows.begin(), static_cast<long>(rng() % rows.size()));
        CrashRow row = it->second;
        rows.erase(it);
        if (i % 3 == 0) {
          ASSERT_NO_FATAL_FAILURE(SeekCrashRow(*cursor, image.data(), row, false));
          model.Apply("del " + std::to_string(row.id));
          cursor->DeleteRecord(image.data(), false);
          continue;
        }
        ASSERT_NO_FATAL_FAILURE(SeekCrashRow(*cursor, image.data(), row, true));
        const CrashRow moved = [&] {
          CrashRow changed = new_row();
          changed.id = row.id;
          return changed;
        }();
        model.Apply(PutLine(moved));
        ASSERT_NO_FATAL_FAILURE(FillCrashRow(*cursor, image.data(), moved));
        cursor->ModifyRecord(image.data(), true, false);
        rows[moved.key] = moved;
      }
      for (int i = 0; i < 3 * scale; ++i) ASSERT_NO_FATAL_FAILURE(insert());
      db.directory->Commit(half == 1);
    }
    cursor.reset();
  }
  std::vector<OsFileEvent> mine;
  for (OsFileEvent& event : journal) {
    for (const JournalledFile& file : files) {
      if (event.inode == file.inode) mine.push_back(std::move(event));
    }
  }
  ASSERT_GT(std::count_if(mine.begin(), mine.end(),
                          [](const OsFileEvent& e) { return e.kind == OsFileEvent::Kind::Sync; }),
            3);
  std::map<int32_t, CrashRow> committed;
  for (const auto& [key, row] : rows) committed[row.id] = row;

  std::set<size_t> seen;
  int32_t repaired = 0;
  // The rows on the disk the power failure left before step cut, each file
  // keeping what choice picks of its unsynced changes; nothing when that
  // disk was checked already.
  const auto check = [&](size_t cut, int choice) -> std::optional<std::map<int32_t, CrashRow>> {
    std::vector<std::vector<uint8_t>> disk;
    std::string all;
    for (size_t f = 0; f < files.size(); ++f) {
      disk.push_back(DiskAfterPowerLoss(files[f], mine, cut, (choice >> (2 * f)) & 3));
      all.append(disk.back().begin(), disk.back().end());
      all.push_back('|');
    }
    if (!seen.insert(std::hash<std::string>()(all)).second) return std::nullopt;
    for (size_t f = 0; f < files.size(); ++f) WriteWholeFile(files[f].path, disk[f]);
    if (WriteMarkSet(files[0].path)) ++repaired;
    return CheckAfterKill(db, model, rng);
  };
  // No change on the disk: the rows before; every change: the committed rows.
  std::optional<std::map<int32_t, CrashRow>> found;
  ASSERT_NO_THROW(found = check(0, 0));
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(*found == before);
  ASSERT_NO_THROW(found = check(mine.size(), 0));
  ASSERT_TRUE(found.has_value());
  EXPECT_TRUE(*found == committed);
  for (size_t cut = 0; cut < mine.size(); ++cut) {
    for (int choice = 0; choice < 64; ++choice) {
      SCOPED_TRACE("power lost before step " + std::to_string(cut) + " of " +
                   std::to_string(mine.size()) + ", choice " + std::to_string(choice));
      ASSERT_NO_THROW(check(cut, choice));
      if (::testing::Test::HasFailure()) return;
    }
  }
  // The cuts fell inside write-backs that the open had to repair.
  EXPECT_GT(repaired, 0);
  std::cout << seen.size() << " disks after a power failure, " << repaired << " repaired\n";
}

}  // namespace
}  // namespace jw::test
