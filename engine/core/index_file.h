// TIndexFile: the index file (".IDX") of one open table: the header with the
// index descriptors held in memory, a small page cache per index slot with
// its pool of pages, the free-page list of each index, the live record
// count, the change counter, encryption, the reader and writer byte locks
// and the file check. The owning table is reached through TDataFileOwner,
// the walking cursor through TIndexCursor.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_file.h"
#include "engine/core/file_cache.h"
#include "engine/core/index_file_format.h"
#include "engine/core/index_page.h"
#include "engine/core/key_compare.h"
#include "engine/core/table_file.h"

namespace jw {

// Each slot caches this many pages, and more within the table's cache
// budget; inside a transaction a full cache grows by at least
// kPageCacheGrowth instead of writing back (TFileCache::Grow).
constexpr int32_t kPageCacheCapacity = 15;
constexpr int32_t kPageCacheGrowth = 64;
// A full cache with no clean page writes back this share of its pages, the
// least recently used dirty ones.
constexpr int32_t kColdPageShare = 2;

class TIndexFile : public TTableFile {
 public:
  // The data file gives the fields that indexes name, the locale and the encryption.
  TIndexFile(TDataFileOwner* owner, const TDataFile* data_file);
  ~TIndexFile() override;

  // Creates the file and sets up an empty header (written by WriteHeader).
  void CreateFile(bool must_be_new = false) override;

  // Header.
  void ReadHeader();
  // Rereads the counter: true (and the new header taken) when it differs.
  bool HeaderChanged();
  void WriteHeader(bool force, bool flush);
  void TouchHeader();
  // Cuts every page away; the definitions stay.
  void EmptyIndexFile();
  // Verifies the opened file; raises the first failure.
  void Check();
  // The part of Check that judges no page: the version, and each index's
  // definition against the data file's fields and the key length it gives.
  // A rebuild of the pages takes its keys from these definitions.
  void CheckDefinitions() const;
  int32_t ChangeCounter() const { return header_.ChangeCounter; }
  // Moves whenever this process may have changed the pages, roots or
  // descriptors it holds (a change by a tree walk, pages dropped, a header
  // read anew): a position kept in the pages stays exact while it stands
  // still. Versions are unique in the process, so they never repeat for
  // another open file.
  uint64_t PagesVersion() const { return pages_version_; }
  void PagesChanged();

  // Descriptors.
  void DefinePrimaryIndex(const IndexDescriptor& index);
  void AddIndexDesc(const IndexDescriptor& index);
  void RemoveIndexDesc(int32_t slot, bool remove);
  void ReplaceIndexDesc(int32_t slot, const IndexDescriptor& index);
  void RenameIndexDesc(int32_t slot, const std::string& name,
                       const std::array<int16_t, kMaxSegments>& field_numbers);
  const IndexDescriptor& IndexDesc(int32_t slot) const;
  bool NoPrimaryIndex() const { return header_.NoPrimary != 0; }
  void SetNoPrimaryIndex(bool value);
  int32_t SecondaryCount() const { return header_.SecondaryCount; }
  // 9487 above kMaxSecondaryIndexes.
  void SetSecondaryCount(int32_t count);
  int32_t Root(int32_t slot) const { return IndexDesc(slot).Root; }
  void SetRoot(int32_t slot, int32_t position);
  int32_t FreeHead(int32_t slot) const { return IndexDesc(slot).FreeHead; }
  int32_t EndPosition() const { return header_.EndPosition; }
  int32_t LiveCount() const { return header_.LiveCount; }
  void IncLiveCount();
  void DecLiveCount();
  void SetLiveCount(int32_t count);
  // The order of an index's keys under this table's fields and locale.
  TIndexKeyOrder KeyOrder(int32_t slot) const;

  // Pages of the cursor's current index. FetchPage gives a pinned page, or
  // false with no page when the cursor reports that the files changed
  // before a disk read. Position 0, the end position or one that is no page
  // of the file raise 8965.
  bool FetchPage(TIndexCursor& cursor, int32_t position, bool is_new, TPage*& page);
  // The pinned page for a walk that has begun to change the index, read
  // without asking the cursor: the changing walk holds the index's write
  // lock, so no other process changes the file meanwhile, and a walk
  // started again would repeat half a change.
  TPage* FetchPageForChange(TIndexCursor& cursor, int32_t position);
  void ReleasePage(TPage* page);
  // A pinned, empty, dirty page: the index's first free page, else one appended.
  TPage* NewPage(TIndexCursor& cursor);
  // Puts the page at the head of its index's free list.
  void FreePage(TPage* page);
  // The pinned root of the cursor's index (nullptr for an empty index) with
  // the position its walk uses set to the first entry, or false when the
  // files changed.
  bool FetchRootPage(TIndexCursor& cursor, TPagePosition reset, TPage*& page);
  // Writes the dirty unpinned pages, sorted, in runs; false when there was none.
  bool FlushPages(bool flush);
  void DropPageCache(bool with_status);
  // Keeps what the table's cache budget holds; beyond it, cuts each slot's
  // cache back to its first kPageCacheCapacity pages by position, pinned
  // pages kept.
  void TrimPageCache(bool with_status);
  int32_t CachedPageCount(int32_t slot) const;
  // Moves whenever a page leaves the slot's cache: while it stands still, a
  // page found in the cache before is the cached page of its position still.
  uint64_t PageDepartures(int32_t slot) const { return caches_[slot].Departures(); }
  int32_t PageCacheCapacity(int32_t slot) const;

  // Locks, each tried up to kSemaphoreRetries times.
  bool LockIndexWrite();
  bool UnlockIndexWrite();
  bool LockIndexRead();
  bool UnlockIndexRead();

 private:
  // The two most recent pages are the likeliest; they are tried before the search.
  using TPageCache = TFileCache<TPage, 2>;

  [[noreturn]] void Raise(EngineErrorCode code, const std::string& index_name = "") const;
  // Reads the header; more than 30 secondary indexes raise 9487.
  void ReadOpenedFile() override;
  void DropContents() override;
  void SetEmptyHeader();
  // Reads length bytes; with allow_short what the file does not hold reads as zeros.
  void ReadZeroFilled(int64_t offset, uint8_t* buffer, int32_t length, bool allow_short);
  // Refuses a header whose values would make pages unreadable: 8961 (9487
  // for too many secondary indexes).
  void ValidateHeader(const TIndexFileHeader& header) const;
  // The header's bytes, unscrambled, into the read buffer.
  void ReadHeaderBytes();
  // Decodes and checks the read buffer's header and makes it the current one.
  void AdoptHeaderBytes();
  // The key length of an index over the segments, checked as a definition:
  // 10023, 12292, 10026.
  int16_t DefinedKeyLength(const IndexDescriptor& index, const std::string& name) const;
  IndexDescriptor& Desc(int32_t slot);
  // Clears slot 0 and parks the dropped primary index's free pages.
  void RemovePrimaryDesc();
  // Links the slot's last free page to position, the head of another list.
  void AppendFreeList(int32_t slot, int32_t position);
  int32_t CursorSlot(const TIndexCursor& cursor) const;

  // The pages' half of the table's cache budget, in pages; the pages every
  // slot caches now.
  int32_t BudgetPages() const;
  int32_t TotalCachedPages() const;
  // A page for position of the slot's index, at the head of the MRU list, not yet sorted.
  TPage* TakeCacheSlot(int32_t slot, int32_t position);
  // Writes the least recently used of the slot's dirty unpinned pages, a
  // 1/kColdPageShare of its cache, so that a victim is found.
  void WriteBackColdPages(TPageCache& cache);
  // Writes the pages, sorted by position, in runs of adjacent ones.
  void WritePages(const std::vector<TPage*>& dirty, bool flush);
  // Hands back clean unpinned pages beyond the capacity, oldest first.
  void ShrinkCache(TPageCache& cache);
  void DropSlot(TPageCache& cache);
  // Caches the page at position of the slot's index from the read buffer,
  // which holds it as just read, when the cache has room for it.
  void KeepReadPage(int32_t slot, int32_t position);
  // The cached or read page; nullptr when cursor reports a change first.
  TPage* LoadPage(TIndexCursor* cursor, int32_t slot, int32_t position, bool is_new);
  void ReadRawPage(int32_t position, uint8_t* bytes);

  const TDataFile* data_file_;
  std::vector<uint8_t> read_buffer_;
  std::vector<uint8_t> write_buffer_;
  TIndexFileHeader header_;
  TPageStack pool_;
  std::array<TPageCache, kIndexSlotCount> caches_;
  // The reader's byte r held, 0 for none.
  int32_t read_slot_ = 0;
  uint64_t pages_version_ = 0;
};

inline const IndexDescriptor& TIndexFile::IndexDesc(int32_t slot) const {
  if (slot < 0 || slot >= kIndexSlotCount) Raise(kErrIndexPagesCorrupt);
  return header_.Slots[slot];
}

}  // namespace jw
