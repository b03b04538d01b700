#include "engine/core/index_rebuild.h"

#include <algorithm>
#include <memory>
#include <set>

#include "engine/core/btree.h"
#include "engine/core/btree_build.h"
#include "engine/core/data_cursor.h"
#include "engine/core/index_slot_cursor.h"
#include "engine/core/record_keys.h"

namespace jw {
namespace {

// The pages below position go first; a page seen twice or a walk deeper
// than any sound tree means the tree is not what it claims.
void FreeSubtree(TIndexFile& file, TIndexCursor& cursor, int32_t position, int32_t depth,
                 std::set<int32_t>& seen) {
  if (depth > kMaxTreeDepth || !seen.insert(position).second) {
    RaiseEngineError(kErrIndexPagesCorrupt, file.Name());
  }
  TPage* page = file.FetchPageForChange(cursor, position);
  std::vector<int32_t> children;
  if (!page->IsLeaf()) {
    for (int32_t k = 1; k <= page->KeyCount(); ++k) children.push_back(page->Pointer(k));
  }
  file.ReleasePage(page);
  for (const int32_t child : children) FreeSubtree(file, cursor, child, depth + 1, seen);
  page = file.FetchPageForChange(cursor, position);
  file.FreePage(page);
  file.ReleasePage(page);
}

// One index being built: its walking cursor, tree and key buffer.
struct TBuiltIndex {
  TBuiltIndex(TIndexCursor& owner, TIndexFile& file, int32_t slot)
      : Slot(slot),
        Unique(file.IndexDesc(slot).Unique != 0),
        Cursor(owner, file, slot),
        Tree(file, Cursor),
        Key(static_cast<size_t>(file.IndexDesc(slot).KeyLength)) {}
  int32_t Slot;
  bool Unique;
  TIndexSlotCursor Cursor;
  TBTree Tree;
  std::vector<uint8_t> Key;
};

}  // namespace

void FreeIndexPages(TIndexFile& file, TIndexCursor& owner, int32_t slot) {
  const int32_t root = file.Root(slot);
  if (root == 0) return;
  TIndexSlotCursor cursor(owner, file, slot);
  std::set<int32_t> seen;
  FreeSubtree(file, cursor, root, 0, seen);
  file.SetRoot(slot, 0);
}

void BuildStatusIndex(TIndexFile& file, TIndexCursor& owner, std::vector<TStatusKey>& keys) {
  TIndexSlotCursor status(owner, file, kStatusSlot);
  // The status index orders its keys by their unsigned bytes, whatever the
  // table's language: the order of the bytes read as one big-endian number.
  static_assert(kStatusKeyLength <= 8);
  const auto order = [](const TStatusKey& key) {
    uint64_t value = 0;
    for (const uint8_t byte : key.Key) value = value << 8 | byte;
    return value;
  };
  const auto before = [&](const TStatusKey& a, const TStatusKey& b) {
    const uint64_t x = order(a);
    const uint64_t y = order(b);
    return x != y ? x < y : a.Number < b.Number;
  };
  // Keys handed over in the index's order need no sort.
  if (!std::is_sorted(keys.begin(), keys.end(), before))
    std::sort(keys.begin(), keys.end(), before);
  TBTreeBuilder builder(file, status);
  for (const TStatusKey& key : keys) builder.Add(key.Key.data(), key.Number);
  builder.Finish();
  file.SetLiveCount(static_cast<int32_t>(keys.size()));
}

void RestartStatusIndex(TDataTable& table, TIndexCursor& owner, std::vector<TStatusKey>& keys) {
  TIndexFile& index = table.IndexFile();
  index.EmptyIndexFile();
  // A fresh index file defines no index: the table has no primary index.
  index.SetNoPrimaryIndex(true);
  BuildStatusIndex(index, owner, keys);
  table.WriteBack(false, true, false, false, true);
}

bool RebuildIndexes(TDataCursor& cursor, const std::vector<int32_t>& slots,
                    const TIndexRebuildHandlers& handlers) {
  TDataTable& table = *cursor.Table();
  TDataFile& data = table.DataFile();
  TIndexFile& index = table.IndexFile();
  const bool fresh = slots.empty();
  std::vector<int32_t> built = slots;
  if (fresh) {
    // The cut is the first change: a crash from here on leaves the mark
    // that brings the table back to this rebuild.
    table.BodyWriteStarting();
    index.EmptyIndexFile();
    if (table.HasPrimaryIndex()) built.push_back(kPrimarySlot);
    for (int32_t s = 1; s <= index.SecondaryCount(); ++s) built.push_back(s);
  } else {
    for (const int32_t slot : built) FreeIndexPages(index, cursor, slot);
  }
  std::vector<std::unique_ptr<TBuiltIndex>> indexes;
  for (const int32_t slot : built) {
    indexes.push_back(std::make_unique<TBuiltIndex>(cursor, index, slot));
  }
  std::unique_ptr<TBuiltIndex> status;
  if (fresh) status = std::make_unique<TBuiltIndex>(cursor, index, kStatusSlot);

  // Records that must go are removed once every record is through, so a
  // stopped rebuild has changed no record.
  std::vector<int32_t> removed;
  const int32_t count = data.RecordCount();
  std::vector<uint8_t> image(static_cast<size_t>(data.RecordSize()));
  int32_t live = 0;
  for (int32_t n = 1; n <= count; ++n) {
    TRecord* record = nullptr;
    data.FetchRecord(nullptr, n, 1, true, false, record);
    std::copy(record->Bytes(), record->Bytes() + image.size(), image.begin());
    const bool is_live = record->Status() == kRecordLive;
    data.ReleaseRecord(record);
    if (is_live) {
      ++live;
      const TBuiltIndex* duplicate = nullptr;
      for (const auto& built_index : indexes) {
        BuildRecordKey(data, index.IndexDesc(built_index->Slot), built_index->Slot, image.data(),
                       built_index->Key.data());
        int32_t holder = 0;
        if (duplicate == nullptr && built_index->Unique &&
            built_index->Tree.Find(built_index->Key.data(), holder)) {
          duplicate = built_index.get();
        }
      }
      if (duplicate != nullptr) {
        if (handlers.Duplicate && !handlers.Duplicate(duplicate->Slot, n)) return false;
        removed.push_back(n);
      } else {
        for (const auto& built_index : indexes)
          built_index->Tree.Insert(built_index->Key.data(), n);
      }
    }
    if (status != nullptr) {
      BuildStatusKey(image.data(), status->Key.data());
      status->Tree.Insert(status->Key.data(), n);
    }
    if (handlers.Progress) {
      handlers.Progress(n, static_cast<int32_t>(static_cast<int64_t>(n) * 100 / count));
    }
  }
  index.SetLiveCount(live);
  // The indexes being built never took their keys; every other index and
  // the status index let them go.
  for (const int32_t n : removed) cursor.RemoveRecord(n, built);
  return true;
}

}  // namespace jw
