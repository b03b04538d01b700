// The index rebuild: chosen indexes of an open table, or every index, built
// anew from the records of its data file. The definitions in the index-file
// header stay as they are; only roots, pages, free lists and the live count
// change. Index building, restructuring and the repair of a table left
// half-written by a crash use it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/record_sort.h"

namespace jw {

class TDataCursor;
class TDataTable;
class TIndexCursor;
class TIndexFile;

struct TIndexRebuildHandlers {
  // A live record whose key a unique index being built holds already (slot,
  // record number): true removes the record and goes on, false stops the
  // rebuild. Without a handler the record is removed.
  std::function<bool(int32_t slot, int32_t record_number)> Duplicate;
  // After each physical record: its number and the whole percentage done.
  std::function<void(int32_t record_number, int32_t percent)> Progress;
};

// Rebuilds the indexes of the given slots, each one's old tree freed first
// (the old trees must be sound). With no slots, every index the header
// defines and the status index are built on fresh pages: the old pages are
// cut away unread, so an index file with torn trees is rebuilt soundly.
// Records whose keys a unique index refuses are removed after the last
// record, so a rebuild the duplicate handler stops (false) has changed no
// record, only the half-built indexes. Runs inside the caller's write
// bracket; nothing is written back.
bool RebuildIndexes(TDataCursor& cursor, const std::vector<int32_t>& slots,
                    const TIndexRebuildHandlers& handlers);

// Fills the empty status index (8965 otherwise) with the keys, which it
// sorts first unless they come in order, bottom-up, and makes the live count the number of keys:
// every key names a live record. Nothing is written back.
void BuildStatusIndex(TIndexFile& file, TIndexCursor& owner, std::vector<TStatusKey>& keys);

// After the physical sort of a table without indexes, whose status keys
// name the records by their old numbers: the index file starts again with
// only the status index, built from the keys the sort collected
// (TSortRequest::StatusKeys), and everything is written back.
void RestartStatusIndex(TDataTable& table, TIndexCursor& owner, std::vector<TStatusKey>& keys);

// Puts every page of the slot's tree on the slot's free list, each child
// before its page, and leaves the index empty.
void FreeIndexPages(TIndexFile& file, TIndexCursor& owner, int32_t slot);

}  // namespace jw
