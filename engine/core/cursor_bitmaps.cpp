// TDataCursor's bitmap view: the live bitmap (slots the status index does
// not mark deleted), the range bitmap (records whose key lies in the
// range), their combination with the active filters' bitmaps into the
// visible bitmap, the range ordinals, key counts and collections between
// two bounds, and the status index rebuild.
#include <algorithm>
#include <array>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/cursor_read_scope.h"
#include "engine/core/data_cursor.h"
#include "engine/core/filter.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/core/record_keys.h"

namespace jw {
namespace {

// Rounds of filling the view that another process's changes may void
// before the cursor fills it under the table's read lock.
constexpr int32_t kUnlockedFillRounds = 4;

// The status keys a rebuild sorts in memory at a time (under 1 MB): each
// batch walks the tree's leaves once, in order.
constexpr size_t kStatusKeyBatch = size_t{1} << 16;

struct StatusEntry {
  std::array<uint8_t, kStatusKeyLength> Key;
  int32_t Number;
};

// Inserts the batch in the tree's order: equal keys by record number, as
// inserting them in record order would have placed them.
void InsertInKeyOrder(TBTree& tree, const TIndexCursor& order, std::vector<StatusEntry>& batch) {
  std::sort(batch.begin(), batch.end(), [&](const StatusEntry& a, const StatusEntry& b) {
    const int c = order.CompareKeys(a.Key.data(), b.Key.data(), kStatusKeyLength);
    return c != 0 ? c < 0 : a.Number < b.Number;
  });
  for (const StatusEntry& entry : batch) tree.Insert(entry.Key.data(), entry.Number);
  batch.clear();
}

// Marks the records of the keys from lower to upper inclusive.
void MarkKeysBetween(TBTree& tree, const TIndexCursor& order, int32_t key_length,
                     const uint8_t* lower, const uint8_t* upper, TRecordsBitmap& bitmap) {
  if (order.CompareKeys(lower, upper, key_length) > 0) return;
  tree.MarkRecords(tree.CountBelow(lower) + 1, bitmap, upper);
}

}  // namespace

void TDataCursor::UpdateBitmapView() {
  bitmap_view_ = NaturalOrderInForce() || AnyFilterActive();
  if (bitmap_view_) return;
  visible_->SetRecordCount(0);
  range_bitmap_->SetRecordCount(0);
  filtered_count_ = 0;
}

void TDataCursor::RecomputeView() {
  for (int32_t round = 1; round <= kUnlockedFillRounds; ++round) {
    if (FillView()) return;
  }
  // Writers wait for the last round, which then meets no change.
  if (table_->LockForRead()) SaveChangeCounters();
  try {
    FillView();
  } catch (...) {
    table_->UnlockForRead();
    throw;
  }
  table_->UnlockForRead();
}

bool TDataCursor::OthersMayWrite() const {
  const TTableLockState& locks = table_->LockState();
  return WatchesChanges() && !table_->InTransaction() && !locks.StatementReadLock &&
         !locks.OperationReadLock && !locks.WriteLock && !locks.LockLevelTransaction;
}

bool TDataCursor::FillView() {
  const bool watched = OthersMayWrite();
  const int64_t file_reads = file_reads_;
  RecomputeRangeOrdinals();
  if (!bitmap_view_) return true;
  BuildLiveBitmap();
  BuildRangeBitmap();
  FillFilterBitmaps();
  // What the fill read from disk may mix the files before and after
  // another process's change: an index walk met it, or the headers on disk
  // moved meanwhile. Pages and records it found cached are those the read
  // bracket found current.
  const bool read_files = file_reads_ != file_reads || table_->StrictChangeDetection();
  if (watched && (resync_pending_ || (read_files && table_->DetectChanges()))) {
    SaveChangeCounters();
    resync_pending_ = false;
    return false;
  }
  CombineBitmaps();
  return true;
}

void TDataCursor::RecomputeRangeOrdinals() {
  if (NaturalOrderInForce()) {
    range_start_ = 1;
    range_end_ = table_->IndexFile().LiveCount();
  } else {
    TBTree tree(table_->IndexFile(), *this);
    const uint8_t* start = RangeStartKey();
    const uint8_t* end = RangeEndKey();
    if (start != nullptr && end != nullptr && CompareKeys(start, end, key_length_) > 0) {
      range_start_ = range_end_ = 0;
    } else {
      range_start_ = start != nullptr ? static_cast<int32_t>(tree.CountBelow(start)) + 1 : 1;
      range_end_ = static_cast<int32_t>(end != nullptr ? tree.CountNotAbove(end) : tree.KeyCount());
      if (range_end_ < range_start_) range_start_ = range_end_ = 0;
    }
  }
}

void TDataCursor::BuildLiveBitmap() {
  TIndexFile& index = table_->IndexFile();
  const int32_t count = table_->DataFile().RecordCount();
  // Every change of the status keys, by this process or one read from
  // another's files, moves the pages version.
  if (live_pages_version_ == index.PagesVersion() && live_->BitCount() == count) return;
  live_->SetRecordCount(count);
  // Every deleted slot: status 1 with any record id.
  uint8_t lower[kStatusKeyLength] = {kRecordFree, 0x00, 0x00, 0x00, 0x00};
  uint8_t upper[kStatusKeyLength] = {kRecordFree, 0xFF, 0xFF, 0xFF, 0xFF};
  TIndexSlotCursor status(*this, index, kStatusSlot);
  TBTree tree(index, status);
  const int64_t below = tree.CountBelow(lower);
  if (tree.KeyCount() == below) {
    // No key from the first deleted one on: one pass sets every record.
    live_->SetAll();
    live_count_ = count;
  } else {
    live_->ClearAll();
    tree.MarkRecords(below + 1, *live_, upper);
    live_->Invert();
    live_count_ = -1;
  }
  live_pages_version_ = index.PagesVersion();
}

void TDataCursor::BuildRangeBitmap() {
  if (!range_active_ || NaturalOrderInForce()) {
    range_bitmap_->SetRecordCount(0);
    return;
  }
  range_bitmap_->SetRecordCount(table_->DataFile().RecordCount());
  range_bitmap_->ClearAll();
  if (RangeEmpty()) return;
  TBTree tree(table_->IndexFile(), *this);
  tree.MarkRecords(range_start_, *range_bitmap_, RangeEndKey());
}

void TDataCursor::CombineBitmaps() {
  const int32_t count = table_->DataFile().RecordCount();
  // The bitmaps to intersect; the copy starts from the one with the fewest
  // words that may hold records (an indexed filter's few), so that the
  // intersection costs the words of that one, not of the whole table.
  std::vector<const TRecordsBitmap*> parts{live_};
  if (range_active_ && !NaturalOrderInForce()) parts.push_back(range_bitmap_);
  for (const auto& filter : filters_) {
    if (filter->Active()) parts.push_back(&filter->Bitmap());
  }
  std::swap(parts.front(), *std::min_element(parts.begin(), parts.end(), [](auto* a, auto* b) {
              return a->SpanWordCount() < b->SpanWordCount();
            }));
  visible_->Assign(*parts.front());
  visible_->SetRecordCount(live_->BitCount());
  for (size_t k = 1; k < parts.size(); ++k) visible_->AndWith(*parts[k]);
  if (parts.size() > 1) {
    filtered_count_ = count == 0 ? 0 : visible_->CountSet();
    return;
  }
  // The live records alone (a filter dropped, as each run of a prepared
  // statement does): their count is counted once per live bitmap.
  if (live_count_ < 0) live_count_ = live_->CountSet();
  filtered_count_ = count == 0 ? 0 : live_count_;
}

void TDataCursor::CombineRecordBits(int32_t number) {
  const int32_t count = table_->DataFile().RecordCount();
  // Records the count gives up may have been visible: those need the walk.
  if (count < visible_->BitCount()) {
    CombineBitmaps();
    return;
  }
  visible_->SetRecordCount(count);
  bool visible = live_->IsSet(number);
  if (visible && range_active_ && !NaturalOrderInForce()) visible = range_bitmap_->IsSet(number);
  for (const auto& filter : filters_) {
    if (visible && filter->Active()) visible = filter->Bitmap().IsSet(number);
  }
  if (visible == visible_->IsSet(number)) return;
  if (visible) {
    visible_->SetBit(number);
    ++filtered_count_;
  } else {
    visible_->ClearBit(number);
    --filtered_count_;
  }
}

std::vector<int32_t> TDataCursor::VisibleRecordNumbers() {
  TCursorReadScope read(*this);
  std::vector<int32_t> numbers;
  numbers.reserve(static_cast<size_t>(std::max(filtered_count_, 0)));
  int32_t number = 0;
  int32_t sequence = 0;
  while (visible_->FindNextSet(number, 1, sequence)) numbers.push_back(number);
  return numbers;
}

int32_t TDataCursor::CountKeysBetween(const uint8_t* lower, const uint8_t* upper, bool& restart) {
  restart = false;
  if (CompareKeys(lower, upper, key_length_) > 0) return 0;
  TBTree tree(table_->IndexFile(), *this);
  const int64_t below = tree.CountBelow(lower);
  const int64_t not_above = tree.CountNotAbove(upper);
  return static_cast<int32_t>(std::max<int64_t>(not_above - below, 0));
}

void TDataCursor::CollectKeysBetween(const uint8_t* lower, const uint8_t* upper, bool& restart,
                                     TRecordsBitmap& bitmap) {
  restart = false;
  bitmap.ClearAll();
  TBTree tree(table_->IndexFile(), *this);
  MarkKeysBetween(tree, *this, key_length_, lower, upper, bitmap);
}

void TDataCursor::RebuildStatusIndex() {
  table_->LockForWrite();
  try {
    TIndexFile& index = table_->IndexFile();
    TDataFile& data = table_->DataFile();
    // A fresh index file defines no index: the table has no primary index.
    index.SetNoPrimaryIndex(true);
    TIndexSlotCursor status(*this, index, kStatusSlot);
    TBTree tree(index, status);
    // The keys go in sorted, a batch at a time: the record ids of a sorted
    // table follow no order of the record numbers, and keys taken in record
    // order would each land on another leaf, so every insert would load a
    // page and write another back through the small page cache.
    const int32_t count = data.RecordCount();
    std::vector<StatusEntry> batch;
    batch.reserve(std::min(kStatusKeyBatch, static_cast<size_t>(count)));
    int32_t live = 0;
    for (int32_t n = 1; n <= count; ++n) {
      TRecord* record = nullptr;
      data.FetchRecord(nullptr, n, 1, true, false, record);
      StatusEntry& entry = batch.emplace_back();
      BuildStatusKey(record->Bytes(), entry.Key.data());
      entry.Number = n;
      if (record->Status() != kRecordFree) ++live;
      data.ReleaseRecord(record);
      if (batch.size() == kStatusKeyBatch) InsertInKeyOrder(tree, status, batch);
    }
    InsertInKeyOrder(tree, status, batch);
    index.SetLiveCount(live);
    table_->WriteBack(false, true, false, false, true);
  } catch (...) {
    table_->UnlockForWrite();
    throw;
  }
  table_->UnlockForWrite();
  SaveChangeCounters();
}

}  // namespace jw
