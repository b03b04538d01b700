#include "engine/core/index_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/core/record_order.h"
#include "engine/support/key_images.h"
#include "engine/support/scrambler.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

bool SameIndexName(const std::string& a, const std::string& b) {
  return SameText(Trim(a), Trim(b));
}

std::atomic<uint64_t> last_pages_version{0};

}  // namespace

TIndexFile::TIndexFile(TDataFileOwner* owner, const TDataFile* data_file)
    : TTableFile(owner), data_file_(data_file), pool_(this) {
  read_buffer_.resize(kIndexPageSize);
  write_buffer_.resize(kIndexPageSize);
  for (TPageCache& cache : caches_) cache.SetCapacity(kPageCacheCapacity);
  SetEmptyHeader();
  header_dirty_ = false;
}

void TIndexFile::PagesChanged() {
  pages_version_ = last_pages_version.fetch_add(1, std::memory_order_relaxed) + 1;
}

TIndexFile::~TIndexFile() {
  CloseQuietly();
}

void TIndexFile::Raise(EngineErrorCode code, const std::string& index_name) const {
  RaiseEngineError(code, Name(), std::string(), index_name);
}

void TIndexFile::ReadZeroFilled(int64_t offset, uint8_t* buffer, int32_t length, bool allow_short) {
  const int32_t got = ReadAt(offset, buffer, length, allow_short);
  std::memset(buffer + got, 0, static_cast<size_t>(length - got));
}

// ---- open, close, create ----

void TIndexFile::ReadOpenedFile() {
  ReadHeader();
}

void TIndexFile::DropContents() {
  DropPageCache(true);
}

void TIndexFile::SetEmptyHeader() {
  PagesChanged();
  header_ = TIndexFileHeader();
  header_.Version = kIndexFormatVersion;
  header_.EndPosition = kIndexPageSize;
  IndexDescriptor& status = header_.Slots[kStatusSlot];
  status.Name = kStatusIndexName;
  status.KeyLength = kStatusKeyLength;
  status.Compression = 0;
  header_dirty_ = true;
}

void TIndexFile::CreateFile(bool must_be_new) {
  DropPageCache(true);
  TFileHandler::CreateFile(must_be_new);
  SetEmptyHeader();
}

// ---- header ----

void TIndexFile::ValidateHeader(const TIndexFileHeader& h) const {
  if (h.SecondaryCount > kMaxSecondaryIndexes) Raise(kErrIndexLimits);
  if (h.EndPosition < kIndexPageSize || h.EndPosition % kIndexPageSize != 0 ||
      h.EndPosition >= kMaxEndPosition) {
    Raise(kErrHeaderCorrupt);
  }
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    const bool used = s <= h.SecondaryCount || s == kStatusSlot;
    const IndexDescriptor& d = h.Slots[s];
    if (!used) continue;
    if (d.KeyLength < 0 || d.KeyLength > kMaxKeyLength || d.Compression > kMaxCompressionMode ||
        d.SegmentCount > kMaxSegments) {
      Raise(kErrHeaderCorrupt);
    }
  }
}

void TIndexFile::ReadHeader() {
  // A file shorter than its header is corrupt, as the short read shows.
  if (ReadAt(0, read_buffer_.data(), kIndexHeaderSize, true) < kIndexHeaderSize) {
    Raise(kErrHeaderCorrupt);
  }
  if (data_file_->Encrypted()) {
    UnscrambleBuffer(read_buffer_.data(), kIndexHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  }
  AdoptHeaderBytes();
}

bool TIndexFile::HeaderChanged() {
  static_assert(kIhChangeCounter == 0, "the counter leads the header");
  if (StoredCounterIs(header_.ChangeCounter, kIndexHeaderSize, data_file_->Encrypted())) {
    return false;
  }
  ReadHeaderBytes();
  if (GetInt32(read_buffer_.data() + kIhChangeCounter) == header_.ChangeCounter) return false;
  AdoptHeaderBytes();
  return true;
}

void TIndexFile::ReadHeaderBytes() {
  ReadZeroFilled(0, read_buffer_.data(), kIndexHeaderSize, false);
  if (data_file_->Encrypted()) {
    UnscrambleBuffer(read_buffer_.data(), kIndexHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  }
}

void TIndexFile::AdoptHeaderBytes() {
  PagesChanged();
  TIndexFileHeader h;
  if (!h.DecodeFrom(read_buffer_.data())) Raise(kErrHeaderCorrupt);
  ValidateHeader(h);
  h.DirtyFlag = 0;
  header_ = std::move(h);
  header_dirty_ = false;
}

void TIndexFile::WriteHeader(bool force, bool flush) {
  if (HeaderClean(force)) return;
  CountChange(header_.ChangeCounter);
  header_.DirtyFlag = header_dirty_ ? 1 : 0;
  header_.EncodeTo(write_buffer_.data());
  if (data_file_->Encrypted()) {
    ScrambleBuffer(write_buffer_.data(), kIndexHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  }
  WriteAt(0, write_buffer_.data(), kIndexHeaderSize);
  HeaderWritten(flush);
}

void TIndexFile::TouchHeader() {
  TouchHeaderCounter(header_.ChangeCounter);
}

void TIndexFile::EmptyIndexFile() {
  DropPageCache(true);
  CutAt(kIndexPageSize);
  FlushIfForced(false);
  header_.Version = kIndexFormatVersion;
  header_.EndPosition = kIndexPageSize;
  header_.LiveCount = 0;
  for (int32_t s = 0; s < kStatusSlot + 1; ++s) {
    header_.Slots[s].Root = 0;
    header_.Slots[s].FreeHead = 0;
  }
  header_dirty_ = true;
}

// ---- descriptors ----

IndexDescriptor& TIndexFile::Desc(int32_t slot) {
  PagesChanged();
  if (slot < 0 || slot >= kIndexSlotCount) Raise(kErrIndexPagesCorrupt);
  return header_.Slots[slot];
}

int16_t TIndexFile::DefinedKeyLength(const IndexDescriptor& index, const std::string& name) const {
  int32_t length = 0;
  for (int32_t i = 0; i < index.SegmentCount; ++i) {
    const FieldDescriptor* field = data_file_->FieldDescByNumber(index.FieldNumbers[i]);
    if (field == nullptr) {
      RaiseEngineError(kErrInvalidIndexField, Name(), std::to_string(index.FieldNumbers[i]), name);
    }
    if (field->Type == kFldBlob) Raise(kErrInvalidIndexFieldType, name);
    length += field->PhysicalLength + 1;
  }
  if (length > kMaxKeyImageLength || index.Compression > kMaxCompressionMode) {
    Raise(kErrInvalidKeySize, name);
  }
  return static_cast<int16_t>(index.Unique != 0 ? length : length + kRecordIdLength);
}

void TIndexFile::DefinePrimaryIndex(const IndexDescriptor& index) {
  PagesChanged();
  if (header_.Slots[kPrimarySlot].KeyLength != 0) Raise(kErrPrimaryIndexExists);
  if (index.SegmentCount > kMaxSegments) Raise(kErrIndexLimits);
  if (index.SegmentCount == 0) {
    SetNoPrimaryIndex(true);
    return;
  }
  IndexDescriptor primary;
  primary.Descending = index.Descending;
  primary.CaseInsensitive = index.CaseInsensitive;
  primary.Unique = 1;
  primary.Compression = index.Compression;
  primary.SegmentCount = index.SegmentCount;
  primary.SegmentDescending = index.SegmentDescending;
  primary.FieldNumbers = index.FieldNumbers;
  primary.KeyLength = DefinedKeyLength(primary, "Primary");
  header_.Slots[kPrimarySlot] = primary;
  header_.NoPrimary = 0;
  header_dirty_ = true;
}

void TIndexFile::AddIndexDesc(const IndexDescriptor& index) {
  PagesChanged();
  // One place of the format allows 32; tables keep to 30 everywhere.
  if (header_.SecondaryCount >= kMaxSecondaryIndexes || index.SegmentCount > kMaxSegments ||
      index.SegmentCount == 0) {
    Raise(kErrIndexLimits, index.Name);
  }
  const std::string name = Trim(index.Name);
  if (name.empty()) Raise(kErrIndexNameMissing);
  if (!IsIdentStartChar(name[0]) || index.Name.size() > kMaxIndexNameLength) {
    Raise(kErrInvalidIndexName, index.Name);
  }
  for (int32_t s = 1; s <= header_.SecondaryCount; ++s) {
    if (SameIndexName(header_.Slots[s].Name, index.Name)) Raise(kErrIndexExists, index.Name);
  }
  IndexDescriptor added = index;
  added.KeyLength = DefinedKeyLength(index, index.Name);
  added.Root = 0;
  // A dropped index left its descriptor, and with it its free pages, in
  // the first unused slot: the new index takes them over.
  const int32_t parked = header_.Slots[header_.SecondaryCount + 1].FreeHead;
  added.FreeHead = IsPagePosition(parked, header_.EndPosition) ? parked : 0;
  added.Scratch = 0;
  header_.Slots[header_.SecondaryCount + 1] = added;
  ++header_.SecondaryCount;
  header_dirty_ = true;
}

void TIndexFile::RemoveIndexDesc(int32_t slot, bool remove) {
  PagesChanged();
  if (slot == kPrimarySlot) {
    RemovePrimaryDesc();
    return;
  }
  if (slot < 1 || slot > header_.SecondaryCount) Raise(kErrIndexLimits);
  if (!remove) return;
  const IndexDescriptor removed = header_.Slots[slot];
  const int32_t last = header_.SecondaryCount;
  for (int32_t s = slot; s < last; ++s) header_.Slots[s] = header_.Slots[s + 1];
  header_.Slots[last] = removed;
  --header_.SecondaryCount;
  header_dirty_ = true;
}

void TIndexFile::RemovePrimaryDesc() {
  // With no primary index slot 0 holds no key length: the header check
  // refuses one. Its freed pages go where a dropped secondary index leaves
  // its own, with the descriptor in the first unused slot, ahead of the
  // pages parked there already, so the next index added takes them over.
  // With every secondary slot in use they go to the status index instead.
  IndexDescriptor& primary = header_.Slots[kPrimarySlot];
  if (primary.Root != 0) Raise(kErrIndexPagesCorrupt);
  const bool slot_free = header_.SecondaryCount < kMaxSecondaryIndexes;
  IndexDescriptor& parked = header_.Slots[slot_free ? header_.SecondaryCount + 1 : kStatusSlot];
  if (IsPagePosition(primary.FreeHead, header_.EndPosition)) {
    if (IsPagePosition(parked.FreeHead, header_.EndPosition)) {
      AppendFreeList(kPrimarySlot, parked.FreeHead);
    }
    if (slot_free) {
      parked = primary;
    } else {
      parked.FreeHead = primary.FreeHead;
    }
  }
  primary = IndexDescriptor();
  SetNoPrimaryIndex(true);
}

void TIndexFile::AppendFreeList(int32_t slot, int32_t position) {
  int32_t link = header_.Slots[slot].FreeHead;
  const int32_t page_count = header_.EndPosition / kIndexPageSize;
  for (int32_t steps = 0;; ++steps) {
    if (steps >= page_count || link == position) Raise(kErrIndexPagesCorrupt);
    TPage* page = LoadPage(nullptr, slot, link, false);
    if (page->KeyCount() != 0) Raise(kErrIndexPagesCorrupt);
    if (page->Next() == 0) {
      page->MarkFree(position);
      break;
    }
    link = page->Next();
  }
  // The slot's descriptor is about to move: its pages are written now and
  // forgotten.
  FlushPages(false);
  DropSlot(caches_[slot]);
}

void TIndexFile::ReplaceIndexDesc(int32_t slot, const IndexDescriptor& index) {
  IndexDescriptor& d = Desc(slot);
  d.Name = index.Name;
  d.KeyLength = index.KeyLength;
  d.Descending = index.Descending;
  d.CaseInsensitive = index.CaseInsensitive;
  d.Unique = index.Unique;
  d.Compression = index.Compression;
  d.SegmentCount = index.SegmentCount;
  d.SegmentDescending = index.SegmentDescending;
  d.FieldNumbers = index.FieldNumbers;
  d.Root = 0;
  d.Scratch = 0;
  header_dirty_ = true;
}

void TIndexFile::RenameIndexDesc(int32_t slot, const std::string& name,
                                 const std::array<int16_t, kMaxSegments>& field_numbers) {
  IndexDescriptor& d = Desc(slot);
  d.Name = name.substr(0, kMaxIndexNameLength);
  d.FieldNumbers = field_numbers;
  header_dirty_ = true;
}

void TIndexFile::SetNoPrimaryIndex(bool value) {
  header_.NoPrimary = value ? 1 : 0;
  header_dirty_ = true;
}

void TIndexFile::SetSecondaryCount(int32_t count) {
  if (count < 0 || count > kMaxSecondaryIndexes) Raise(kErrIndexLimits);
  header_.SecondaryCount = static_cast<uint8_t>(count);
  header_dirty_ = true;
}

void TIndexFile::SetRoot(int32_t slot, int32_t position) {
  Desc(slot).Root = position;
  header_dirty_ = true;
}

void TIndexFile::IncLiveCount() {
  ++header_.LiveCount;
  header_dirty_ = true;
}

void TIndexFile::DecLiveCount() {
  if (header_.LiveCount > 0) --header_.LiveCount;
  header_dirty_ = true;
}

void TIndexFile::SetLiveCount(int32_t count) {
  header_.LiveCount = count;
  header_dirty_ = true;
}

TIndexKeyOrder TIndexFile::KeyOrder(int32_t slot) const {
  return TIndexKeyOrder::ForIndex(IndexDesc(slot), slot, *data_file_);
}

// ---- check ----

void TIndexFile::CheckDefinitions() const {
  if (header_.Version != kIndexFormatVersion) Raise(kErrWrongVersion);
  if (header_.SecondaryCount > kMaxSecondaryIndexes) Raise(kErrIndexLimits);
  for (int32_t s = 0; s <= header_.SecondaryCount; ++s) {
    const IndexDescriptor& d = header_.Slots[s];
    const bool no_primary = s == kPrimarySlot && NoPrimaryIndex();
    if (s == kPrimarySlot) {
      if (!d.Name.empty() || (!no_primary && d.Unique == 0)) Raise(kErrHeaderCorrupt);
    } else {
      const std::string name = UpperCase(Trim(d.Name));
      if (name.empty() || !IsIdentStartChar(name[0])) Raise(kErrHeaderCorrupt);
      for (int32_t t = 1; t <= header_.SecondaryCount; ++t) {
        if (t != s && SameIndexName(header_.Slots[t].Name, d.Name)) Raise(kErrHeaderCorrupt);
      }
    }
    if (d.SegmentCount > kMaxSegments || d.Compression > kMaxCompressionMode) {
      Raise(kErrHeaderCorrupt);
    }
    int32_t length = 0;
    if (!no_primary) {
      for (int32_t i = 0; i < d.SegmentCount; ++i) {
        const FieldDescriptor* field = data_file_->FieldDescByNumber(d.FieldNumbers[i]);
        if (field == nullptr || field->Type == kFldBlob) Raise(kErrHeaderCorrupt);
        length += field->PhysicalLength + 1;
      }
    }
    if (length > kMaxKeyImageLength || (length == 0 && !no_primary)) Raise(kErrHeaderCorrupt);
    const int32_t stored = length == 0 ? 0 : length + (d.Unique != 0 ? 0 : kRecordIdLength);
    if (d.KeyLength != stored) Raise(kErrHeaderCorrupt);
  }
  // Every record keeps a key of this length in the status index.
  const IndexDescriptor& status = header_.Slots[kStatusSlot];
  if (status.KeyLength != kStatusKeyLength || status.Compression > kMaxCompressionMode) {
    Raise(kErrHeaderCorrupt);
  }
}

void TIndexFile::Check() {
  CheckDefinitions();
  const int32_t end = header_.EndPosition;
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    if (s > header_.SecondaryCount && s != kStatusSlot) continue;
    const IndexDescriptor& d = header_.Slots[s];
    for (const int32_t position : {d.Root, d.FreeHead}) {
      if (position != 0 && !IsPagePosition(position, end)) Raise(kErrHeaderCorrupt);
    }
    if (d.Root == 0) continue;
    // A root the cache holds as the file does needs no read; one read here
    // stays in the cache for the walk that follows the check.
    const TPage* cached = caches_[s].Lookup(d.Root);
    uint8_t type = 0;
    if (cached != nullptr && !cached->Dirty()) {
      type = cached->PageType();
    } else {
      ReadRawPage(d.Root, read_buffer_.data());
      type = read_buffer_[kPgType];
    }
    if (type != kPageRoot && type != kPageRootLeaf) Raise(kErrHeaderCorrupt);
    if (cached == nullptr) KeepReadPage(s, d.Root);
  }
}

void TIndexFile::KeepReadPage(int32_t slot, int32_t position) {
  TPageCache& cache = caches_[slot];
  // Only into room the cache has: making room could write pages back.
  if (cache.Full() && TotalCachedPages() >= BudgetPages()) return;
  TPage* page = TakeCacheSlot(slot, position);
  try {
    page->DecodePage(read_buffer_.data(), false, header_.EndPosition);
  } catch (const EQuireEngineError&) {
    // A page that does not decode is left to the walk that needs it, which
    // reads it again and reports it.
    cache.Unlink(page);
    pool_.Put(page);
    return;
  } catch (...) {
    cache.Unlink(page);
    pool_.Put(page);
    throw;
  }
  cache.Insert(page);
}

// ---- page cache ----

int32_t TIndexFile::CursorSlot(const TIndexCursor& cursor) const {
  const int32_t slot = cursor.IndexSlot();
  if (slot < 0 || slot > kStatusSlot || (slot > header_.SecondaryCount && slot != kStatusSlot)) {
    Raise(kErrIndexPagesCorrupt);
  }
  return slot;
}

int32_t TIndexFile::BudgetPages() const {
  return static_cast<int32_t>(CacheBudget() / 2 / kIndexPageSize);
}

int32_t TIndexFile::TotalCachedPages() const {
  int32_t total = 0;
  for (const TPageCache& cache : caches_) total += cache.Count();
  return total;
}

TPage* TIndexFile::TakeCacheSlot(int32_t slot, int32_t position) {
  TPageCache& cache = caches_[slot];
  TPage* page = nullptr;
  // Within the pages' half of the table's budget a full cache grows, by
  // whichever index needs the pages, rather than give one up.
  if (cache.Full() && TotalCachedPages() < BudgetPages()) cache.SetCapacity(cache.Count() + 1);
  if (cache.Full()) {
    const bool in_transaction = Owner()->InTransaction();
    page = cache.TakeVictim(!in_transaction, [this, &cache] { WriteBackColdPages(cache); });
    // Inside a transaction nothing may be written before the commit, so
    // the cache grows for good. Outside one every page is pinned by a walk
    // (a split cascade of long keys pins many); the cache grows for the
    // moment and shrinks as the pages are released.
    if (page == nullptr && in_transaction) {
      cache.Grow(kPageCacheGrowth);
    }
  }
  if (page == nullptr) page = pool_.Get();
  try {
    page->Assign(position, slot, header_.Slots[slot]);
  } catch (...) {
    pool_.Put(page);
    throw;
  }
  cache.LinkAtHead(page);
  return page;
}

void TIndexFile::ShrinkCache(TPageCache& cache) {
  while (cache.Count() > cache.Capacity()) {
    TPage* victim = cache.FindVictim();
    if (victim == nullptr) return;
    cache.Evict(victim);
    pool_.Put(victim);
  }
}

void TIndexFile::ReadRawPage(int32_t position, uint8_t* bytes) {
  // A short read is expected only where this process may itself have
  // appended pages that are not on disk yet.
  const bool allow_short = (Exclusive() || Owner()->InTransaction()) && Owner()->Written();
  ReadZeroFilled(position, bytes, kIndexPageSize, allow_short);
  if (data_file_->Encrypted()) {
    UnscrambleBuffer(bytes, kIndexPageSize, kRecordSeed.K1, kRecordSeed.K2);
  }
}

TPage* TIndexFile::LoadPage(TIndexCursor* cursor, int32_t slot, int32_t position, bool is_new) {
  // Only NewPage appends: a link to the end position or beyond is corrupt.
  if (!IsPagePosition(position, header_.EndPosition)) Raise(kErrIndexPagesCorrupt);
  TPageCache& cache = caches_[slot];
  TPage* page = cache.Find(position);
  if (page == nullptr) {
    if (cursor != nullptr && !Owner()->StrictChangeDetection() && cursor->TableFilesChanged()) {
      return nullptr;
    }
    ReadRawPage(position, read_buffer_.data());
    page = TakeCacheSlot(slot, position);
    try {
      page->DecodePage(read_buffer_.data(), is_new, header_.EndPosition);
    } catch (...) {
      cache.Unlink(page);
      pool_.Put(page);
      throw;
    }
    cache.Insert(page);
  }
  if (page->Position() != position) Raise(kErrIndexPagesCorrupt);
  return page;
}

bool TIndexFile::FetchPage(TIndexCursor& cursor, int32_t position, bool is_new, TPage*& page) {
  page = nullptr;
  TPage* found = LoadPage(&cursor, CursorSlot(cursor), position, is_new);
  if (found == nullptr) return false;
  found->Pin();
  page = found;
  return true;
}

TPage* TIndexFile::FetchPageForChange(TIndexCursor& cursor, int32_t position) {
  PagesChanged();
  TPage* page = LoadPage(nullptr, CursorSlot(cursor), position, false);
  page->Pin();
  return page;
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page == nullptr) return;
  page->Unpin();
  if (!Owner()->InTransaction()) ShrinkCache(caches_[page->Slot()]);
}

TPage* TIndexFile::NewPage(TIndexCursor& cursor) {
  PagesChanged();
  const int32_t slot = CursorSlot(cursor);
  IndexDescriptor& d = header_.Slots[slot];
  TPage* page = nullptr;
  if (d.FreeHead != 0) {
    const int32_t position = d.FreeHead;
    page = LoadPage(nullptr, slot, position, false);
    const int32_t next = page->Next();
    // A page still holding keys, or a link back to itself, would be handed
    // out twice.
    if (page->KeyCount() != 0 || page->UseCount() != 0 || next == position) {
      Raise(kErrIndexPagesCorrupt);
    }
    d.FreeHead = next;
    page->DecodePage(nullptr, true, header_.EndPosition);
  } else {
    const int32_t position = header_.EndPosition;
    if (static_cast<int64_t>(position) + kIndexPageSize >= kMaxEndPosition) Raise(kErrTableFull);
    page = TakeCacheSlot(slot, position);
    page->DecodePage(nullptr, true, position + kIndexPageSize);
    caches_[slot].Insert(page);
    header_.EndPosition = position + kIndexPageSize;
  }
  header_dirty_ = true;
  page->SetDirty(true);
  page->Pin();
  return page;
}

void TIndexFile::FreePage(TPage* page) {
  IndexDescriptor& d = Desc(page->Slot());
  page->MarkFree(d.FreeHead);
  d.FreeHead = page->Position();
  header_dirty_ = true;
}

bool TIndexFile::FetchRootPage(TIndexCursor& cursor, TPagePosition reset, TPage*& page) {
  page = nullptr;
  const int32_t root = header_.Slots[CursorSlot(cursor)].Root;
  if (root == 0) return true;
  if (!FetchPage(cursor, root, false, page)) return false;
  if (!page->IsRoot()) {
    ReleasePage(page);
    page = nullptr;
    Raise(kErrIndexPagesCorrupt);
  }
  page->ResetPosition(reset);
  return true;
}

bool TIndexFile::FlushPages(bool flush) {
  std::vector<TPage*> dirty;
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    if (s > header_.SecondaryCount && s != kStatusSlot) continue;
    caches_[s].CollectWriteBack(dirty, [](const TPage&) { return true; });
  }
  if (dirty.empty()) return false;
  std::sort(dirty.begin(), dirty.end(),
            [](const TPage* a, const TPage* b) { return CompareCacheObjects(a, b) < 0; });
  WritePages(dirty, flush);
  return true;
}

void TIndexFile::WriteBackColdPages(TPageCache& cache) {
  std::vector<TPage*> dirty;
  cache.CollectOldestDirty(dirty, std::max(1, cache.Count() / kColdPageShare));
  WritePages(dirty, false);
}

void TIndexFile::WritePages(const std::vector<TPage*>& dirty, bool flush) {
  WriteAdjacentRuns(dirty, kIndexPageSize, flush, write_buffer_, [this](TPage& p, uint8_t* bytes) {
    p.EncodePage(bytes);
    if (data_file_->Encrypted())
      ScrambleBuffer(bytes, kIndexPageSize, kRecordSeed.K1, kRecordSeed.K2);
  });
}

void TIndexFile::DropSlot(TPageCache& cache) {
  cache.Clear([this](TPage* p) { pool_.Put(p); });
  cache.SetCapacity(kPageCacheCapacity);
}

void TIndexFile::DropPageCache(bool with_status) {
  PagesChanged();
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    if (s != kStatusSlot || with_status) DropSlot(caches_[s]);
  }
}

void TIndexFile::TrimPageCache(bool with_status) {
  // Pages within the budget stay cached (a transaction's growth beyond it
  // goes); beyond it each cache is cut back to its fixed size.
  const bool within_budget = TotalCachedPages() <= BudgetPages();
  for (int32_t s = 0; s < kIndexSlotCount; ++s) {
    if (s == kStatusSlot && !with_status) continue;
    TPageCache& cache = caches_[s];
    cache.SetCapacity(within_budget ? std::max(kPageCacheCapacity, cache.Count())
                                    : kPageCacheCapacity);
    cache.TrimToCapacity([this](TPage* p) { pool_.Put(p); });
  }
}

int32_t TIndexFile::CachedPageCount(int32_t slot) const {
  return caches_.at(slot).Count();
}

int32_t TIndexFile::PageCacheCapacity(int32_t slot) const {
  return caches_.at(slot).Capacity();
}

// ---- locks ----

// SemaphoreRetries() tries in all.
bool TIndexFile::LockIndexWrite() {
  return LockWriterRange(SemaphoreRetries());
}

bool TIndexFile::UnlockIndexWrite() {
  return UnlockWriterRange();
}

bool TIndexFile::LockIndexRead() {
  const int32_t r = LockReaderByte(SemaphoreRetries());
  if (r == 0) return false;
  read_slot_ = r;
  return true;
}

bool TIndexFile::UnlockIndexRead() {
  if (read_slot_ == 0) return false;
  const bool unlocked = UnlockReaderByte(read_slot_);
  if (unlocked) read_slot_ = 0;
  return unlocked;
}

}  // namespace jw
