#include "engine/core/blob_file.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

#include "engine/support/scrambler.h"
#include "platform/rtl/random.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// The read window is recorded while a read is loaded, so that a write-back
// started for a cache slot skips the blocks being loaded.
class ReadWindowScope {
 public:
  ReadWindowScope(int64_t& offset, int64_t& length, int64_t new_offset, int64_t new_length)
      : offset_(offset), length_(length) {
    offset_ = new_offset;
    length_ = new_length;
  }
  ~ReadWindowScope() {
    offset_ = 0;
    length_ = 0;
  }
  ReadWindowScope(const ReadWindowScope&) = delete;
  ReadWindowScope& operator=(const ReadWindowScope&) = delete;

 private:
  int64_t& offset_;
  int64_t& length_;
};

void EnsureSize(std::vector<uint8_t>& buffer, int64_t size) {
  if (static_cast<int64_t>(buffer.size()) >= size) return;
  const int64_t chunks = (size + kIoBufferChunk - 1) / kIoBufferChunk;
  buffer.resize(chunks * kIoBufferChunk);
}

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
    : owner_(owner), data_file_(data_file), pool_(this) {
  read_buffer_.resize(kIoWindowBytes);
  write_buffer_.resize(kIoWindowBytes);
  SetCacheLimits();
}

TBlobFile::~TBlobFile() {
  // A failure of the file layer while closing must not leave the destructor.
  try {
    TBlobFile::Close();
  } catch (const Exception&) {
  }
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
  capacity_ = std::min(kCacheBytes / block_size_, kMaxCachedBlocks);
}

bool TBlobFile::IsBlock(int64_t position) const {
  return IsBlockPosition(position, block_size_, header_.EndPosition);
}

void TBlobFile::WriteAt(int64_t offset, const uint8_t* buffer, int32_t length) {
  FileLockGuard guard(*this);
  Seek(offset, 0);
  Write(buffer, length);
}

void TBlobFile::FlushIfForced(bool flush) {
  if (flush || owner_->ForceBufferFlush()) Flush();
}

// ---- open and close ----

void TBlobFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
    SetCacheLimits();
  } catch (...) {
    Close();
    throw;
  }
}

void TBlobFile::Close() {
  if (!IsOpen()) return;
  DropBlockCache();
  TFileHandler::Close();
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
  {
    FileLockGuard guard(*this);
    Seek(0, 0);
    if (Read(bytes, kBlobHeaderSize, true) != kBlobHeaderSize) return false;
  }
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
  if (!force && !header_dirty_) return;
  header_.ChangeCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.ChangeCounter) + 1);
  header_.DirtyFlag = header_dirty_ ? 1 : 0;
  uint8_t bytes[kBlobHeaderSize];
  header_.EncodeTo(bytes);
  if (Encrypted()) ScrambleBuffer(bytes, kBlobHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  WriteAt(0, bytes, kBlobHeaderSize);
  FlushIfForced(flush);
  owner_->MarkWritten();
  header_dirty_ = false;
}

void TBlobFile::TouchHeader() {
  header_.ChangeCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.ChangeCounter) + 1);
  header_dirty_ = true;
  owner_->MarkWritten();
}

void TBlobFile::EmptyBlobFile() {
  // Cached blocks would otherwise be written back over the cut file.
  DropBlockCache();
  {
    FileLockGuard guard(*this);
    Seek(kFirstBlockPosition, 0);
    Write(nullptr, 0);
  }
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

int32_t TBlobFile::SortedIndexOf(int32_t position) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), position,
                             [](const TBlock* b, int32_t p) { return b->Position() < p; });
  if (it != sorted_.end() && (*it)->Position() == position) {
    return static_cast<int32_t>(it - sorted_.begin());
  }
  return -1;
}

void TBlobFile::InsertSorted(TBlock* block) {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), block->Position(),
                             [](const TBlock* b, int32_t p) { return b->Position() < p; });
  sorted_.insert(it, block);
}

void TBlobFile::RemoveSorted(TBlock* block) {
  const int32_t index = SortedIndexOf(block->Position());
  if (index >= 0 && sorted_[index] == block) sorted_.erase(sorted_.begin() + index);
}

void TBlobFile::LinkAtHead(TBlock* block) {
  block->older_ = mru_head_;
  block->newer_ = nullptr;
  if (mru_head_ != nullptr) mru_head_->newer_ = block;
  mru_head_ = block;
  if (mru_tail_ == nullptr) mru_tail_ = block;
}

void TBlobFile::Unlink(TBlock* block) {
  if (block->newer_ != nullptr) block->newer_->older_ = block->older_;
  if (block->older_ != nullptr) block->older_->newer_ = block->newer_;
  if (mru_head_ == block) mru_head_ = block->older_;
  if (mru_tail_ == block) mru_tail_ = block->newer_;
  block->newer_ = nullptr;
  block->older_ = nullptr;
}

TBlock* TBlobFile::FindCached(int32_t position) {
  TBlock* found = nullptr;
  // A chain is walked block by block; the last few used are the likeliest.
  TBlock* b = mru_head_;
  for (int i = 0; i < 4 && b != nullptr; ++i, b = b->older_) {
    if (b->Position() == position) {
      found = b;
      break;
    }
  }
  if (found == nullptr) {
    const int32_t index = SortedIndexOf(position);
    if (index < 0) return nullptr;
    found = sorted_[index];
  }
  if (found != mru_head_) {
    Unlink(found);
    LinkAtHead(found);
  }
  return found;
}

TBlock* TBlobFile::FindVictim() const {
  for (TBlock* b = mru_tail_; b != nullptr; b = b->newer_) {
    if (!b->Dirty() && b->UseCount() == 0) return b;
  }
  return nullptr;
}

TBlock* TBlobFile::TakeCacheSlot(int32_t position) {
  TBlock* block = nullptr;
  if (static_cast<int32_t>(sorted_.size()) < capacity_) {
    block = pool_.Get(position, block_size_);
  } else {
    block = FindVictim();
    if (block == nullptr && !owner_->InTransaction()) {
      FlushBlocks(false);
      block = FindVictim();
    }
    if (block == nullptr) {
      if (!owner_->InTransaction()) Raise(kErrBlobBuffersCorrupt);
      capacity_ += kCacheGrowth;
      block = pool_.Get(position, block_size_);
    } else {
      RemoveSorted(block);
      Unlink(block);
      block->Reset(position, block_size_);
    }
  }
  LinkAtHead(block);
  return block;
}

bool TBlobFile::InReadWindow(int32_t position) const {
  if (window_length_ == 0) return false;
  return position >= window_offset_ && position < window_offset_ + window_length_;
}

TBlock* TBlobFile::LoadWindow(int32_t position, int32_t count) {
  const int32_t length = count * block_size_;
  EnsureSize(read_buffer_, length);
  const ReadWindowScope window(window_offset_, window_length_, position, length);
  int32_t got;
  {
    // A window may reach blocks this process appended but has not written
    // yet; those are cached, and only whole blocks read are taken.
    FileLockGuard guard(*this);
    Seek(position, 0);
    got = Read(read_buffer_.data(), length, true);
  }
  const int32_t loaded = got / block_size_;
  TBlock* target = nullptr;
  for (int32_t i = 0; i < loaded; ++i) {
    const int32_t p = position + i * block_size_;
    const uint8_t* raw = read_buffer_.data() + static_cast<int64_t>(i) * block_size_;
    TBlock* block;
    const int32_t index = SortedIndexOf(p);
    if (index >= 0) {
      block = sorted_[index];
      if (block->Dirty() || block->UseCount() > 0) continue;
    } else {
      // Blocks read ahead take only slots that are free or clean; the
      // block asked for may write back or grow the cache.
      if (i > 0 && static_cast<int32_t>(sorted_.size()) >= capacity_ && FindVictim() == nullptr) {
        break;
      }
      block = TakeCacheSlot(p);
      InsertSorted(block);
    }
    if (!block->DecodeFrom(raw, Encrypted())) {
      RemoveSorted(block);
      Unlink(block);
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
  TBlock* found = FindCached(position);
  if (found != nullptr) {
    found->IncUseCount();
  } else {
    if (!owner_->StrictChangeDetection() && cursor != nullptr && cursor->TableFilesChanged()) {
      return false;
    }
    int32_t window = 1;
    if (read_ahead) {
      window = std::min({read_ahead_count_, count, (header_.EndPosition - position) / block_size_});
    }
    found = LoadWindow(position, std::max(1, window));
    if (found == nullptr) Raise(kErrBlobBuffersCorrupt);
  }
  block = found;
  return true;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (block != nullptr) block->DecUseCount();
}

TBlock* TBlobFile::AppendBlock() {
  const int64_t end = header_.EndPosition;
  if (end + block_size_ >= kMaxBlobFileEnd) Raise(kErrTableFull);
  TBlock* block = TakeCacheSlot(static_cast<int32_t>(end));
  InsertSorted(block);
  header_.EndPosition = static_cast<int32_t>(end + block_size_);
  header_dirty_ = true;
  return block;
}

TBlock* TBlobFile::NewBlock() {
  TBlock* block = nullptr;
  if (header_.FreeHead == 0) {
    block = AppendBlock();
    block->IncUseCount();
  } else {
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
  }
  // Written even when the caller leaves it empty, so that the file always
  // holds every block its header counts.
  block->Clear();
  return block;
}

void TBlobFile::FreeBlock(TBlock* block) {
  // Freeing the head again would make the free list loop.
  if (block->Position() == header_.FreeHead) Raise(kErrBlobBuffersCorrupt);
  block->SetNext(header_.FreeHead);
  header_.FreeHead = block->Position();
  header_dirty_ = true;
}

bool TBlobFile::FlushBlocks(bool flush) {
  std::vector<TBlock*> dirty;
  for (TBlock* b : sorted_) {
    if (b->Dirty() && b->UseCount() == 0 && !InReadWindow(b->Position())) dirty.push_back(b);
  }
  if (dirty.empty()) return false;
  const bool encrypted = Encrypted();
  size_t begin = 0;
  while (begin < dirty.size()) {
    size_t end = begin + 1;
    while (end < dirty.size() &&
           dirty[end]->Position() == dirty[end - 1]->Position() + block_size_) {
      ++end;
    }
    const int64_t length = static_cast<int64_t>(end - begin) * block_size_;
    EnsureSize(write_buffer_, length);
    for (size_t i = begin; i < end; ++i) {
      dirty[i]->EncodeTo(write_buffer_.data() + (i - begin) * block_size_, encrypted);
    }
    // What does not reach the disk stays dirty, to be written again.
    WriteAt(dirty[begin]->Position(), write_buffer_.data(), static_cast<int32_t>(length));
    FlushIfForced(flush);
    for (size_t i = begin; i < end; ++i) dirty[i]->SetDirty(false);
    owner_->MarkWritten();
    begin = end;
  }
  return true;
}

void TBlobFile::DropBlockCache() {
  for (TBlock* b : sorted_) {
    b->newer_ = nullptr;
    b->older_ = nullptr;
    pool_.Put(b);
  }
  sorted_.clear();
  mru_head_ = nullptr;
  mru_tail_ = nullptr;
}

void TBlobFile::TrimBlockCache() {
  SetCacheLimits();
  for (int32_t i = static_cast<int32_t>(sorted_.size()) - 1;
       i >= 0 && static_cast<int32_t>(sorted_.size()) > capacity_; --i) {
    TBlock* b = sorted_[i];
    // A pinned block is in a caller's hands.
    if (b->UseCount() > 0) continue;
    sorted_.erase(sorted_.begin() + i);
    Unlink(b);
    pool_.Put(b);
  }
}

// ---- chains ----

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
  std::vector<int32_t> chain{first};
  std::unordered_set<int32_t> visited{first};
  {
    TBlockPin current(*this);
    TBlock* block = nullptr;
    FetchBlock(nullptr, first, read_ahead_count_, true, block);
    current.Reset(block);
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
      if (!IsBlock(next) || visited.count(next) != 0) {
        damage(IsBlock(next) ? kRecursiveLinkText : kInvalidLinkText);
        if (!report_only) current->SetNext(0);
        break;
      }
      FetchBlock(nullptr, next, read_ahead_count_, true, block);
      if (block->Stamp() != stamp) {
        if (!adopt_stamp) {
          ReleaseBlock(block);
          damage(kInvalidOffsetText);
          if (!report_only) current->SetNext(0);
          break;
        }
        block->SetStamp(stamp);
      }
      visited.insert(next);
      chain.push_back(next);
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

// ---- locks ----

bool TBlobFile::LockBlobWrite() {
  for (int32_t attempt = 0;; ++attempt) {
    if (SetRegionLock(kBlobLockBase, kBlobLockLength, true)) return true;
    if (attempt == kSemaphoreRetries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSemaphoreRetryMs));
  }
}

bool TBlobFile::UnlockBlobWrite() {
  return SetRegionLock(kBlobLockBase, kBlobLockLength, false);
}

bool TBlobFile::LockBlobRead(uint16_t& slot) {
  for (int32_t attempt = 0;; ++attempt) {
    // r runs from 1: the byte 7FFFFFFF itself is never a reader's.
    const int32_t r = Random(kBlobReadBytes) + 1;
    if (SetRegionLock(kBlobLockTop - r, 1, true)) {
      slot = static_cast<uint16_t>(r);
      return true;
    }
    if (attempt == kSemaphoreRetries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kSemaphoreRetryMs));
  }
}

bool TBlobFile::UnlockBlobRead(uint16_t slot) {
  if (slot == 0 || slot > kBlobReadBytes) return false;
  return SetRegionLock(kBlobLockTop - slot, 1, false);
}

}  // namespace jw
