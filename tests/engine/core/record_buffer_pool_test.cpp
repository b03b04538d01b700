// The record buffer pool and the record buffer: reuse last in, first out,
// cleared buffers, and the record head rules.
#include <gtest/gtest.h>

#include "engine/core/data_file.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

class RecordPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateTable(file_, dir_.Path("T.DAT"), SmallDefinition()); }
  ScratchDir dir_;
  FakeTable table_;
  TDataFile file_{&table_};
};

TEST_F(RecordPoolTest, PutThenGetReturnsTheSameBufferCleared) {
  TRecordStack pool(&file_);
  TRecord* fresh = pool.Get();
  EXPECT_EQ(fresh->Size(), file_.RecordSize());
  fresh->SetRecordNumber(7);
  fresh->SetRecordId(99);
  fresh->Bytes()[20] = 0xAB;
  fresh->IncUseCount();
  TRecord* kept = fresh;
  pool.Put(fresh);
  EXPECT_EQ(fresh, nullptr);
  EXPECT_EQ(pool.Count(), 1);
  TRecord* again = pool.Get();
  EXPECT_EQ(again, kept);
  EXPECT_EQ(again->RecordId(), 0);
  EXPECT_EQ(again->Bytes()[20], 0);
  EXPECT_EQ(GetInt32(again->Bytes() + kRecNumber), 7);
  EXPECT_FALSE(again->Modified());
  EXPECT_EQ(again->UseCount(), 0);
  EXPECT_EQ(pool.Count(), 0);
  pool.Put(again);
}

TEST_F(RecordPoolTest, BuffersComeBackLastInFirstOut) {
  TRecordStack pool(&file_);
  TRecord* a = pool.Get();
  TRecord* b = pool.Get();
  TRecord* first = a;
  TRecord* second = b;
  pool.Put(a);
  pool.Put(b);
  EXPECT_EQ(pool.Get(), second);
  EXPECT_EQ(pool.Get(), first);
  pool.Put(first);
  pool.Put(second);
}

TEST_F(RecordPoolTest, PutOfNothingLeavesThePoolAlone) {
  TRecordStack pool(&file_);
  TRecord* none = nullptr;
  pool.Put(none);
  EXPECT_EQ(pool.Count(), 0);
}

TEST_F(RecordPoolTest, LiveRecordsCarryTheirNumberFreeOnesTheirLink) {
  TRecord record(&file_);
  record.SetRecordNumber(12);
  EXPECT_EQ(GetInt32(record.Bytes() + kRecNumber), 12);
  EXPECT_EQ(record.GetLiveRecordNumber(), 0);
  record.SetStatus(kRecordFree);
  record.SetLinkNumber(4);
  record.SetRecordNumber(13);  // a free record keeps its link
  EXPECT_EQ(GetInt32(record.Bytes() + kRecNumber), 4);
  EXPECT_EQ(record.GetLiveRecordNumber(), 4);

  std::vector<uint8_t> raw(file_.RecordSize(), 0);
  PutInt32(raw.data() + kRecNumber, 555);  // what another process left there
  record.LoadFrom(raw.data());
  EXPECT_EQ(GetInt32(record.Bytes() + kRecNumber), 13);
  EXPECT_FALSE(record.Modified());
}

TEST_F(RecordPoolTest, InitNewTakesTheNextRecordId) {
  TRecord record(&file_);
  record.SetRecordNumber(3);
  record.InitNew(true);
  EXPECT_EQ(record.RecordId(), 1);
  EXPECT_EQ(file_.LastAutoInc(), 1);
  EXPECT_EQ(GetInt32(record.Bytes() + kRecNumber), 3);
  record.InitNew(false);
  EXPECT_EQ(record.RecordId(), 0);
}

}  // namespace
}  // namespace jw::test
