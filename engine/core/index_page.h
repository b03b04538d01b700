// TPage: one 4096-byte index page in memory: its entries, its place among
// its siblings, the parent the walk down came from, the edit and navigation
// positions, its encoding on disk with the four key-compression modes, and
// the binary searches the tree walks make in it.
//
// In memory an entry holds its key (L bytes, L the index's key length) and
// an int32 pointer (a leaf's record number or an inner page's child
// position), followed on inner pages by the int32 count of the leaf keys
// below the child and on compressed leaves by the int16 shared-prefix length
// and int16 stripped-zero count of its compressed form. Inner pages and
// mode-0 leaves thus hold their entries exactly as the page stores them, so
// reading and writing such a page copies its entries in one piece.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/core/dirty_mark.h"
#include "engine/core/index_file_format.h"
#include "engine/core/prefetch.h"

namespace jw {

class TIndexCursor;
class TIndexFile;
class TRecordsBitmap;

// The two positions a page keeps for the cursors that walk it: the edit
// position of the walks that change the tree, the navigation position of
// those that only read it.
enum class TPagePosition { Edit, Navigation };

// Where a walk over a leaf's entries stopped: on an entry it looked for, off
// the page's end, or at an entry beyond the range's end key.
enum class TWalkStop { Found, PageEnd, RangeEnd };

// The longest run of leading bytes the two keys share, over length bytes.
int32_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, int32_t length);
// Zero bytes at the end of the first length bytes of key.
int32_t TrailingZeroCount(const uint8_t* key, int32_t length);

class alignas(kCacheLineBytes) TPage {
 public:
  explicit TPage(TIndexFile* owner);
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // Empties the page as the pool hands it out: positions 1, no parent,
  // type 0, no entries or links, not free, clean, unpinned.
  void Clear();
  // Takes the page for a position of the index in slot and clears it.
  void Assign(int32_t position, int32_t slot, const IndexDescriptor& index);

  // Takes the page from its 4096 bytes (already unscrambled). With is_new
  // the page is empty. Every count, length and link is checked against the
  // format and against end_position (the file's end); a bad one raises 8965.
  void DecodePage(const uint8_t* bytes, bool is_new, int32_t end_position);
  // Writes the page's 4096 bytes (unscrambled); a compressed leaf whose
  // entries exceed 4083 bytes raises 8965.
  void EncodePage(uint8_t* bytes) const;

  TIndexFile* Owner() const { return owner_; }
  int32_t Position() const { return position_; }
  int32_t Slot() const { return slot_; }
  int32_t KeyLength() const { return key_length_; }
  uint8_t Compression() const { return compression_; }
  bool Unique() const { return unique_; }
  bool Descending() const { return descending_; }

  bool Dirty() const { return dirty_; }
  void SetDirty(bool value) { dirty_ = value; }
  int32_t UseCount() const { return use_count_; }
  void Pin() { ++use_count_; }
  void Unpin() {
    if (use_count_ > 0) --use_count_;
  }
  int32_t ParentPosition() const { return parent_position_; }
  void SetParentPosition(int32_t position) { parent_position_ = position; }

  uint8_t PageType() const { return page_type_; }
  void SetPageType(uint8_t type);
  bool IsLeaf() const { return page_type_ == kPageLeaf || page_type_ == kPageRootLeaf; }
  bool IsRoot() const { return page_type_ == kPageRoot || page_type_ == kPageRootLeaf; }
  int32_t Previous() const { return previous_; }
  void SetPrevious(int32_t position) { previous_ = position; }
  int32_t Next() const { return next_; }
  void SetNext(int32_t position) { next_ = position; }
  bool Free() const { return free_; }
  // A free page keeps no entries; its next link is the next free page.
  void MarkFree(int32_t next_free);

  int32_t KeyCount() const { return key_count_; }
  int32_t UsedBytes() const { return used_bytes_; }
  int32_t EditPosition() const { return edit_position_; }
  void SetEditPosition(int32_t position) { edit_position_ = position; }
  int32_t NavigationPosition() const { return navigation_position_; }
  void SetNavigationPosition(int32_t position) { navigation_position_ = position; }
  void CopyNavigationToEdit() { edit_position_ = navigation_position_; }
  // Sets the position to the first entry.
  void ResetPosition(TPagePosition which);

  // Entries, 1-based.
  const uint8_t* Key(int32_t position) const;
  int32_t Pointer(int32_t position) const;
  // Leaf keys below an inner entry's child; a leaf's entry counts 1.
  int32_t Count(int32_t position) const;
  int32_t SharedPrefix(int32_t position) const;
  int32_t StrippedZeros(int32_t position) const;
  void SetPointer(int32_t position, int32_t pointer);
  void SetCount(int32_t position, int32_t count);
  void ReplaceKey(int32_t position, const uint8_t* key);
  // A leaf's key count; an inner page's sum of counts.
  int64_t TotalKeys() const;
  // Leaf keys in the entries before position.
  int64_t KeysBefore(int32_t position) const;

  // Puts an entry at position (1 .. key count + 1); the entries from there move up.
  void InsertAt(int32_t position, const uint8_t* key, int32_t pointer, int32_t count);
  // Puts an entry behind the last one when it fits, as InsertAt would
  // without making the page overflow; false, the page unchanged, when not.
  bool AppendIfFits(const uint8_t* key, int32_t pointer, int32_t count);
  void RemoveAt(int32_t position);
  // Moves count entries starting at first out of source to position at of
  // this page (pages of the same index and level).
  void MoveEntriesFrom(TPage& source, int32_t first, int32_t count, int32_t at);
  // All fields and entries of other.
  void CopyPage(const TPage& other);

  // Whether the leaf's entries are stored compressed (modes 1-3).
  bool CompressedLeaf() const { return IsLeaf() && compression_ != 0; }
  // Keys an inner page or a mode-0 leaf holds at most.
  int32_t Capacity() const;
  // More keys than the capacity, or compressed entries past 4083 bytes.
  bool Overflowing() const;

  // Searches over the entries by the cursor's comparison; a page without
  // keys raises 8965.
  // Walk down for a lookup: inner pages the last entry not above the key
  // (else 1); leaves the first equal entry (true), else the last below it
  // (else 1). Moves the edit position.
  bool DescendLookup(const TIndexCursor& cursor, const uint8_t* key);
  // Walk down for an insert: the last entry not above the key, 0 when the
  // key sorts below every entry (an inner page then descends into entry 1).
  void DescendInsert(const TIndexCursor& cursor, const uint8_t* key);
  // Lower bound: leaves the first entry not below the key (key count + 1
  // when none); inner pages the last entry below it, else 1. Adds the keys
  // before the navigation position to ordinal.
  void NavigateLowerBound(const TIndexCursor& cursor, const uint8_t* key, int64_t& ordinal);
  // Upper bound: the last entry not above the key, else 1 (a leaf: 0 when
  // none). Adds the keys before the navigation position to ordinal.
  void NavigateUpperBound(const TIndexCursor& cursor, const uint8_t* key, int64_t& ordinal);
  // Navigation for a key: an equal leaf entry (the first) answers true.
  // Otherwise a leaf goes to the first entry above the key with after (key
  // count + 1 when none), else to the last entry below it (0 when none);
  // inner pages go to the last entry below the key, else 1, so that equal
  // keys ending the child before are met first. Adds the keys before the
  // navigation position to ordinal.
  bool NavigateToKey(const TIndexCursor& cursor, const uint8_t* key, bool after, int64_t& ordinal);
  // Range scan: from entry 1 forward over the entries below lower and not
  // above upper, adding each passed entry's keys to ordinal, then back one
  // entry unless at 1. On a leaf an entry equal to lower ends the scan with
  // true, and with strict an entry above lower ends it with false; both stay
  // on that entry.
  bool RangeScan(const TIndexCursor& cursor, const uint8_t* lower, const uint8_t* upper,
                 bool strict, int64_t& ordinal);
  // Walk down to the 1-based ordinal-th key below this page: moves the edit
  // position to the entry holding it and makes ordinal relative to it.
  void DescendToOrdinal(int64_t& ordinal);

  // Filter and range walks over a leaf. WalkBitmap moves the navigation
  // position one entry at a time (forward for direction 1, else backward;
  // from 0 or key count + 1 to start at the page's edge) to the next entry
  // whose record number is set in bitmap, adding each entry it moves onto to
  // steps. With end_key it stops at an entry beyond that key in the walking
  // direction and stays on it; off the page's edge the position is 0 or key
  // count + 1.
  TWalkStop WalkBitmap(const TIndexCursor& cursor, const TRecordsBitmap& bitmap, int direction,
                       const uint8_t* end_key, int32_t& steps);
  // Sets the bit of every record number from the navigation position to the
  // page's last entry, or, with end_key, to the last entry not above it.
  TWalkStop MarkBitmap(const TIndexCursor& cursor, TRecordsBitmap& bitmap, const uint8_t* end_key);

  // From the edit position, how many entries (at most count, forward for
  // direction 1, else backward) carry record numbers that step by exactly 1.
  int32_t CountRunOfRecords(int32_t count, int direction) const;

  [[noreturn]] void RaiseCorrupt() const;

 private:
  // Clear but for the pin count, which reading the page's bytes leaves as it is.
  void ClearContents();
  // The bytes an entry takes in memory on a page of this kind, kept in
  // stride_ whenever the key length, the compression or the type changes.
  int32_t Stride() const { return stride_; }
  void UpdateStride();
  uint8_t* Entry(int32_t position);
  const uint8_t* Entry(int32_t position) const;
  void CheckPosition(int32_t position) const;
  // Recomputes every entry's compressed form and the used bytes.
  void Recompress();
  // Recomputes the compressed forms of the entries first .. last (those
  // whose key or previous key changed) and updates the used bytes.
  void RecompressEntries(int32_t first, int32_t last);
  // Writes the key, the pointer and on inner pages the count into a
  // zeroed entry.
  void FillEntry(uint8_t* entry, const uint8_t* key, int32_t pointer, int32_t count) const;
  // The bytes an entry takes on disk in a compressed leaf; 0 elsewhere.
  int32_t EntryBytes(int32_t position) const;
  // How a compressed leaf stores key behind previous (nullptr for the first
  // entry): the prefix it shares and the zeros stripped from its end.
  struct TCompressedForm {
    int32_t Prefix = 0;
    int32_t Zeros = 0;
  };
  TCompressedForm CompressedForm(const uint8_t* previous, const uint8_t* key) const;
  int32_t CompressedBytes(const TCompressedForm& form) const;
  // Where a non-unique key's stripped zeros start.
  int32_t ZeroStart(int32_t zeros) const;
  void DecodeEntries(const uint8_t* bytes, int32_t used, int32_t end_position);
  void DecodeCompressed(const uint8_t* bytes, int32_t used);
  int Compare(const TIndexCursor& cursor, int32_t position, const uint8_t* key) const;
  // The last entry that sorts below (strict) or not above the key; 0 when none.
  int32_t LastBelow(const TIndexCursor& cursor, const uint8_t* key, bool strict) const;

  template <typename, int>
  friend class TFileCache;
  friend TDirtyMark<TPage>& CacheDirtyMark(TPage& page) { return page.dirty_; }

  // What a walk reads of a page it finds in the cache and searches comes
  // first, within one cache line: a page is most often met cold.
  // Neighbours in the index slot's most-recently-used list.
  TPage* newer_ = nullptr;
  TPage* older_ = nullptr;
  int32_t position_ = 0;
  int32_t use_count_ = 0;
  std::vector<uint8_t> entries_;
  int32_t key_count_ = 0;
  int32_t key_length_ = 0;
  int32_t stride_ = 0;
  int32_t edit_position_ = 1;

  int32_t parent_position_ = 0;
  int32_t navigation_position_ = 1;
  uint8_t page_type_ = 0;
  bool free_ = false;
  bool descending_ = false;
  bool unique_ = false;
  uint8_t compression_ = 0;
  TDirtyMark<TPage> dirty_{this};
  TIndexFile* owner_;
  int32_t used_bytes_ = 0;
  int32_t slot_ = 0;
  int32_t previous_ = 0;
  int32_t next_ = 0;
};

// Offsets inside an in-memory entry, behind its key: the pointer, then on
// inner pages the count, on compressed leaves the two compression counts.
constexpr int32_t kEntryPointer = 0;
constexpr int32_t kEntryCount = 4;
constexpr int32_t kEntryPrefix = 4;
constexpr int32_t kEntryZeros = 6;

// Entry reads are inline: a walk along the leaves reads a key and a few
// pointers at every step.
inline void TPage::CheckPosition(int32_t position) const {
  if (position < 1 || position > key_count_) RaiseCorrupt();
}

inline const uint8_t* TPage::Entry(int32_t position) const {
  return entries_.data() + static_cast<size_t>(position - 1) * Stride();
}

inline const uint8_t* TPage::Key(int32_t position) const {
  CheckPosition(position);
  return Entry(position);
}

inline int32_t TPage::Pointer(int32_t position) const {
  CheckPosition(position);
  return GetInt32(Entry(position) + key_length_ + kEntryPointer);
}

// A page's number in the cache's order: its position in the file.
inline int32_t CacheNumber(const TPage& page) {
  return page.Position();
}
inline bool CacheObjectDirty(const TPage& page) {
  return page.Dirty();
}

}  // namespace jw

namespace jw {

// TPageStack: the unused TPage objects of one index file. Taking one reuses
// the last given back (cleared) or makes a new one; giving one back keeps
// it for the next. The stack owns every page it made.
class TPageStack {
 public:
  explicit TPageStack(TIndexFile* owner) : owner_(owner) {}
  TPageStack(const TPageStack&) = delete;
  TPageStack& operator=(const TPageStack&) = delete;

  TPage* Get();
  void Put(TPage* page);
  int32_t Count() const { return static_cast<int32_t>(unused_.size()); }

 private:
  TIndexFile* owner_;
  std::vector<std::unique_ptr<TPage>> made_;
  std::vector<TPage*> unused_;
};

}  // namespace jw
