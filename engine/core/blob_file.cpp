#include "engine/core/blob_file.h"

#include <algorithm>

#include "engine/support/scrambler.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// Messages of the chain walk to a verifying cursor; the record number and
// whether the damage was cut away follow.
constexpr const char* kInvalidOffsetText =
    "Invalid BLOB offset in BLOB file for physical record # ";
constexpr const char* kInvalidLinkText =
    "Invalid intra-block pointer in BLOB file for physical record # ";
constexpr const char* kRecursiveLinkText =
    "Recursive intra-block pointer in BLOB file for physical record # ";

}  // namespace

TBlobFile::TBlobFile(TDataFileOwner* owner, const TDataFile* data_file)
    : TTableFile(owner), data_file_(data_file), pool_(this) {
  // The buffers grow as reads and writes need them.
  SetCacheLimits();
}

TBlobFile::~TBlobFile() {
  CloseQuietly();
  DropBlockCache();
}

void TBlobFile::Raise(EngineErrorCode code) const {
  RaiseEngineError(code, Name());
}

bool TBlobFile::Encrypted() const {
  return data_file_ != nullptr && data_file_->Encrypted();
}

void TBlobFile::SetBlockSize(int32_t block_size) {
  if (block_size == 0) block_size = kDefaultBlobBlockSize;
  if (block_size < kMinBlobBlockSize || block_size > kMaxBlobBlockSize) {
    Raise(kErrBlobFieldsOrBlockSize);
  }
  if (block_size == block_size_) return;
  // Cached blocks carry the old size's data buffers and positions.
  DropBlockCache();
  block_size_ = block_size;
  SetCacheLimits();
}

void TBlobFile::SetCacheLimits() {
  read_ahead_count_ = std::max(1, kIoWindowBytes / block_size_);
  cache_.SetCapacity(std::min(kCacheBytes / block_size_, kMaxCachedBlocks));
}

bool TBlobFile::IsBlock(int64_t position) const {
  return IsBlockPosition(position, block_size_, header_.EndPosition);
}

// ---- open and close ----

void TBlobFile::ReadOpenedFile() {
  ReadHeader();
  SetCacheLimits();
}

void TBlobFile::DropContents() {
  DropBlockCache();
}

void TBlobFile::SetEmptyHeader() {
  header_ = TBlobFileHeader();
  header_.Version = kBlobFormatVersion;
  header_.FreeHead = 0;
  header_.EndPosition = kFirstBlockPosition;
  header_dirty_ = true;
}

void TBlobFile::CreateFile(bool must_be_new) {
  TFileHandler::CreateFile(must_be_new);
  DropBlockCache();
  SetEmptyHeader();
  SetCacheLimits();
}

// ---- header ----

void TBlobFile::ValidateHeader(const TBlobFileHeader& header) const {
  const int64_t end = header.EndPosition;
  if (end < kFirstBlockPosition || end >= kMaxBlobFileEnd ||
      (end - kFirstBlockPosition) % block_size_ != 0) {
    Raise(kErrHeaderCorrupt);
  }
  if (header.FreeHead != 0 && !IsBlockPosition(header.FreeHead, block_size_, end)) {
    Raise(kErrHeaderCorrupt);
  }
}

bool TBlobFile::ReadHeaderBytes(TBlobFileHeader& header) {
  uint8_t bytes[kBlobHeaderSize];
  if (ReadAt(0, bytes, kBlobHeaderSize, true) != kBlobHeaderSize) return false;
  if (Encrypted()) UnscrambleBuffer(bytes, kBlobHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  header.DecodeFrom(bytes);
  return true;
}

void TBlobFile::ReadHeader() {
  TBlobFileHeader header;
  if (!ReadHeaderBytes(header)) Raise(kErrHeaderCorrupt);
  ValidateHeader(header);
  header.DirtyFlag = 0;
  header_ = header;
  header_dirty_ = false;
}

bool TBlobFile::HeaderChanged() {
  static_assert(kBhChangeCounter == 0, "the counter leads the header");
  if (StoredCounterIs(header_.ChangeCounter, kBlobHeaderSize, Encrypted())) return false;
  TBlobFileHeader header;
  if (!ReadHeaderBytes(header)) Raise(kErrHeaderCorrupt);
  if (header.ChangeCounter == header_.ChangeCounter) return false;
  ValidateHeader(header);
  header.DirtyFlag = 0;
  header_ = header;
  header_dirty_ = false;
  return true;
}

void TBlobFile::WriteHeader(bool force, bool flush) {
  if (HeaderClean(force)) return;
  CountChange(header_.ChangeCounter);
  header_.DirtyFlag = header_dirty_ ? 1 : 0;
  uint8_t bytes[kBlobHeaderSize];
  header_.EncodeTo(bytes);
  if (Encrypted()) ScrambleBuffer(bytes, kBlobHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  WriteAt(0, bytes, kBlobHeaderSize);
  HeaderWritten(flush);
}

void TBlobFile::TouchHeader() {
  TouchHeaderCounter(header_.ChangeCounter);
}

void TBlobFile::EmptyBlobFile() {
  // Cached blocks would otherwise be written back over the cut file.
  DropBlockCache();
  CutAt(kFirstBlockPosition);
  FlushIfForced(false);
  header_.Version = kBlobFormatVersion;
  header_.EndPosition = kFirstBlockPosition;
  header_.FreeHead = 0;
  header_dirty_ = true;
}

void TBlobFile::Check() {
  if (header_.Version != kBlobFormatVersion) Raise(kErrWrongVersion);
  const int32_t end = header_.EndPosition;
  if (end == kFirstBlockPosition && header_.FreeHead != 0) Raise(kErrHeaderCorrupt);
  ValidateHeader(header_);
  // Blocks are written before the header that counts them.
  if (GetSize() < end) Raise(kErrHeaderCorrupt);
}

// ---- block cache ----

TBlock* TBlobFile::TakeCacheSlot(int32_t position) {
  TBlock* block = nullptr;
  if (cache_.Full()) {
    const bool in_transaction = Owner()->InTransaction();
    // A transaction writes nothing back: once every cached block is dirty
    // (a transaction that appends a large BLOB), no block can be a victim,
    // and a search would only walk them all.
    if (!in_transaction || cache_.Dirty().Count() < cache_.Count()) {
      block = cache_.TakeVictim(!in_transaction, [this] { FlushBlocks(false); });
    }
    if (block == nullptr) {
      if (!in_transaction) Raise(kErrBlobBuffersCorrupt);
      cache_.Grow(kCacheGrowth);
    }
  }
  if (block == nullptr) {
    block = pool_.Get(position, block_size_);
  } else {
    block->Reset(position, block_size_);
  }
  cache_.LinkAtHead(block);
  return block;
}

int32_t TBlobFile::ReadBlocks(int32_t position, int32_t length) {
  EnsureSize(read_buffer_, length);
  // A piece of a block from the mapping is of no use: the file reports
  // why the block is missing.
  const int32_t mapped = ReadMapped(position, read_buffer_.data(), length);
  if (mapped >= block_size_) return mapped;
  return ReadAt(position, read_buffer_.data(), length, true);
}

TBlock* TBlobFile::LoadWindow(int32_t position, int32_t count) {
  const int32_t length = count * block_size_;
  const ReadWindowScope window(*this, position, length);
  // A window may reach blocks this process appended but has not written
  // yet; those are cached, and only whole blocks read are taken.
  const int32_t got = ReadBlocks(position, length);
  const int32_t loaded = got / block_size_;
  TBlock* target = nullptr;
  for (int32_t i = 0; i < loaded; ++i) {
    const int32_t p = position + i * block_size_;
    const uint8_t* raw = read_buffer_.data() + static_cast<int64_t>(i) * block_size_;
    TBlock* block = cache_.Lookup(BlockNumber(p, block_size_));
    if (block != nullptr) {
      if (block->Dirty() || block->UseCount() > 0) continue;
    } else {
      // Blocks read ahead take only slots that are free or clean; the
      // block asked for may write back or grow the cache.
      if (i > 0 && cache_.Full() && cache_.FindVictim() == nullptr) break;
      block = TakeCacheSlot(p);
      cache_.Insert(block);
    }
    if (!block->DecodeFrom(raw, Encrypted())) {
      cache_.Evict(block);
      pool_.Put(block);
      // A damaged block read ahead matters only when a chain reaches it.
      if (i == 0) Raise(kErrBlobBuffersCorrupt);
      continue;
    }
    // Pinned at once, so that the rest of the window cannot take its slot.
    if (i == 0) {
      target = block;
      target->IncUseCount();
    }
  }
  return target;
}

bool TBlobFile::FetchBlock(TBlobFileCursor* cursor, int32_t position, int32_t count,
                           bool read_ahead, TBlock*& block) {
  block = nullptr;
  // Only NewBlock appends: the end position, like any other position that
  // names no block, comes from corrupt data when it reaches this point.
  if (!IsBlock(position)) Raise(kErrBlobBuffersCorrupt);
  TBlock* found = cache_.Find(BlockNumber(position, block_size_));
  if (found != nullptr) {
    found->IncUseCount();
  } else {
    if (!Owner()->StrictChangeDetection() && cursor != nullptr && cursor->TableFilesChanged()) {
      return false;
    }
    int32_t window = 1;
    if (read_ahead) {
      window = std::min({read_ahead_count_, count, (header_.EndPosition - position) / block_size_});
    }
    found = LoadWindow(position, std::max(1, window));
    if (found == nullptr) Raise(kErrBlobBuffersCorrupt);
  }
  if (journal_ != nullptr) journal_->Keep(*found);
  block = found;
  HandOut();
  return true;
}

void TBlobFile::HandOut() {
  ++pinned_blocks_;
  blocks_handed_out_ = true;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (block == nullptr || block->UseCount() == 0) return;
  block->DecUseCount();
  if (pinned_blocks_ > 0) --pinned_blocks_;
}

TBlock* TBlobFile::AppendBlock() {
  const int64_t end = header_.EndPosition;
  if (end + block_size_ >= kMaxBlobFileEnd) Raise(kErrTableFull);
  TBlock* block = TakeCacheSlot(static_cast<int32_t>(end));
  cache_.Insert(block);
  header_.EndPosition = static_cast<int32_t>(end + block_size_);
  header_dirty_ = true;
  if (journal_ != nullptr) journal_->Appended(static_cast<int32_t>(end));
  return block;
}

TBlock* TBlobFile::NewBlock() {
  TBlock* block = nullptr;
  if (header_.FreeHead == 0) {
    block = AppendBlock();
    block->IncUseCount();
    HandOut();
    // Dirty even when the caller leaves it empty (its slot left it cleared),
    // so that the file always holds every block its header counts.
    block->SetDirty(true);
    return block;
  }
  FetchBlock(nullptr, header_.FreeHead, 1, false, block);
  const int32_t next = block->Next();
  // A free list that leads to itself or out of the file would hand out a
  // block twice.
  if (next == block->Position() || (next != 0 && !IsBlock(next))) {
    ReleaseBlock(block);
    Raise(kErrBlobBuffersCorrupt);
  }
  header_.FreeHead = next;
  header_dirty_ = true;
  block->Clear();
  return block;
}

void TBlobFile::FreeBlock(TBlock* block) {
  // The block stays as it is, out of the free list, until the records that
  // stopped naming it are written: a crash before then finds the chain that
  // the record on disk still names whole, and no new value written over it.
  if (IsFreed(block->Position())) Raise(kErrBlobBuffersCorrupt);
  freed_.push_back(block->Position());
}

bool TBlobFile::IsFreed(int32_t position) const {
  return std::find(freed_.begin(), freed_.end(), position) != freed_.end();
}

void TBlobFile::ReleaseFreedBlocks() {
  // In the order freed: the last block freed heads the list.
  size_t released = 0;
  for (; released < freed_.size(); ++released) {
    const int32_t position = freed_[released];
    // Freeing the head again would make the free list loop.
    if (position == header_.FreeHead) Raise(kErrBlobBuffersCorrupt);
    TBlock* block = nullptr;
    FetchBlock(nullptr, position, 1, false, block);
    // Cleared, so that a stale reference to the chain reads as another write's.
    block->Clear();
    block->SetNext(header_.FreeHead);
    ReleaseBlock(block);
    header_.FreeHead = position;
    header_dirty_ = true;
  }
  freed_.clear();
}

bool TBlobFile::FlushBlocks(bool flush) {
  // A commit writes back several times in a row; a cache of many clean
  // blocks is walked only when a block may have changed since.
  if (!blocks_handed_out_) return false;
  std::vector<TBlock*> dirty;
  bool skipped = false;
  cache_.CollectWriteBack(dirty, [this, &skipped](const TBlock& b) {
    const bool loading = InReadWindow(b.Position());
    skipped = skipped || loading;
    return !loading;
  });
  if (!dirty.empty()) {
    const bool encrypted = Encrypted();
    WriteAdjacentRuns(dirty, block_size_, flush, write_buffer_,
                      [encrypted](TBlock& b, uint8_t* bytes) { b.EncodeTo(bytes, encrypted); });
  }
  if (!skipped && pinned_blocks_ == 0) blocks_handed_out_ = false;
  return !dirty.empty();
}

void TBlobFile::DropBlockCache() {
  freed_.clear();
  cache_.Clear([this](TBlock* b) { pool_.Put(b); });
}

void TBlobFile::TrimBlockCache() {
  SetCacheLimits();
  cache_.TrimToCapacity([this](TBlock* b) { pool_.Put(b); });
}

// ---- chains ----

bool TChainVisits::Passed(int32_t position) {
  if (passed_.empty() || position < lowest_ || position > highest_) return false;
  if (set_.empty()) set_.insert(passed_.begin(), passed_.end());
  return set_.count(position) != 0;
}

void TChainVisits::Pass(int32_t position) {
  lowest_ = passed_.empty() ? position : std::min(lowest_, position);
  highest_ = passed_.empty() ? position : std::max(highest_, position);
  passed_.push_back(position);
  if (!set_.empty()) set_.insert(position);
}

bool TBlobChainReader::Read(int32_t position, int32_t count, TChainBlock& block) {
  TBlobFile& file = file_;
  if (!file.IsBlock(position) || visits_.Passed(position)) file.Raise(kErrBlobBuffersCorrupt);
  visits_.Pass(position);
  if (const TBlock* cached = file.cache_.Find(BlockNumber(position, file.block_size_))) {
    block = {cached->Next(), cached->Stamp(), cached->TotalSize(), cached->Used(), cached->Data()};
    return true;
  }
  const int32_t size = file.block_size_;
  int64_t offset = static_cast<int64_t>(position) - window_start_;
  if (offset < 0 || offset >= static_cast<int64_t>(window_blocks_) * size) {
    if (!file.Owner()->StrictChangeDetection() && cursor_ != nullptr &&
        cursor_->TableFilesChanged()) {
      return false;
    }
    const int32_t blocks = std::max(
        1, std::min({file.read_ahead_count_, count, (file.header_.EndPosition - position) / size}));
    window_start_ = position;
    window_blocks_ = file.ReadBlocks(position, blocks * size) / size;
    if (window_blocks_ == 0) file.Raise(kErrBlobBuffersCorrupt);
    if (file.Encrypted()) {
      for (int32_t i = 0; i < window_blocks_; ++i) {
        uint8_t* raw = file.read_buffer_.data() + static_cast<int64_t>(i) * size;
        UnscrambleBuffer(raw, kBlockHeadSize, kRecordSeed.K1, kRecordSeed.K2);
        UnscrambleBuffer(raw + kBlockHeadSize, BlockDataSize(size), kRecordSeed.K1, kRecordSeed.K2);
      }
    }
    offset = 0;
  }
  const uint8_t* raw = file.read_buffer_.data() + offset;
  TBlobBlockHead head;
  head.DecodeFrom(raw);
  if (head.Used < 0 || head.Used > BlockDataSize(size)) file.Raise(kErrBlobBuffersCorrupt);
  block = {head.Next, head.Stamp, head.TotalSize, head.Used, raw + kBlockHeadSize};
  return true;
}

void TBlobFile::FreeBlobChain(TBlobFileCursor* cursor, bool report_only, bool adopt_stamp,
                              int32_t record_number, int32_t stamp, int32_t& first) {
  if (first == 0) return;
  const bool verifying = cursor != nullptr && cursor->VerifyRepair();
  // Outside a check a damaged chain is an error; a check reports it and,
  // unless it only reports, cuts the damage away.
  auto damage = [&](const char* text) {
    if (!verifying) Raise(kErrBlobBuffersCorrupt);
    cursor->ReportStatus(text + IntToStr(record_number) + ", " +
                         (report_only ? "error not fixed" : "error fixed"));
  };
  if (!IsBlock(first)) {
    damage(kInvalidOffsetText);
    if (!report_only) first = 0;
    return;
  }
  // The whole chain is walked before a block is freed, so that a damaged
  // chain raises with nothing freed.
  std::vector<int32_t> chain;
  TChainVisits visits(chain);
  visits.Pass(first);
  {
    TBlockPin current(*this);
    TBlock* block = nullptr;
    FetchBlock(nullptr, first, expected_chain_blocks_, true, block);
    current.Reset(block);
    // Each read takes the blocks the chain's stated size still needs.
    const int32_t chain_blocks = BlocksForSize(current->TotalSize(), block_size_);
    if (current->Stamp() != stamp) {
      if (!adopt_stamp) {
        // The chain belongs to another write: it is not this record's to free.
        damage(kInvalidOffsetText);
        if (!report_only) first = 0;
        return;
      }
      current->SetStamp(stamp);
    }
    for (;;) {
      const int32_t next = current->Next();
      if (next == 0) break;
      if (!IsBlock(next) || visits.Passed(next)) {
        damage(IsBlock(next) ? kRecursiveLinkText : kInvalidLinkText);
        if (!report_only) current->SetNext(0);
        break;
      }
      const int32_t remaining = chain_blocks - static_cast<int32_t>(chain.size());
      FetchBlock(nullptr, next, std::max(1, remaining), true, block);
      if (block->Stamp() != stamp) {
        if (!adopt_stamp) {
          ReleaseBlock(block);
          damage(kInvalidOffsetText);
          if (!report_only) current->SetNext(0);
          break;
        }
        block->SetStamp(stamp);
      }
      visits.Pass(next);
      current.Reset(block);
    }
  }
  if (report_only) return;
  for (int32_t position : chain) {
    TBlock* block = nullptr;
    FetchBlock(nullptr, position, 1, false, block);
    TBlockPin pin(*this, block);
    FreeBlock(block);
  }
  first = 0;
}

// ---- journal ----

TBlobJournal::TBlobJournal(TBlobFile& file)
    : file_(file),
      free_head_(file.header_.FreeHead),
      end_position_(file.header_.EndPosition),
      freed_count_(file.freed_.size()) {
  file_.journal_ = this;
}

TBlobJournal::~TBlobJournal() {
  if (file_.journal_ == this) file_.journal_ = nullptr;
}

void TBlobJournal::Keep(const TBlock& block) {
  // Blocks appended since the journal opened had no bytes before it.
  if (block.Position() >= end_position_ || before_.count(block.Position()) != 0) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(file_.block_size_));
  block.EncodeTo(bytes.data(), false);
  before_.emplace(block.Position(), std::move(bytes));
}

void TBlobJournal::RollBack() {
  // The journal ends here: what RollBack itself changes is not to be kept.
  file_.journal_ = nullptr;
  for (const auto& [position, bytes] : before_) {
    TBlock* block = nullptr;
    file_.FetchBlock(nullptr, position, 1, false, block);
    TBlockPin pin(file_, block);
    block->DecodeFrom(bytes.data(), false);
    block->SetDirty(true);
  }
  file_.header_.FreeHead = free_head_;
  file_.header_dirty_ = true;
  // The chains freed since the journal opened are named by the records again.
  file_.freed_.resize(freed_count_);
  // The file keeps its length: blocks it gained stay, as free blocks.
  for (const int32_t position : appended_) {
    TBlock* block = nullptr;
    file_.FetchBlock(nullptr, position, 1, false, block);
    TBlockPin pin(file_, block);
    block->Clear();
    file_.FreeBlock(block);
  }
}

// ---- locks ----

// The first try and SemaphoreRetries() more.
bool TBlobFile::LockBlobWrite() {
  return LockWriterRange(SemaphoreRetries() + 1);
}

bool TBlobFile::UnlockBlobWrite() {
  return UnlockWriterRange();
}

bool TBlobFile::LockBlobRead(uint16_t& slot) {
  const int32_t r = LockReaderByte(SemaphoreRetries() + 1);
  if (r == 0) return false;
  slot = static_cast<uint16_t>(r);
  return true;
}

bool TBlobFile::UnlockBlobRead(uint16_t slot) {
  return UnlockReaderByte(slot);
}

}  // namespace jw
