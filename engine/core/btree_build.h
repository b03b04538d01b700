// TBTreeBuilder: fills an empty index from entries handed over in the
// index's order, bottom-up. Each level's pages fill from left to right; a
// full page passes its first key, its position and the keys below it to
// the level above, and the one page left at the top becomes the root. An
// entry costs an append to the last page of its level instead of a walk
// from the root, and each page is filled once and written once: a rebuild
// of a large index neither searches nor rereads pages that a small page
// cache let go.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/index_file.h"

namespace jw {

class TBTreeBuilder {
 public:
  // The cursor names the index; its tree must be empty (8965 otherwise).
  TBTreeBuilder(TIndexFile& file, TIndexCursor& cursor);
  // Lets go of the pages still being filled; without Finish the index is
  // left half built, for the caller to throw away.
  ~TBTreeBuilder();
  TBTreeBuilder(const TBTreeBuilder&) = delete;
  TBTreeBuilder& operator=(const TBTreeBuilder&) = delete;

  // Adds the entry behind every one added so far; the caller hands them
  // over in the index's order.
  void Add(const uint8_t* key, int32_t record_number);
  // Passes the last page of every level up and makes the top one the root.
  void Finish();

 private:
  void Append(size_t level, const uint8_t* key, int32_t pointer, int32_t count);
  TPage* StartPage(size_t level);
  // Hands the page's entry to the level above and lets the page go.
  void PassUp(size_t level, TPage* page);

  TIndexFile& file_;
  TIndexCursor& cursor_;
  int32_t slot_;
  // The page being filled on each level, leaves first; each one pinned.
  std::vector<TPage*> last_;
};

}  // namespace jw
