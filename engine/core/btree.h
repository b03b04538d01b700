// TBTree: the counted B+-tree of the cursor's current index over the pages
// of an index file: insert with splits, delete with merges and
// redistribution, lookup, and the ordinal (rank) of keys. Leaves hold
// (key, record number); inner entries hold (first key of the child, child
// position, leaf keys below the child).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/core/index_file.h"

namespace jw {

// A walk down never goes deeper than this; a deeper tree is corrupt.
constexpr int32_t kMaxTreeDepth = 64;

// Where a search landed in an index: whether the key there equals the one
// searched for, and its 1-based ordinal (0 before the first key, key count
// + 1 after the last).
struct TKeyPosition {
  bool Found = false;
  int64_t Ordinal = 0;
};

// Where the key at an ordinal stands among the leaves: its leaf page, its
// entry there and its record number, taken at a version of the index
// file's pages. While the version stands still, the keys next to it are
// found along the leaf level without a walk from the root.
// The leaf itself is kept with the count of pages that had left its
// slot's cache then: while that count and the version stand, the leaf is
// the cached page of its position, as the spot saw it, and a step within it
// needs no search of the cache.
struct TLeafSpot {
  const TIndexFile* File = nullptr;
  int32_t Slot = -1;
  uint64_t Version = 0;
  int32_t Page = 0;
  int32_t Entry = 0;
  int32_t RecordNumber = 0;
  int64_t Ordinal = 0;
  const TPage* Leaf = nullptr;
  uint64_t Departures = 0;
};

class TBTree {
 public:
  TBTree(TIndexFile& file, TIndexCursor& cursor);

  // Adds the entry behind any equal keys.
  void Insert(const uint8_t* key, int32_t record_number);
  // Adds the entry unless a key equal to it is there already: false then,
  // with nothing changed. The walk that checks is the walk that inserts.
  bool InsertUnique(const uint8_t* key, int32_t record_number);
  // Removes the entry with this key and record number, walking equal keys
  // across leaves; 8965 when there is none, with every count left as it was.
  void Delete(const uint8_t* key, int32_t record_number);
  // Whether an entry equals the key; record_number is the first such entry's.
  bool Find(const uint8_t* key, int32_t& record_number);
  // The number of keys that sort below the key / not above it.
  int64_t CountBelow(const uint8_t* key);
  int64_t CountNotAbove(const uint8_t* key);
  // The key (key-length bytes) and record number at a 1-based ordinal;
  // false when the index holds fewer keys. With spot, where the key stands.
  bool Select(int64_t ordinal, uint8_t* key, int32_t& record_number, TLeafSpot* spot = nullptr);
  // The key next to the spot's (forward for direction 1, else backward),
  // the spot moved onto it. False, the spot left as it was, when the spot
  // no longer holds (the pages changed since, another index, a change by
  // another process met on the way) or has no neighbour: Select answers then.
  // ahead[k] receives the record number of the key (k + 1) * stride keys
  // after it on its leaf in the same direction, 0 past the leaf's edge.
  bool StepAlong(TLeafSpot& spot, int direction, uint8_t* key, int32_t& record_number,
                 std::span<int32_t> ahead, int32_t stride);
  // The key and record number at a spot that still holds on its kept
  // leaf (see StepAlong); false, nothing read, when it does not.
  bool KeyAtSpot(const TLeafSpot& spot, uint8_t* key, int32_t& record_number) const;
  int64_t KeyCount();
  // A spot that held just before this process inserted one key into this
  // index (whatever it changed in other indexes), brought to the pages as
  // they are now, at the ordinal its key has now: the key stays at its
  // entry or the next one of its leaf unless a split moved it. False when
  // it did, the spot left as it was.
  bool FollowInsert(TLeafSpot& spot, int64_t ordinal);

  // Navigation for a key: the first equal key (found); otherwise with after
  // the first key above it, else the last key below it. With after and
  // spot, also where the key at the returned ordinal stands, its bytes in
  // spot_key, so that a cursor stands on it without a second walk; spot is
  // reset (ordinal 0) when the index holds no key there. A spot that still
  // holds on entry (as for StepAlong) and whose leaf brackets the key
  // answers from that leaf without a walk from the root: lookups in
  // ascending key order mostly stay on one leaf. Answered there, ahead[k]
  // receives the record number (k + 1) * stride times as far up the leaf as
  // the key found is from the spot's, when it is further up, else 0.
  TKeyPosition Navigate(const uint8_t* key, bool after, TLeafSpot* spot = nullptr,
                        uint8_t* spot_key = nullptr, std::span<int32_t> ahead = {},
                        int32_t stride = 0);
  // Range scan towards a lower key not above upper: the first key equal to
  // lower (found); otherwise with strict the first key above lower (the last
  // key when there is none), else the last key below lower (the first when
  // there is none). An empty index gives ordinal 0.
  TKeyPosition RangeScan(const uint8_t* lower, const uint8_t* upper, bool strict);
  // From the key at ordinal (0 / key count + 1: the index's edges), the
  // ordinal of the next key (forward for direction 1, else backward) whose
  // record number is set in bitmap; with end_key the walk ends at a key
  // beyond it in the walking direction. 0 when there is none.
  int64_t NextInBitmap(int64_t ordinal, const TRecordsBitmap& bitmap, int direction,
                       const uint8_t* end_key);
  // Sets the bitmap bit of every record number from the key at ordinal to
  // the index's last key, or with end_key to the last key not above it.
  void MarkRecords(int64_t ordinal, TRecordsBitmap& bitmap, const uint8_t* end_key);

 private:
  // The pages from the root down, pinned while the operation runs. A walk
  // takes no more than kMaxTreeDepth pages, so the path needs no allocation.
  class TPath {
   public:
    explicit TPath(TIndexFile& file) : file_(file) {}
    ~TPath();
    TPath(const TPath&) = delete;
    TPath& operator=(const TPath&) = delete;
    // A page beyond the deepest walk is released and raises 8965.
    void Push(TPage* page);
    TPage* operator[](size_t k) const { return pages_[k]; }
    size_t Size() const { return size_; }
    TPage* Back() const { return pages_[size_ - 1]; }

   private:
    TIndexFile& file_;
    std::array<TPage*, kMaxTreeDepth> pages_{};
    size_t size_ = 0;
  };

  // Steps along the leaf level from the leaf that ends a path. A leaf it
  // fetched stays pinned until it moves on; it takes no more steps than the
  // file has pages.
  class TLeafWalk {
   public:
    TLeafWalk(TBTree& tree, TPage* leaf) : tree_(tree), leaf_(leaf) {}
    ~TLeafWalk();
    TLeafWalk(const TLeafWalk&) = delete;
    TLeafWalk& operator=(const TLeafWalk&) = delete;
    TPage* Leaf() const { return leaf_; }
    // To the next leaf (direction 1) or the previous one; false at the level's end.
    bool Step(int direction);

   private:
    TBTree& tree_;
    TPage* leaf_;
    bool fetched_ = false;
    int64_t steps_ = 0;
  };

  // Marks a write operation's first change of a page: from there on its
  // page reads no longer ask the cursor about changes of the files (Fetch).
  class TChangeScope {
   public:
    explicit TChangeScope(TBTree& tree) : tree_(tree) {
      tree_.changing_ = true;
      tree_.file_.PagesChanged();
    }
    ~TChangeScope() { tree_.changing_ = false; }
    TChangeScope(const TChangeScope&) = delete;
    TChangeScope& operator=(const TChangeScope&) = delete;

   private:
    TBTree& tree_;
  };

  template <class Operation>
  auto Retrying(Operation operation);
  // Pushes the root with the walk's position reset; false for an empty index.
  bool PushRoot(TPath& path, TPagePosition reset);
  // The pinned page at position. A reported change restarts the operation
  // while it has changed nothing; a change already made is never repeated.
  TPage* Fetch(int32_t position);
  // The child of the parent's entry at its edit position, pushed on the path.
  TPage* PushChild(TPath& path);
  // Fills the path from the root down to the leaf holding the ordinal-th
  // key (the first or last key for an ordinal outside the index); false
  // when the index is empty.
  bool DescendToOrdinal(TPath& path, int64_t ordinal);
  // Descends by key to the entry of the key and record; false when the
  // entry is not where the descent ends (equal keys before it).
  bool DescendToEntry(TPath& path, const uint8_t* key, int32_t record_number);
  // The ordinal of the entry with this key and record number; 0 when none.
  int64_t Locate(const uint8_t* key, int32_t record_number);
  int64_t CountBounded(const uint8_t* key, bool upper);
  // The leaf of a spot that still holds, pinned; nullptr when it no longer
  // does. A change by another process throws as Fetch does.
  TPage* SpotLeaf(const TLeafSpot& spot);
  // The spot's leaf as it kept it, unpinned, while the spot holds and the
  // leaf is still cached; nullptr otherwise (SpotLeaf then decides).
  const TPage* KeptLeaf(const TLeafSpot& spot) const;
  // Takes the key and record number at the leaf's entry and the ahead
  // numbers from the same leaf.
  void TakeStep(const TPage* leaf, int32_t entry, int direction, uint8_t* key,
                int32_t& record_number, std::span<int32_t> ahead, int32_t stride) const;
  // The leaf's first entry whose key is not below the key, searched from
  // the entry start outwards; 0 when the leaf does not bracket the key
  // (its first key not below it, or its last key below it).
  int32_t FirstNotBelowNear(const TPage& leaf, int32_t start, const uint8_t* key) const;
  // Navigate after the key within the spot's leaf alone; false, with
  // nothing changed, when the leaf does not bracket the key.
  bool NavigateInLeaf(const uint8_t* key, TLeafSpot& spot, uint8_t* spot_key, TKeyPosition& at,
                      std::span<int32_t> ahead, int32_t stride);
  // The spot of the leaf's entry at the ordinal.
  TLeafSpot SpotOf(const TPage* leaf, int32_t entry, int64_t ordinal) const;

  // Insert's walk; with unique it adds nothing (false) where an equal key stands.
  bool InsertKey(const uint8_t* key, int32_t record_number, bool unique);
  void InsertEntry(TPath& path, size_t level, const uint8_t* key, int32_t count, int32_t pointer);
  void SplitPage(TPage* page, TPage* new_page);
  void Split(TPath& path, size_t level);
  void DeleteEntry(TPath& path, size_t level);
  void Rebalance(TPath& path, size_t level);
  void CollapseRoot(TPage* root);
  void PropagateFirstKey(TPath& path, size_t level);
  // Sets a neighbour's link to point at replacement instead of the page.
  void RelinkNeighbour(int32_t neighbour, bool its_previous, int32_t replacement);
  // Adds delta to the path's entries above the levels the change made exact.
  void ApplyCountDelta(TPath& path, int32_t delta);

  TIndexFile& file_;
  TIndexCursor& cursor_;
  int32_t slot_;
  int32_t key_length_;
  // Levels below this one of the path hold exact counts after a change.
  size_t exact_level_ = 0;
  // A write operation has begun to change pages.
  bool changing_ = false;
};

}  // namespace jw
