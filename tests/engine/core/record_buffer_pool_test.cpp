// The record buffer pool and the record buffer: reuse last in, first out,
// cleared buffers, and the record head rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

// Enough records to fill the small slabs and several large ones; every
// seventh grows past its slab place into bytes of its own. Each record's
// bytes hold a pattern of its own: a slab that handed out overlapping
// places, or a grown record still writing into its old place, shows as a
// pattern broken by a neighbour. The sanitizer's leak check covers the
// grown records' own bytes, which the pool's end must free.
TEST_F(RecordPoolTest, SlabRecordsKeepTheirBytesApartThroughGrowthAndReuse) {
  const int32_t count = 60000;
  const int32_t size = file_.RecordSize();
  TRecordStack pool(&file_);
  std::vector<TRecord*> records;
  const auto fill = [&](size_t i) {
    TRecord* record = records[i];
    for (int32_t b = 0; b < record->Size(); ++b) {
      record->Bytes()[b] = static_cast<uint8_t>(i * 31 + static_cast<size_t>(b));
    }
  };
  const auto intact = [&](size_t i) {
    const TRecord* record = records[i];
    for (int32_t b = 0; b < record->Size(); ++b) {
      if (record->Bytes()[b] != static_cast<uint8_t>(i * 31 + static_cast<size_t>(b))) return false;
    }
    return true;
  };
  for (int32_t i = 0; i < count; ++i) {
    records.push_back(pool.Get());
    ASSERT_EQ(records.back()->Size(), size);
    if (i % 7 == 0) records.back()->SetSize(size * 3);
    fill(records.size() - 1);
  }
  for (size_t i = 0; i < records.size(); ++i) {
    ASSERT_TRUE(intact(i)) << "record " << i;
    EXPECT_EQ(records[i]->Size(), i % 7 == 0 ? size * 3 : size);
  }
  std::vector<TRecord*> kept = records;
  for (TRecord*& record : records) pool.Put(record);
  records.clear();
  EXPECT_EQ(pool.Count(), count);
  for (int32_t i = count - 1; i >= 0; --i) {
    TRecord* again = pool.Get();
    ASSERT_EQ(again, kept[static_cast<size_t>(i)]);
    ASSERT_EQ(again->Size(), size);
    for (int32_t b = 0; b < size; ++b) {
      if (b < kRecNumber || b >= kRecNumber + 4) {
        ASSERT_EQ(again->Bytes()[b], 0);
      }
    }
    records.push_back(again);
  }
  for (size_t i = 0; i < records.size(); ++i) fill(i);
  for (size_t i = 0; i < records.size(); ++i) ASSERT_TRUE(intact(i)) << "record " << i;
  for (TRecord*& record : records) pool.Put(record);
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

  std::vector<uint8_t> raw(std::max<size_t>(file_.RecordSize(), kRecNumber + 4), 0);
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
