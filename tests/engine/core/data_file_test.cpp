// The data file's behaviour: records across close and open, the free chain,
// the record cache's reads and writes, the file check, limits, encryption,
// locks and what a failed write leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "engine/core/data_file.h"
#include "engine/support/records_bitmap.h"
#include "engine/support/scrambler.h"
#include "platform/os/os_file_faults.h"
#include "tests/engine/core/data_file_verifier.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

class FakeCursor : public TDataFileCursor {
 public:
  bool TableFilesChanged() override { return changed; }
  int32_t CountVisibleRun(int32_t limit, int) override { return std::min(run, limit); }
  bool changed = false;
  int32_t run = 1;
};

class DataFileTest : public ::testing::Test {
 protected:
  void Create(const std::vector<FieldDescriptor>& fields = SmallDefinition(),
              bool encrypted = false) {
    file_ = std::make_unique<TestDataFile>(&table_);
    CreateTable(*file_, Path(), fields, encrypted, "pw");
  }
  void WriteBackAndClose() {
    file_->FlushRecords(false);
    file_->WriteHeader(false, false);
    file_->WriteFieldDescs();
    file_->Close();
  }
  void Reopen() {
    file_ = std::make_unique<TestDataFile>(&table_);
    file_->SetName(Path());
    file_->Open();
  }
  TRecord* Fetch(int32_t n) {
    TRecord* r = nullptr;
    EXPECT_TRUE(file_->FetchRecord(nullptr, n, 1, false, false, r));
    return r;
  }
  std::string NameOf(int32_t n) {
    TRecord* r = Fetch(n);
    const FieldDescriptor& f = file_->FieldDesc(2);
    std::string s(reinterpret_cast<const char*>(r->Bytes() + f.Offset + 1));
    file_->ReleaseRecord(r);
    return s;
  }
  std::string Path() const { return dir_.Path("T.DAT"); }
  void Verify() {
    const auto problems = VerifyDataFile(Path());
    EXPECT_TRUE(problems.empty()) << problems.front();
  }

  ScratchDir dir_;
  FakeTable table_;
  std::unique_ptr<TestDataFile> file_;
};

// ---- records ----

TEST_F(DataFileTest, AppendedRecordsSurviveCloseAndOpen) {
  const int32_t count = LongTests() ? 100000 : 10000;
  Create();
  for (int32_t i = 1; i <= count; ++i) {
    ASSERT_EQ(AppendSmallRecord(*file_, "rec" + std::to_string(i), i * 7), i);
  }
  WriteBackAndClose();
  Verify();
  Reopen();
  ASSERT_EQ(file_->RecordCount(), count);
  EXPECT_EQ(file_->LastAutoInc(), count);
  const FieldDescriptor& value = file_->FieldDesc(3);
  for (int32_t i = 1; i <= count; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file_->FetchRecord(nullptr, i, 1, true, false, r));
    EXPECT_EQ(r->Status(), kRecordLive);
    EXPECT_EQ(GetInt32(r->Bytes() + kRecNumber), i);
    EXPECT_EQ(r->RecordId(), i);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(r->Bytes() + file_->FieldDesc(2).Offset + 1)),
        "rec" + std::to_string(i));
    EXPECT_EQ(GetInt32(r->Bytes() + value.Offset + 1), i * 7);
    file_->ReleaseRecord(r);
  }
}

TEST_F(DataFileTest, EmptyTableIsExactlyHeaderAndDescriptors) {
  Create();
  file_->Close();
  EXPECT_EQ(ReadWholeFile(Path()).size(), 127u + 3 * 768);
  Reopen();
  EXPECT_EQ(file_->NextRecordNumber(), 1);
  EXPECT_EQ(0, ErrorCodeOf([&] { file_->Check(); }));
}

TEST_F(DataFileTest, FreeChainReusesLastFreedRecordFirst) {
  Create();
  for (int i = 1; i <= 10; ++i) AppendSmallRecord(*file_, "x", i);
  for (int32_t n : {5, 3}) {
    TRecord* r = Fetch(n);
    file_->FreeRecord(r);
    file_->ReleaseRecord(r);
  }
  EXPECT_EQ(file_->FreeHead(), 3);
  TRecord* three = Fetch(3);
  EXPECT_EQ(three->Status(), kRecordFree);
  EXPECT_EQ(GetInt32(three->Bytes() + kRecNumber), 5);
  file_->ReleaseRecord(three);

  TRecord* got = file_->AllocRecord();
  EXPECT_EQ(got->RecordNumber(), 3);
  EXPECT_EQ(file_->FreeHead(), 5);
  got->InitNew(true);
  got->SetModified(true);
  file_->ReleaseRecord(got);
  WriteBackAndClose();
  Verify();
}

TEST_F(DataFileTest, TableWithoutPrimaryIndexAlwaysAppends) {
  table_.has_primary_index = false;
  Create();
  for (int i = 1; i <= 4; ++i) AppendSmallRecord(*file_, "x", i);
  TRecord* r = Fetch(2);
  file_->FreeRecord(r);
  file_->ReleaseRecord(r);
  TRecord* got = file_->AllocRecord();
  EXPECT_EQ(got->RecordNumber(), 5);
  file_->ReleaseRecord(got);
}

TEST_F(DataFileTest, FetchNeverAppendsOrReadsRecordZero) {
  Create();
  AppendSmallRecord(*file_, "x", 1);
  TRecord* r = nullptr;
  EXPECT_EQ(kErrRecordBuffersCorrupt,
            ErrorCodeOf([&] { file_->FetchRecord(nullptr, 2, 1, false, false, r); }));
  EXPECT_EQ(kErrRecordBuffersCorrupt,
            ErrorCodeOf([&] { file_->FetchRecord(nullptr, 0, 1, false, false, r); }));
  EXPECT_EQ(file_->NextRecordNumber(), 2);
}

TEST_F(DataFileTest, CorruptFreeChainNeverHandsOutALiveRecord) {
  Create();
  for (int i = 1; i <= 3; ++i) AppendSmallRecord(*file_, "x", i);
  WriteBackAndClose();
  auto bytes = ReadWholeFile(Path());
  PutInt32(&bytes[kHdrFreeHead], 2);  // record 2 is live
  WriteWholeFile(Path(), bytes);
  Reopen();
  EXPECT_EQ(kErrRecordBuffersCorrupt, ErrorCodeOf([&] { file_->AllocRecord(); }));
  EXPECT_EQ(NameOf(2), "x");
}

TEST_F(DataFileTest, DoubleFreeIsRefused) {
  Create();
  AppendSmallRecord(*file_, "x", 1);
  TRecord* r = Fetch(1);
  file_->FreeRecord(r);
  EXPECT_EQ(kErrRecordBuffersCorrupt, ErrorCodeOf([&] { file_->FreeRecord(r); }));
  file_->ReleaseRecord(r);
}

TEST_F(DataFileTest, CursorReportingChangeGetsNoRecord) {
  Create();
  AppendSmallRecord(*file_, "x", 1);
  WriteBackAndClose();
  Reopen();
  FakeCursor cursor;
  cursor.changed = true;
  TRecord* r = reinterpret_cast<TRecord*>(1);
  EXPECT_FALSE(file_->FetchRecord(&cursor, 1, 1, false, false, r));
  EXPECT_EQ(r, nullptr);
  table_.strict_change_detection = true;  // the read lock has already looked
  EXPECT_TRUE(file_->FetchRecord(&cursor, 1, 1, false, false, r));
  file_->ReleaseRecord(r);
}

// ---- cache and I/O ----

TEST_F(DataFileTest, DirtyRunsAreWrittenOneWriteEach) {
  Create();
  for (int i = 1; i <= 10; ++i) AppendSmallRecord(*file_, "x", i);
  file_->ResetCounts();
  EXPECT_TRUE(file_->FlushRecords(false));
  ASSERT_EQ(file_->write_lengths, std::vector<int32_t>({10 * file_->RecordSize()}));
  EXPECT_FALSE(file_->FlushRecords(false));

  for (int32_t n : {2, 3, 4, 7}) {
    TRecord* r = Fetch(n);
    r->SetRecordId(100 + n);
    file_->ReleaseRecord(r);
  }
  file_->ResetCounts();
  file_->FlushRecords(false);
  EXPECT_EQ(file_->write_lengths,
            std::vector<int32_t>({3 * file_->RecordSize(), 1 * file_->RecordSize()}));
  EXPECT_EQ(file_->flushes, 0);
  table_.force_buffer_flush = true;
  TRecord* r = Fetch(9);
  r->SetRecordId(1);
  file_->ReleaseRecord(r);
  file_->FlushRecords(false);
  EXPECT_EQ(file_->flushes, 1);
}

TEST_F(DataFileTest, PinnedRecordsWaitForWriteBack) {
  Create();
  AppendSmallRecord(*file_, "x", 1);
  TRecord* r = Fetch(1);
  file_->ResetCounts();
  EXPECT_FALSE(file_->FlushRecords(false));
  file_->ReleaseRecord(r);
  EXPECT_TRUE(file_->FlushRecords(false));
}

TEST_F(DataFileTest, ReadAheadIsOneReadPerWindow) {
  Create();
  const int32_t count = 5000;
  for (int i = 1; i <= count; ++i) AppendSmallRecord(*file_, "x", i);
  WriteBackAndClose();
  Reopen();
  const int32_t size = file_->RecordSize();
  EXPECT_EQ(file_->ReadAheadCount(), 65535 / size);
  EXPECT_EQ(file_->CacheCapacity(), std::min(131070 / size, 8191));
  file_->ResetCounts();
  const int32_t window = file_->ReadAheadCount();
  for (int32_t n = 1; n <= window; ++n) {
    TRecord* r = nullptr;
    file_->FetchRecord(nullptr, n, 1, true, false, r);
    file_->ReleaseRecord(r);
  }
  EXPECT_EQ(file_->reads, 1);
  TRecord* r = nullptr;
  file_->FetchRecord(nullptr, window + 1, 1, true, false, r);
  file_->ReleaseRecord(r);
  EXPECT_EQ(file_->reads, 2);

  // Backwards from the end: the window ends at the record asked for.
  file_->ResetCounts();
  file_->FetchRecord(nullptr, count, 0, false, false, r);
  file_->ReleaseRecord(r);
  FakeCursor cursor;
  cursor.run = 10;
  file_->FetchRecord(&cursor, count - 20, 0, false, true, r);
  file_->ReleaseRecord(r);
  for (int32_t n = count - 29; n <= count - 20; ++n) {
    file_->FetchRecord(nullptr, n, 0, false, false, r);
    file_->ReleaseRecord(r);
  }
  EXPECT_EQ(file_->reads, 2);
}

// Records come out of a mapping of the file once a few reads read it: a
// walk over scattered records then makes no system read for them. A
// process outside the locks that cuts the file under the mapping leaves a
// fetch an engine error instead of a fault; where no mapping can be made,
// fetches read the file and find the same records, scrambled or not.
TEST_F(DataFileTest, FetchesSurviveAFileCutUnderTheMappingAndRefusedMappings) {
  ForEachMappingCase([&](const MappingCase& mapping, OsFileFaults& faults) {
    SCOPED_TRACE(mapping.Name());
    const auto [refuse_maps, encrypted] = mapping;
    Create(SmallDefinition(), encrypted);
    const int32_t count = 3000;
    for (int32_t i = 1; i <= count; ++i) AppendSmallRecord(*file_, "r" + std::to_string(i), i);
    WriteBackAndClose();
    Reopen();
    std::vector<int32_t> order(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) order[static_cast<size_t>(i)] = i + 1;
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(NameOf(order[i]), "r" + std::to_string(order[i]));
    const int64_t before = faults.reads;
    for (size_t i = 20; i < order.size(); ++i) {
      ASSERT_EQ(NameOf(order[i]), "r" + std::to_string(order[i]));
    }
    EXPECT_EQ(faults.reads - before, refuse_maps ? count - 20 : 0) << "system reads of the walk";
    file_->DropRecordCache();
    std::filesystem::resize_file(Path(), file_->DataStart() + file_->RecordSize() * 10);
    TRecord* r = nullptr;
    EXPECT_NE(ErrorCodeOf([&] { file_->FetchRecord(nullptr, count, 1, false, false, r); }), 0);
    EXPECT_EQ(NameOf(5), "r5");
    file_->Close();
  });
}

std::vector<FieldDescriptor> WideDefinition() {
  return {Field("BIG", kFldString, 250)};
}

TEST_F(DataFileTest, FullCacheOfPinnedRecordsIsCorruptionOutsideTransaction) {
  Create(WideDefinition());
  const int32_t capacity = file_->CacheCapacity();
  EXPECT_EQ(capacity, 131070 / (9 + 252));
  for (int32_t i = 0; i < capacity + 1; ++i) {
    TRecord* r = file_->AllocRecord();
    file_->ReleaseRecord(r);
  }
  WriteBackAndClose();
  Reopen();
  std::vector<TRecord*> pinned;
  for (int32_t n = 1; n <= capacity; ++n) pinned.push_back(Fetch(n));
  TRecord* r = nullptr;
  EXPECT_EQ(kErrRecordBuffersCorrupt,
            ErrorCodeOf([&] { file_->FetchRecord(nullptr, capacity + 1, 1, false, false, r); }));
  table_.in_transaction = true;
  EXPECT_TRUE(file_->FetchRecord(nullptr, capacity + 1, 1, false, false, r));
  EXPECT_EQ(file_->CacheCapacity(), capacity + 255);
}

TEST_F(DataFileTest, TrimKeepsPinnedRecordsCached) {
  Create(WideDefinition());
  const int32_t capacity = file_->CacheCapacity();
  for (int32_t i = 0; i < capacity + 1; ++i) file_->ReleaseRecord(file_->AllocRecord());
  WriteBackAndClose();
  Reopen();
  table_.in_transaction = true;
  std::vector<TRecord*> pinned;
  for (int32_t n = 1; n <= capacity + 1; ++n) pinned.push_back(Fetch(n));
  table_.in_transaction = false;
  file_->TrimRecordCache();
  // A trimmed pinned record would go back to the pool while its holder still uses it.
  EXPECT_EQ(file_->CachedRecordCount(), capacity + 1);
  TRecord* again = Fetch(capacity + 1);
  EXPECT_EQ(again, pinned.back());
  file_->ReleaseRecord(again);
  for (TRecord* r : pinned) file_->ReleaseRecord(r);
  file_->TrimRecordCache();
  EXPECT_EQ(file_->CachedRecordCount(), capacity);
}

// Changed records a little apart are written in windows read from the
// disk first, so the records between keep their bytes; against a model of
// every record's id on disk, with a changed record held pinned (not to be
// written yet) inside a window. Fewer writes than runs of changed records.
TEST_F(DataFileTest, ScatteredChangesAreWrittenInWindowsKeepingTheRecordsBetween) {
  Create();
  constexpr int32_t kCount = 3000;
  for (int32_t n = 1; n <= kCount; ++n) AppendSmallRecord(*file_, "x", n);
  file_->FlushRecords(false);
  const int32_t size = file_->RecordSize();
  // The records end the file; the id follows the status byte and the number.
  const auto disk_ids = [&] {
    const std::vector<uint8_t> bytes = ReadWholeFile(Path());
    std::vector<int32_t> ids(kCount + 1);
    const size_t first = bytes.size() - static_cast<size_t>(kCount) * static_cast<size_t>(size);
    for (int32_t n = 1; n <= kCount; ++n) {
      std::memcpy(&ids[n], &bytes[first + static_cast<size_t>(n - 1) * size + 5], 4);
    }
    return ids;
  };
  std::vector<int32_t> model = disk_ids();
  std::mt19937 random(11);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    file_->DropRecordCache();
    std::vector<int32_t> changed;
    for (int32_t n = 1; n <= kCount; ++n) {
      if (random() % (3 + round * 4) == 0) changed.push_back(n);
    }
    const int32_t pinned_number = changed[changed.size() / 2];
    TRecord* pinned = nullptr;
    int32_t runs = 0;
    for (size_t i = 0; i < changed.size(); ++i) {
      const int32_t n = changed[i];
      if (i == 0 || changed[i - 1] + 1 != n) ++runs;
      TRecord* r = Fetch(n);
      r->SetRecordId(1000000 * (round + 1) + n);
      if (n == pinned_number) {
        pinned = r;
      } else {
        file_->ReleaseRecord(r);
        model[n] = 1000000 * (round + 1) + n;
      }
    }
    file_->ResetCounts();
    EXPECT_TRUE(file_->FlushRecords(false));
    EXPECT_LT(file_->writes * 2, runs);
    EXPECT_EQ(disk_ids(), model);
    file_->ReleaseRecord(pinned);
    model[pinned_number] = 1000000 * (round + 1) + pinned_number;
    EXPECT_TRUE(file_->FlushRecords(false));
    EXPECT_EQ(disk_ids(), model);
  }
  Verify();
}

TEST_F(DataFileTest, FullCacheOfDirtyRecordsWritesBackForASlot) {
  Create(WideDefinition());
  const int32_t capacity = file_->CacheCapacity();
  file_->ResetCounts();
  for (int32_t i = 0; i < capacity + 1; ++i) file_->ReleaseRecord(file_->AllocRecord());
  EXPECT_EQ(file_->writes, 1);
  EXPECT_EQ(file_->CachedRecordCount(), capacity);
}

// ---- fault injection ----

TEST_F(DataFileTest, FailedWriteLeavesRecordsDirtyForTheNextWriteBack) {
  Create();
  for (int i = 1; i <= 5; ++i) AppendSmallRecord(*file_, "v" + std::to_string(i), i);
  file_->ResetCounts();
  file_->fail_write_at = 1;
  EXPECT_EQ(kErrWrite, ErrorCodeOf([&] { file_->FlushRecords(false); }));
  EXPECT_TRUE(file_->FlushRecords(false));
  WriteBackAndClose();
  Verify();
  Reopen();
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(NameOf(i), "v" + std::to_string(i));
}

TEST_F(DataFileTest, FailedFlushKeepsRecordsDirty) {
  Create();
  AppendSmallRecord(*file_, "a", 1);
  file_->ResetCounts();
  file_->fail_flush_at = 1;
  EXPECT_EQ(kErrWrite, ErrorCodeOf([&] { file_->FlushRecords(true); }));
  EXPECT_TRUE(file_->FlushRecords(true));
}

TEST_F(DataFileTest, EveryFailedWriteOfAnInsertRunIsRecoverable) {
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    Create();
    for (int i = 1; i <= 3; ++i) AppendSmallRecord(*file_, "r" + std::to_string(i), i);
    file_->ResetCounts();
    file_->fail_write_at = k;
    try {
      file_->FlushRecords(false);
      file_->WriteHeader(false, false);
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrWrite);
    }
    file_->fail_write_at = 0;
    WriteBackAndClose();
    Verify();
    Reopen();
    ASSERT_EQ(file_->RecordCount(), 3);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(NameOf(i), "r" + std::to_string(i));
    file_->Close();
    file_.reset();
    std::remove(Path().c_str());
  }
}

// ---- header and counters ----

TEST_F(DataFileTest, AnotherHandleSeesTheChangeCounterMove) {
  Create();
  WriteBackAndClose();
  Reopen();
  FakeTable other_table;
  TDataFile other(&other_table);
  other.SetName(Path());
  other.Open();
  EXPECT_FALSE(other.HeaderChanged());
  AppendSmallRecord(*file_, "x", 1);
  file_->FlushRecords(false);
  file_->WriteHeader(false, false);
  EXPECT_TRUE(other.HeaderChanged());
  EXPECT_EQ(other.RecordCount(), 1);
  EXPECT_FALSE(other.HeaderChanged());
}

TEST_F(DataFileTest, EmptyingTheTableKeepsTheChangeCounterCounting) {
  Create();
  for (int i = 1; i <= 3; ++i) AppendSmallRecord(*file_, "x", i);
  WriteBackAndClose();
  Reopen();
  const int32_t before = file_->ChangeCounter();
  file_->TruncateRecords();
  file_->WriteHeader(false, false);
  EXPECT_GT(file_->ChangeCounter(), before);
  EXPECT_EQ(file_->NextRecordNumber(), 1);
  EXPECT_EQ(file_->LastAutoInc(), 0);
  file_->Close();
  EXPECT_EQ(ReadWholeFile(Path()).size(), 127u + 3 * 768);
  Verify();
}

TEST_F(DataFileTest, TheAutoIncrementCounterStopsAtItsLimitAndTheBlobStampStartsAgain) {
  Create();
  file_->SetLastAutoInc(2147483646);
  EXPECT_EQ(file_->NextAutoInc(), 2147483647);
  EXPECT_EQ(kErrFieldLimits, ErrorCodeOf([&] { file_->NextAutoInc(); }));
  EXPECT_EQ(file_->LastAutoInc(), 2147483647);
  WriteBackAndClose();
  auto bytes = ReadWholeFile(Path());
  PutInt32(&bytes[kHdrLastBlobStamp], 2147483647);
  WriteWholeFile(Path(), bytes);
  Reopen();
  // A stamp only has to differ from the writes just before it.
  EXPECT_EQ(file_->NextBlobStamp(), 1);
  EXPECT_EQ(file_->NextBlobStamp(), 2);
  EXPECT_EQ(file_->LastBlobStamp(), 2);
}

TEST_F(DataFileTest, TableFullAtTheRecordLimits) {
  const std::vector<FieldDescriptor> narrow = {Field("ID", kFldInteger, 0, kSubTypeAutoInc)};
  const struct {
    bool narrow;  // record size 9: only the record count limit applies
    int32_t next;
    int code;
  } rows[] = {{true, 99999999, 0},
              {true, 100000000, kErrTableFull},
              {false, 55555555, 0},  // record size 36: 55555556 x 36 reaches 2000000001
              {false, 55555556, kErrTableFull}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.next);
    Create(row.narrow ? narrow : SmallDefinition());
    ASSERT_EQ(file_->RecordSize(), row.narrow ? 9 : 36);
    WriteBackAndClose();
    auto bytes = ReadWholeFile(Path());
    PutInt32(&bytes[kHdrNextRecord], row.next);
    WriteWholeFile(Path(), bytes);
    Reopen();
    EXPECT_EQ(row.code, ErrorCodeOf([&] { file_->ReleaseRecord(file_->AllocRecord()); }));
    file_->DropRecordCache();
    file_->Close();
    file_.reset();
    std::remove(Path().c_str());
  }
}

TEST_F(DataFileTest, DefinitionLimits) {
  std::vector<FieldDescriptor> wide;
  for (int i = 0; i < 262; ++i) wide.push_back(Field("S" + std::to_string(i), kFldString, 250));
  std::vector<FieldDescriptor> blobs;
  for (int i = 0; i < 65; ++i) blobs.push_back(Field("B" + std::to_string(i), kFldBlob));
  std::vector<FieldDescriptor> many(1025, Field("I", kFldInteger));
  const struct {
    std::vector<FieldDescriptor> fields;
    int32_t block_size;
    int code;
  } rows[] = {{wide, 0, kErrRecordSize},
              {blobs, 0, kErrBlobFieldsOrBlockSize},
              {{blobs.begin(), blobs.begin() + 64}, 0, 0},
              {SmallDefinition(), 63, kErrBlobFieldsOrBlockSize},
              {SmallDefinition(), 32769, kErrBlobFieldsOrBlockSize},
              {SmallDefinition(), 32768, 0},
              {many, 0, kErrFieldLimits},
              {{Field("X", 16)}, 0, kErrInvalidFieldDefinition},
              {{Field("X", 0)}, 0, kErrInvalidFieldDefinition}};
  int i = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(i++);
    TDataFile file(&table_);
    file.SetName(dir_.Path("L" + std::to_string(i) + ".DAT"));
    EXPECT_EQ(row.code, ErrorCodeOf([&] {
                file.InitHeader(0, 0, row.fields, row.block_size, "", "", false, 0, 0);
              }));
  }
}

// ---- the check ----

struct Mutation {
  const char* what;
  void (*apply)(std::vector<uint8_t>& bytes);
  int code;
};

uint8_t* Desc(std::vector<uint8_t>& bytes, int n) {
  return &bytes[127 + (n - 1) * 768];
}

const Mutation kMutations[] = {
    {"version", [](auto& b) { b[kHdrFormatVersion] = 3; }, kErrWrongVersion},
    {"name starts with a digit", [](auto& b) { Desc(b, 2)[kFdName + 1] = '1'; }, kErrHeaderCorrupt},
    {"empty name", [](auto& b) { Desc(b, 2)[kFdName] = 0; }, kErrHeaderCorrupt},
    {"duplicate name", [](auto& b) { std::memcpy(Desc(b, 3) + kFdName, Desc(b, 2) + kFdName, 31); },
     kErrHeaderCorrupt},
    {"duplicate number", [](auto& b) { PutInt16(Desc(b, 3) + kFdNumber, 2); }, kErrHeaderCorrupt},
    {"type 0", [](auto& b) { Desc(b, 3)[kFdType] = 0; }, kErrHeaderCorrupt},
    {"type 16", [](auto& b) { Desc(b, 3)[kFdType] = 16; }, kErrHeaderCorrupt},
    {"size on an integer", [](auto& b) { Desc(b, 3)[kFdSize] = 4; }, kErrHeaderCorrupt},
    {"string size 251", [](auto& b) { Desc(b, 2)[kFdSize] = 251; }, kErrHeaderCorrupt},
    {"scale on an integer", [](auto& b) { Desc(b, 3)[kFdDecimals] = 2; }, kErrHeaderCorrupt},
    {"offset", [](auto& b) { PutUInt16(Desc(b, 3) + kFdOffset, 30); }, kErrHeaderCorrupt},
    {"auto-increment offset", [](auto& b) { PutUInt16(Desc(b, 1) + kFdOffset, 9); },
     kErrHeaderCorrupt},
    {"record size", [](auto& b) { PutUInt16(&b[kHdrRecordSize], 37); }, kErrHeaderCorrupt},
    {"file one byte short", [](auto& b) { b.pop_back(); }, kErrHeaderCorrupt},
    {"field count 1025", [](auto& b) { PutUInt16(&b[kHdrFieldCount], 1025); }, kErrHeaderCorrupt},
    {"field count past the file", [](auto& b) { PutUInt16(&b[kHdrFieldCount], 9); },
     kErrHeaderCorrupt},
    {"blob block size", [](auto& b) { PutInt32(&b[kHdrBlobBlockSize], 32769); }, kErrHeaderCorrupt},
    {"free head past next", [](auto& b) { PutInt32(&b[kHdrFreeHead], 3); }, kErrHeaderCorrupt},
    {"next record 0", [](auto& b) { PutInt32(&b[kHdrNextRecord], 0); }, kErrHeaderCorrupt},
    {"minimum not an integer",
     [](auto& b) {
       uint8_t* t = Desc(b, 3) + kFdMinimum;
       t[0] = 3;
       std::memcpy(t + 1, "1x2", 3);
     },
     kErrHeaderCorrupt},
    {"default not an integer",
     [](auto& b) {
       uint8_t* t = Desc(b, 3) + kFdDefault;
       t[0] = 1;
       t[1] = 'q';
     },
     kErrHeaderCorrupt},
    {"maximum a valid integer",
     [](auto& b) {
       uint8_t* t = Desc(b, 3) + kFdMaximum;
       t[0] = 2;
       std::memcpy(t + 1, "99", 2);
     },
     0},
    {"unknown language", [](auto& b) { PutInt16(&b[kHdrLanguageId], 0x7777); }, kErrLanguageDriver},
    {"trailing debris", [](auto& b) { b.insert(b.end(), 10, 0xEE); }, 0},
    {"nothing", [](auto&) {}, 0},
};

TEST_F(DataFileTest, CheckGivesTheExactCodeForEachDamage) {
  for (const Mutation& m : kMutations) {
    SCOPED_TRACE(m.what);
    Create();
    AppendSmallRecord(*file_, "a", 1);
    AppendSmallRecord(*file_, "b", 2);
    WriteBackAndClose();
    auto bytes = ReadWholeFile(Path());
    m.apply(bytes);
    WriteWholeFile(Path(), bytes);
    EXPECT_EQ(m.code, ErrorCodeOf([&] {
                Reopen();
                file_->Check();
              }));
    file_.reset();
    std::remove(Path().c_str());
  }
}

// Opening alone, before any check, refuses a record size the descriptors
// do not fill exactly: records read at the wrong size would put fields
// past the record's end or beside the next record's bytes.
TEST_F(DataFileTest, OpenRefusesARecordSizeTheFieldsDoNotFill) {
  for (const uint16_t size : {9, 35, 37, 64}) {
    SCOPED_TRACE(size);
    Create();
    AppendSmallRecord(*file_, "a", 1);
    WriteBackAndClose();
    ASSERT_EQ(file_->RecordSize(), 36);
    auto bytes = ReadWholeFile(Path());
    PutUInt16(&bytes[kHdrRecordSize], size);
    WriteWholeFile(Path(), bytes);
    EXPECT_EQ(kErrHeaderCorrupt, ErrorCodeOf([&] { Reopen(); }));
    file_.reset();
    std::remove(Path().c_str());
  }
}

TEST_F(DataFileTest, TrailingDebrisIsCutAtTheNextHeaderWrite) {
  Create();
  AppendSmallRecord(*file_, "a", 1);
  WriteBackAndClose();
  auto bytes = ReadWholeFile(Path());
  const size_t size = bytes.size();
  bytes.insert(bytes.end(), 20, 0xEE);
  WriteWholeFile(Path(), bytes);
  Reopen();
  file_->Check();
  EXPECT_EQ(NameOf(1), "a");
  file_->WriteHeader(true, false);
  file_->Close();
  EXPECT_EQ(ReadWholeFile(Path()).size(), size);
}

// ---- encryption ----

TEST_F(DataFileTest, EncryptedRecordsAndDescriptorsDifferOnDiskAndRoundTrip) {
  Create(SmallDefinition(), true);
  AppendSmallRecord(*file_, "secret words", 42);
  WriteBackAndClose();
  const auto scrambled = ReadWholeFile(Path());

  FakeTable plain_table;
  {
    TDataFile plain(&plain_table);
    CreateTable(plain, dir_.Path("P.DAT"), SmallDefinition());
    AppendSmallRecord(plain, "secret words", 42);
    plain.FlushRecords(false);
    plain.WriteHeader(false, false);
  }
  const auto clear = ReadWholeFile(dir_.Path("P.DAT"));
  ASSERT_EQ(scrambled.size(), clear.size());
  const size_t d = 127 + 3 * 768;
  std::vector<uint8_t> record(scrambled.begin() + d, scrambled.end());
  EXPECT_NE(record, std::vector<uint8_t>(clear.begin() + d, clear.end()));
  ScrambleBuffer(record.data(), static_cast<int32_t>(record.size()), kRecordSeed.K1,
                 kRecordSeed.K2);
  EXPECT_EQ(record, std::vector<uint8_t>(clear.begin() + d, clear.end()));
  std::vector<uint8_t> descs(scrambled.begin() + 127, scrambled.begin() + d);
  EXPECT_NE(descs, std::vector<uint8_t>(clear.begin() + 127, clear.begin() + d));
  EXPECT_EQ(scrambled[kHdrEncrypted], 1);
  EXPECT_EQ(scrambled[kHdrPassword], 2);
  std::string password(reinterpret_cast<const char*>(&scrambled[kHdrPassword + 1]), 2);
  EXPECT_NE(password, "pw");
  ScrambleBuffer(password.data(), 2, kPasswordSeed.K1, kPasswordSeed.K2);
  EXPECT_EQ(password, "pw");

  Reopen();
  EXPECT_EQ(file_->Password(), "pw");
  EXPECT_EQ(file_->Description(), "test table");
  EXPECT_EQ(NameOf(1), "secret words");
  EXPECT_EQ(file_->FieldDesc(2).Name, "NAME");
}

TEST_F(DataFileTest, DescriptorRunOf256FieldsStaysClear) {
  std::vector<FieldDescriptor> fields;
  for (int i = 1; i <= 256; ++i) fields.push_back(Field("F" + std::to_string(i), kFldSmallInt));
  Create(fields, true);
  file_->Close();
  const auto bytes = ReadWholeFile(Path());
  FieldDescriptor first;
  ASSERT_TRUE(first.DecodeFrom(&bytes[127]));  // 196608 bytes: a multiple of 65536
  EXPECT_EQ(first.Name, "F1");
  Reopen();
  EXPECT_EQ(file_->FieldDesc(256).Name, "F256");
}

TEST_F(DataFileTest, VersionZeroFileUnscramblesOnlyTheLow16BitsOfTheRun) {
  std::vector<FieldDescriptor> fields;
  for (int i = 1; i <= 100; ++i) fields.push_back(Field("F" + std::to_string(i), kFldInteger));
  Create(fields, true);
  file_->Close();
  auto bytes = ReadWholeFile(Path());
  // As an old writer left it: clear descriptors, scrambled over 76800 mod 65536 bytes.
  const int32_t length = 100 * 768;
  for (int i = 0; i < 100; ++i) {
    FieldDescriptor f = fields[i];
    f.Number = static_cast<int16_t>(i + 1);
    SetPhysicalLength(f);
    f.Offset = static_cast<uint16_t>(9 + i * 5);
    f.EncodeTo(&bytes[127 + i * 768]);
  }
  ScrambleBuffer(&bytes[127], length & 0xFFFF, kRecordSeed.K1, kRecordSeed.K2);
  PutInt64(&bytes[kHdrEngineVersion], 0);
  WriteWholeFile(Path(), bytes);
  Reopen();
  EXPECT_EQ(file_->StoredEngineVersion(), 0);
  EXPECT_EQ(file_->FieldDesc(1).Name, "F1");
  EXPECT_EQ(file_->FieldDesc(100).Name, "F100");
  file_->Check();
}

// ---- locks ----

TEST_F(DataFileTest, LockBytesLieWhereOtherProcessesLookForThem) {
  Create();
  for (int i = 1; i <= 6; ++i) AppendSmallRecord(*file_, "x", i);
  file_->ResetCounts();
  EXPECT_TRUE(file_->LockWriteSemaphore());
  EXPECT_EQ(file_->LockRecordByte(2), OsLockResult::Taken);
  EXPECT_EQ(file_->LockRecordByte(5), OsLockResult::Taken);
  EXPECT_EQ(file_->LockRecordByte(5), OsLockResult::Busy);
  EXPECT_EQ(file_->LockRecordByte(0), OsLockResult::Failed);
  TRecordsBitmap held;
  held.SetRecordCount(8192);
  held.SetBit(2);
  held.SetBit(5);
  EXPECT_TRUE(file_->UnlockAllRecordBytes(held, 6));
  EXPECT_TRUE(file_->UnlockWriteSemaphore());
  const std::vector<std::tuple<int64_t, int64_t, bool>> expected = {
      {0x7FFFFFFF, 1, true},     {0x7FFFFFFE - 2, 1, true},  {0x7FFFFFFE - 5, 1, true},
      {0x7FFFFFFE - 5, 1, true}, {0x7FFFFFFE - 2, 1, false}, {0x7FFFFFFE - 5, 1, false},
      {0x7FFFFFFF, 1, false}};
  std::vector<std::tuple<int64_t, int64_t, bool>> calls;
  for (const auto& c : file_->lock_calls) calls.emplace_back(c.offset, c.length, c.lock);
  EXPECT_EQ(calls, expected);
}

TEST_F(DataFileTest, ALockThatFailsIsNotRetried) {
  Create();
  file_->Close();
  file_->ResetCounts();
  // Busy would be retried for some 25 seconds; a failure returns at once.
  EXPECT_FALSE(file_->LockWriteSemaphore());
  EXPECT_EQ(file_->lock_calls.size(), 1u);
}

}  // namespace
}  // namespace jw::test
