#include "engine/core/data_file.h"

#include <algorithm>
#include <cstring>

#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/records_bitmap.h"
#include "engine/support/scrambler.h"
#include "engine/support/value_conversions.h"
#include "platform/rtl/clock.h"
#include "platform/rtl/strings.h"

namespace jw {
namespace {

// An open reads this much of the file's start in one call: the header and
// the descriptors of up to ten fields.
constexpr int32_t kOpenReadLength = 8192;

std::string ScrambledCopy(const std::string& s, TSeedPair seed) {
  std::string copy = s;
  ScrambleBuffer(copy.data(), static_cast<int32_t>(copy.size()), seed.K1, seed.K2);
  return copy;
}

// Counters never wrap: an incremented value past 2^31-1 would repeat ids.
int32_t NextCounter(int32_t& counter, const std::string& table_name) {
  if (counter >= kMaxCounterValue) RaiseEngineError(kErrFieldLimits, table_name);
  return ++counter;
}

// Write-back windows: dirty records at most kBridgeGapBytes apart share one
// window while it stays within kWriteWindowBytes (a run of consecutive
// records goes on whole), which costs one read of the window and one write
// instead of a write per run once it holds kBridgedRuns runs.
constexpr int64_t kBridgeGapBytes = 2048;
constexpr int64_t kWriteWindowBytes = 65536;
constexpr size_t kBridgedRuns = 3;

// Record n's byte lies at kRecordLockBase - n: the highest record first
// gives the bytes in ascending order.
std::vector<int64_t> RecordByteOffsets(const std::vector<int32_t>& numbers) {
  std::vector<int64_t> offsets;
  offsets.reserve(numbers.size());
  for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
    offsets.push_back(kRecordLockBase - *it);
  }
  return offsets;
}

bool RecordNumbersValid(const std::vector<int32_t>& numbers) {
  return std::all_of(numbers.begin(), numbers.end(),
                     [](int32_t n) { return n >= 1 && n <= kMaxRecordCount; });
}

}  // namespace

// The read and write buffers grow as reads and writes need them: a table
// that opens, reads a record and closes never fills a window.
TDataFile::TDataFile(TDataFileOwner* owner) : TTableFile(owner), pool_(this) {
  cache_.SetCapacity(kMaxCachedRecords);
}

TDataFile::~TDataFile() {
  CloseQuietly();
}

void TDataFile::Raise(EngineErrorCode code) const {
  RaiseEngineError(code, Name());
}

int64_t TDataFile::DataStart() const {
  return kHeaderSize + static_cast<int64_t>(header_.FieldCount) * kFieldDescriptorSize;
}

int64_t TDataFile::RecordOffset(int32_t number) const {
  return DataStart() + static_cast<int64_t>(number - 1) * header_.RecordSize;
}

void TDataFile::SetCacheLimits() {
  const int32_t size = header_.RecordSize;
  read_ahead_count_ = size == 0 ? 1 : std::max(1, kIoWindowBytes / size);
  if (size == 0) {
    cache_.SetCapacity(kMaxCachedRecords);
    return;
  }
  // The records' half of the table's budget, with the fixed size as the floor.
  const int64_t budget = CacheBudget() / 2 / size;
  const int32_t floor = std::min(kCacheBytes / size, kMaxCachedRecords);
  cache_.SetCapacity(static_cast<int32_t>(std::max<int64_t>(floor, budget)));
}

// ---- open and close ----

void TDataFile::ReadOpenedFile() {
  // The header and the field descriptors after it come in one read; only
  // a table with more fields than that read holds reads the rest after. A
  // read that comes back short has met the file's end: a file that ends
  // before its descriptors do is corrupt.
  std::vector<uint8_t> bytes(static_cast<size_t>(kOpenReadLength));
  const int32_t got = ReadAt(0, bytes.data(), kOpenReadLength, true);
  if (got < kHeaderSize) Raise(kErrHeaderCorrupt);
  TakeHeader(bytes.data());
  if (header_.FieldCount > kMaxFieldCount) Raise(kErrHeaderCorrupt);
  const int64_t start = DataStart();
  if (got < start) {
    if (got < kOpenReadLength) Raise(kErrHeaderCorrupt);
    bytes.resize(static_cast<size_t>(start));
    const auto rest = static_cast<int32_t>(start - got);
    if (ReadAt(got, bytes.data() + got, rest, true) < rest) Raise(kErrHeaderCorrupt);
  }
  DecodeFieldDescs(bytes.data() + kHeaderSize);
  ValidateLayout();
  SetCacheLimits();
}

void TDataFile::DropContents() {
  write_marked_ = false;
  descriptors_.clear();
  DropRecordCache();
}

void TDataFile::ValidateLayout() const {
  const TDataFileHeader& h = header_;
  const bool block_size_ok = h.BlobBlockSize == 0 || (h.BlobBlockSize >= kMinBlobBlockSize &&
                                                      h.BlobBlockSize <= kMaxBlobBlockSize);
  if (h.FieldCount > kMaxFieldCount || h.RecordSize < kRecordHeadSize || !block_size_ok ||
      h.NextRecord < 1 || h.NextRecord > kMaxRecordCount + 1 || h.FreeHead < 0 ||
      h.FreeHead >= h.NextRecord || h.BlobFieldCount < 0 || h.BlobFieldCount > kMaxBlobFieldCount ||
      static_cast<int32_t>(descriptors_.size()) != h.FieldCount) {
    Raise(kErrHeaderCorrupt);
  }
  int32_t offset = kRecordHeadSize;
  int32_t blobs = 0;
  for (const FieldDescriptor& field : descriptors_) {
    if (!IsKnownFieldType(field.Type)) Raise(kErrHeaderCorrupt);
    if (field.PhysicalLength != PhysicalFieldLength(field.Type, field.Size)) {
      Raise(kErrHeaderCorrupt);
    }
    if (field.Type == kFldBlob) ++blobs;
    if (field.IsAutoInc()) {
      if (field.Offset != kRecId) Raise(kErrHeaderCorrupt);
    } else if (field.Derived == 0) {
      if (field.Offset != offset) Raise(kErrHeaderCorrupt);
      offset += field.PhysicalLength + 1;
    }
  }
  if (offset != h.RecordSize || blobs != h.BlobFieldCount) Raise(kErrHeaderCorrupt);
}

void TDataFile::InitHeader(int16_t language_id, int16_t sort_id,
                           const std::vector<FieldDescriptor>& fields, int32_t blob_block_size,
                           const std::string& description, const std::string& password,
                           bool encrypted, int16_t user_major, int16_t user_minor) {
  TDataFileHeader h;
  h.LanguageId = language_id;
  h.SortId = sort_id;
  h.UserMajor = user_major;
  h.UserMinor = user_minor;
  h.Encrypted = encrypted ? 1 : 0;
  const std::string plain_description = description.substr(0, kMaxDescriptionLength);
  if (encrypted) {
    h.Password = ScrambledCopy(password.substr(0, kMaxPasswordLength), kPasswordSeed);
    h.Description = ScrambledCopy(plain_description, kPasswordSeed);
  } else {
    h.Description = plain_description;
  }
  if (fields.size() > static_cast<size_t>(kMaxFieldCount)) Raise(kErrFieldLimits);
  if (blob_block_size != 0 &&
      (blob_block_size < kMinBlobBlockSize || blob_block_size > kMaxBlobBlockSize)) {
    Raise(kErrBlobFieldsOrBlockSize);
  }
  h.FieldCount = static_cast<uint16_t>(fields.size());
  h.BlobBlockSize = blob_block_size;
  std::vector<FieldDescriptor> descriptors;
  descriptors.reserve(fields.size());
  int64_t record_size = kRecordHeadSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDescriptor field = fields[i];
    if (!IsKnownFieldType(field.Type)) Raise(kErrInvalidFieldDefinition);
    field.Number = static_cast<int16_t>(i + 1);
    SetPhysicalLength(field);
    SetPhysicalScale(field);
    if (field.Type == kFldBlob && ++h.BlobFieldCount > kMaxBlobFieldCount) {
      Raise(kErrBlobFieldsOrBlockSize);
    }
    if (field.IsAutoInc()) {
      field.Offset = kRecId;
    } else if (field.Derived == 0) {
      // Offsets past 65535 wrap here, but such a record is refused below.
      field.Offset = static_cast<uint16_t>(record_size);
      record_size += field.PhysicalLength + 1;
    }
    descriptors.push_back(std::move(field));
  }
  if (record_size > kMaxRecordSize) Raise(kErrRecordSize);
  h.Version = kDataFormatVersion;
  h.FreeHead = 0;
  h.NextRecord = 1;
  h.LastAutoInc = 0;
  h.ChangeCounter = 0;
  h.RecordSize = static_cast<uint16_t>(record_size);
  header_ = std::move(h);
  descriptors_ = std::move(descriptors);
  descriptors_dirty_ = true;
  header_dirty_ = true;
  DropRecordCache();
  SetCacheLimits();
  CreateFile();
}

// ---- header ----

void TDataFile::ReadHeader() {
  // A file shorter than its header is corrupt, as the short read shows.
  uint8_t bytes[kHeaderSize];
  if (ReadAt(0, bytes, kHeaderSize, true) < kHeaderSize) Raise(kErrHeaderCorrupt);
  TakeHeader(bytes);
}

void TDataFile::TakeHeader(const uint8_t* bytes) {
  TDataFileHeader h;
  if (!h.DecodeFrom(bytes)) Raise(kErrHeaderCorrupt);
  write_interrupted_ = h.DirtyFlag != 0;
  h.DirtyFlag = 0;
  header_ = std::move(h);
  header_dirty_ = false;
}

bool TDataFile::HeaderChanged() {
  static_assert(kHdrChangeCounter == 0, "the counter leads the header");
  if (StoredCounterIs(header_.ChangeCounter, kHeaderSize, false)) return false;
  uint8_t bytes[kHeaderSize];
  ReadAt(0, bytes, kHeaderSize, false);
  if (GetInt32(bytes + kHdrChangeCounter) == header_.ChangeCounter) return false;
  TDataFileHeader h;
  // The layout of an open table never changes under it; a header that says
  // otherwise is not to be trusted.
  if (!h.DecodeFrom(bytes) || h.FieldCount != header_.FieldCount ||
      h.RecordSize != header_.RecordSize || h.NextRecord < 1 ||
      h.NextRecord > kMaxRecordCount + 1 || h.FreeHead < 0 || h.FreeHead >= h.NextRecord) {
    Raise(kErrHeaderCorrupt);
  }
  write_interrupted_ = h.DirtyFlag != 0;
  h.DirtyFlag = 0;
  header_ = std::move(h);
  header_dirty_ = false;
  return true;
}

void TDataFile::WriteHeaderBytes() {
  uint8_t bytes[kHeaderSize];
  header_.EncodeTo(bytes);
  WriteAt(0, bytes, kHeaderSize);
}

void TDataFile::WriteHeader(bool force, bool flush) {
  if (HeaderClean(force) && !write_marked_) return;
  CountChange(header_.ChangeCounter);
  header_.EngineVersion = kEngineVersion;
  header_.LastWriteTime = Clock().LocalNow() - kHeaderTimeBias;
  // The header written after the bodies ends the write; one cut off
  // before and not yet repaired keeps its mark.
  header_.DirtyFlag = write_interrupted_ ? 1 : 0;
  WriteHeaderBytes();
  write_marked_ = false;
  // Bytes past the last record are the remains of an interrupted write; the
  // header write runs under the table's write lock, so they can go now.
  const int64_t end = RecordOffset(header_.NextRecord);
  if (GetSize() > end) CutAt(end);
  HeaderWritten(flush);
}

void TDataFile::MarkWriteInProgress(bool flush) {
  if (write_marked_ || !IsOpen()) return;
  const uint8_t mark = 1;
  WriteAt(kHdrDirtyFlag, &mark, 1);
  FlushIfForced(flush);
  write_marked_ = true;
}

void TDataFile::TouchHeader() {
  TouchHeaderCounter(header_.ChangeCounter);
}

void TDataFile::CopyHeader(uint8_t* dest) const {
  header_.EncodeTo(dest);
}

void TDataFile::TruncateRecords() {
  DropRecordCache();
  CutAt(DataStart());
  FlushIfForced(false);
  // The change counter keeps counting up: another process must not take the
  // emptied table for the one it has cached.
  CountChange(header_.ChangeCounter);
  header_.FreeHead = 0;
  header_.NextRecord = 1;
  header_.LastAutoInc = 0;
  header_dirty_ = true;
}

// ---- descriptors ----

void TDataFile::DecodeFieldDescs(uint8_t* bytes) {
  const int32_t count = header_.FieldCount;
  const int32_t length = count * kFieldDescriptorSize;
  if (Encrypted()) {
    // Files written before the version stamp scrambled only the low 16 bits' worth.
    const int32_t scrambled = header_.EngineVersion == 0 ? (length & 0xFFFF) : length;
    UnscrambleBuffer(bytes, scrambled, kRecordSeed.K1, kRecordSeed.K2);
  }
  std::vector<FieldDescriptor> descriptors(count);
  for (int32_t i = 0; i < count; ++i) {
    if (!descriptors[i].DecodeFrom(bytes + i * kFieldDescriptorSize)) {
      Raise(kErrHeaderCorrupt);
    }
  }
  descriptors_ = std::move(descriptors);
  descriptors_dirty_ = false;
}

void TDataFile::WriteFieldDescs() {
  if (!descriptors_dirty_) return;
  const int32_t length = static_cast<int32_t>(descriptors_.size()) * kFieldDescriptorSize;
  EnsureSize(write_buffer_, length);
  for (size_t i = 0; i < descriptors_.size(); ++i) {
    descriptors_[i].EncodeTo(write_buffer_.data() + i * kFieldDescriptorSize);
  }
  if (Encrypted()) ScrambleBuffer(write_buffer_.data(), length, kRecordSeed.K1, kRecordSeed.K2);
  if (length > 0) {
    BodyWriting();
    WriteAt(kHeaderSize, write_buffer_.data(), length);
  }
  FlushIfForced(false);
  Owner()->MarkWritten();
  descriptors_dirty_ = false;
}

const FieldDescriptor& TDataFile::FieldDesc(int32_t position) const {
  if (position < 1 || position > static_cast<int32_t>(descriptors_.size())) {
    Raise(kErrInvalidField);
  }
  return descriptors_[position - 1];
}

const FieldDescriptor* TDataFile::FieldDescByNumber(int32_t number) const {
  for (const FieldDescriptor& field : descriptors_) {
    if (field.Number == number) return &field;
  }
  return nullptr;
}

const FieldDescriptor* TDataFile::FieldDescByName(const std::string& name) const {
  for (const FieldDescriptor& field : descriptors_) {
    if (SameText(field.Name, name)) return &field;
  }
  return nullptr;
}

void TDataFile::UpdateFieldDesc(int32_t position, const FieldDescriptor& field) {
  if (position < 1 || position > static_cast<int32_t>(descriptors_.size())) {
    Raise(kErrInvalidField);
  }
  FieldDescriptor& target = descriptors_[position - 1];
  target.Name = field.Name;
  target.SubType = field.SubType;
  target.Description = field.Description;
  target.Required = field.Required;
  target.Minimum = field.Minimum;
  target.Maximum = field.Maximum;
  target.Default = field.Default;
  descriptors_dirty_ = true;
}

// ---- record cache ----

TRecord* TDataFile::TakeCacheSlot(int32_t number) {
  TRecord* record = nullptr;
  if (cache_.Full()) {
    const bool in_transaction = Owner()->InTransaction();
    record = cache_.TakeVictim(!in_transaction, [this] { FlushRecords(false); });
    // The bytes of the next victim are cleared when it is taken.
    if (const TRecord* next = cache_.PrefetchComingVictims(); next != nullptr) {
      PrefetchRangeForRead(next->Bytes(), static_cast<size_t>(next->Size()));
    }
    if (record == nullptr) {
      if (!in_transaction) Raise(kErrRecordBuffersCorrupt);
      cache_.Grow(kCacheGrowth);
    }
  }
  if (record == nullptr) record = pool_.Get();
  record->record_number_ = number;
  std::memset(record->Bytes(), 0, static_cast<size_t>(record->Size()));
  PutInt32(record->Bytes() + kRecNumber, number);
  record->modified_ = false;
  record->use_count_ = 0;
  cache_.LinkAtHead(record);
  return record;
}

void TDataFile::LoadWindow(TDataFileCursor* cursor, int32_t number, int direction, bool read_ahead,
                           bool cursor_read_ahead) {
  const int32_t last_record = header_.NextRecord - 1;
  int32_t count = 1;
  if (cursor_read_ahead && cursor != nullptr) {
    count = cursor->CountVisibleRun(read_ahead_count_, direction);
  } else if (read_ahead) {
    count = std::min(read_ahead_count_, header_.NextRecord - number);
  }
  count = std::clamp(count, 1, read_ahead_count_);
  int32_t first;
  if (direction == 1) {
    first = number;
    count = std::min(count, last_record - number + 1);
  } else {
    count = std::min(count, number);
    first = number - count + 1;
  }
  const int32_t size = header_.RecordSize;
  const ReadWindowScope window(*this, RecordOffset(first), static_cast<int64_t>(count) * size);
  const int32_t loaded = ReadRecordBytes(first, count, read_buffer_);
  // The window's records stay pinned until it is loaded: when the cache
  // holds only changed records (a transaction), the clean ones just loaded
  // are the only victims, and the wanted record must not be one of them.
  std::vector<TRecord*> pinned;
  pinned.reserve(static_cast<size_t>(loaded));
  const auto unpin = [&pinned] {
    for (TRecord* record : pinned) record->DecUseCount();
  };
  try {
    for (int32_t i = 0; i < loaded; ++i) {
      const int32_t n = first + i;
      uint8_t* raw = read_buffer_.data() + static_cast<int64_t>(i) * size;
      TRecord* cached = cache_.Lookup(n);
      if (cached != nullptr) {
        if (!cached->Modified() && cached->UseCount() == 0) cached->LoadFrom(raw);
        continue;
      }
      TRecord* record = TakeCacheSlot(n);
      record->LoadFrom(raw);
      cache_.Insert(record);
      record->IncUseCount();
      pinned.push_back(record);
    }
  } catch (...) {
    unpin();
    throw;
  }
  unpin();
}

int32_t TDataFile::ReadRecordBytes(int32_t first, int32_t count, std::vector<uint8_t>& buffer) {
  const int32_t size = header_.RecordSize;
  const int32_t length = count * size;
  const int64_t offset = RecordOffset(first);
  EnsureSize(buffer, length);
  // A read through the file's mapping makes no system call, which a walk
  // in key order over records scattered through a file larger than the
  // cache would make for every record. A window it does not serve whole
  // is read from the file, which reports what went wrong.
  if (ReadMapped(offset, buffer.data(), length) == length) return count;
  // A short read is expected only where this process may itself have
  // appended records that are not on disk yet.
  const bool allow_short = (Exclusive() || Owner()->InTransaction()) && Owner()->Written();
  if (!allow_short) {
    ReadAt(offset, buffer.data(), length, false);
    return count;
  }
  return ReadAt(offset, buffer.data(), length, true) / size;
}

void TDataFile::DecodeRecordImage(uint8_t* raw, int32_t number) const {
  if (Encrypted()) UnscrambleBuffer(raw, header_.RecordSize, kRecordSeed.K1, kRecordSeed.K2);
  if (raw[kRecStatus] == kRecordLive) PutInt32(raw + kRecNumber, number);
}

int32_t TDataFile::ReadRecordImages(int32_t first, int32_t count, std::vector<uint8_t>& buffer) {
  const int32_t read = ReadRecordBytes(first, count, buffer);
  for (int32_t i = 0; i < read; ++i) {
    DecodeRecordImage(buffer.data() + static_cast<int64_t>(i) * header_.RecordSize, first + i);
  }
  return read;
}

int64_t TDataFile::VisitRecords(TDataFileCursor* cursor, const TRecordsBitmap& wanted,
                                TRecordVisit visit, void* context) {
  const int32_t size = header_.RecordSize;
  std::vector<uint8_t> window;
  int32_t window_first = 0;
  int32_t window_count = 0;
  int64_t visited = 0;
  for (int32_t number = wanted.NextSet(0); number != 0; number = wanted.NextSet(number)) {
    // Only AllocRecord appends: a number at or past "next" comes from
    // corrupt data.
    if (number >= header_.NextRecord) Raise(kErrRecordBuffersCorrupt);
    ++visited;
    if (TRecord* cached = cache_.Lookup(number)) {
      cached->IncUseCount();
      try {
        visit(context, number, cached->Bytes());
      } catch (...) {
        cached->DecUseCount();
        throw;
      }
      cached->DecUseCount();
      continue;
    }
    if (number < window_first || number >= window_first + window_count) {
      if (!Owner()->StrictChangeDetection() && cursor != nullptr) cursor->TableFilesChanged();
      // A window where the next record is wanted too; else this one alone.
      const int32_t count =
          wanted.IsSet(number + 1) ? std::min(read_ahead_count_, header_.NextRecord - number) : 1;
      window_first = number;
      window_count = ReadRecordImages(number, count, window);
      if (window_count == 0) Raise(kErrRecordBuffersCorrupt);
    }
    visit(context, number, window.data() + static_cast<int64_t>(number - window_first) * size);
  }
  return visited;
}

bool TDataFile::FetchRecord(TDataFileCursor* cursor, int32_t number, int direction, bool read_ahead,
                            bool cursor_read_ahead, TRecord*& record) {
  record = nullptr;
  // Only AllocRecord appends: a number at or past "next" that reaches this
  // point comes from corrupt data.
  if (number <= 0 || number >= header_.NextRecord) Raise(kErrRecordBuffersCorrupt);
  TRecord* found = cache_.Find(number);
  if (found == nullptr) {
    if (!Owner()->StrictChangeDetection() && cursor != nullptr && cursor->TableFilesChanged()) {
      return false;
    }
    LoadWindow(cursor, number, direction, read_ahead, cursor_read_ahead);
    found = cache_.Find(number);
    if (found == nullptr) Raise(kErrRecordBuffersCorrupt);
  }
  found->IncUseCount();
  record = found;
  return true;
}

void TDataFile::ReleaseRecord(TRecord* record) {
  if (record != nullptr) record->DecUseCount();
}

TRecord* TDataFile::AppendRecord() {
  const int64_t next = header_.NextRecord;
  if (next + 1 > kMaxRecordCount || next * header_.RecordSize >= kMaxRecordBytes) {
    Raise(kErrTableFull);
  }
  TRecord* record = TakeCacheSlot(header_.NextRecord);
  // Written even when the caller leaves it blank, so the file always holds
  // every record its header counts.
  record->SetModified(true);
  record->IncUseCount();
  cache_.Insert(record);
  ++header_.NextRecord;
  header_dirty_ = true;
  return record;
}

int32_t TDataFile::FreeCandidate() const {
  if (header_.FreeHead == 0 || !Owner()->HasPrimaryIndex()) return header_.NextRecord;
  return header_.FreeHead;
}

TRecord* TDataFile::AllocRecord() {
  const int32_t candidate = FreeCandidate();
  if (candidate == header_.NextRecord) {
    TRecord* record = AppendRecord();
    header_.FreeHead = 0;
    return record;
  }
  TRecord* record = nullptr;
  FetchRecord(nullptr, candidate, 1, false, false, record);
  const int32_t link = record->GetLiveRecordNumber();
  // A live record or a link out of range would hand out data that is in use.
  if (record->Status() != kRecordFree || link < 0 || link >= header_.NextRecord ||
      link == candidate) {
    ReleaseRecord(record);
    Raise(kErrRecordBuffersCorrupt);
  }
  header_.FreeHead = link;
  header_dirty_ = true;
  return record;
}

void TDataFile::FreeRecord(TRecord* record) {
  const int32_t number = record->RecordNumber();
  // Freeing a record twice would make the chain loop.
  if (number <= 0 || number >= header_.NextRecord || record->Status() == kRecordFree) {
    Raise(kErrRecordBuffersCorrupt);
  }
  const int32_t candidate = FreeCandidate();
  record->SetStatus(kRecordFree);
  record->SetLinkNumber(candidate == header_.NextRecord ? 0 : candidate);
  header_.FreeHead = number;
  header_dirty_ = true;
}

void TDataFile::ReviveRecord(TRecord* record, int32_t free_head) {
  if (record->RecordNumber() != header_.FreeHead || record->Status() != kRecordFree ||
      free_head < 0 || free_head >= header_.NextRecord) {
    Raise(kErrRecordBuffersCorrupt);
  }
  record->InitNew(false);
  header_.FreeHead = free_head;
  header_dirty_ = true;
}

bool TDataFile::FlushRecords(bool flush) {
  // What the records name reaches the disk before them, also when the
  // cache writes records back on its own.
  Owner()->RecordsWriteStarting();
  std::vector<TRecord*> dirty;
  cache_.CollectWriteBack(
      dirty, [this](const TRecord& r) { return !InReadWindow(RecordOffset(r.RecordNumber())); });
  if (dirty.empty()) return false;
  const int64_t size = header_.RecordSize;
  size_t begin = 0;
  while (begin < dirty.size()) {
    const int32_t first = dirty[begin]->RecordNumber();
    size_t end = begin + 1;
    size_t runs = 1;
    while (end < dirty.size()) {
      const int32_t next = dirty[end]->RecordNumber();
      const int32_t previous = dirty[end - 1]->RecordNumber();
      // A run goes on whole; a gap is bridged while the window stays small.
      if (next != previous + 1) {
        if ((next - previous - 1) * size > kBridgeGapBytes ||
            (next - first + 1) * size > kWriteWindowBytes) {
          break;
        }
        ++runs;
      }
      ++end;
    }
    try {
      WriteBackWindow(dirty, begin, end, runs >= kBridgedRuns);
    } catch (...) {
      // What did not reach the disk stays dirty, to be written again.
      for (size_t i = begin; i < dirty.size(); ++i) dirty[i]->SetModified(true);
      throw;
    }
    Owner()->MarkWritten();
    begin = end;
  }
  try {
    FlushAfterRuns(flush);
  } catch (...) {
    for (TRecord* record : dirty) record->SetModified(true);
    throw;
  }
  return true;
}

void TDataFile::WriteBackWindow(const std::vector<TRecord*>& dirty, size_t begin, size_t end,
                                bool bridge) {
  const int32_t size = header_.RecordSize;
  const int32_t first = dirty[begin]->RecordNumber();
  if (bridge) {
    const int32_t length = (dirty[end - 1]->RecordNumber() - first + 1) * size;
    // The clean records between are written as the disk holds them, so
    // the window must lie on the disk whole; the writer's lock keeps any
    // other writer away meanwhile.
    EnsureSize(write_buffer_, length);
    if (ReadAt(RecordOffset(first), write_buffer_.data(), length, true) == length) {
      for (size_t i = begin; i < end; ++i) {
        dirty[i]->StoreTo(write_buffer_.data() + (dirty[i]->RecordNumber() - first) * size);
      }
      BodyWriting();
      WriteAt(RecordOffset(first), write_buffer_.data(), length);
      FlushIfForced(false);
      return;
    }
  }
  // One write per run of consecutive records.
  size_t run = begin;
  while (run < end) {
    size_t stop = run + 1;
    while (stop < end && dirty[stop]->RecordNumber() == dirty[stop - 1]->RecordNumber() + 1) ++stop;
    const int32_t run_length = static_cast<int32_t>(stop - run) * size;
    EnsureSize(write_buffer_, run_length);
    for (size_t i = run; i < stop; ++i) {
      dirty[i]->StoreTo(write_buffer_.data() + static_cast<int32_t>(i - run) * size);
    }
    BodyWriting();
    WriteAt(RecordOffset(dirty[run]->RecordNumber()), write_buffer_.data(), run_length);
    FlushIfForced(false);
    run = stop;
  }
}

void TDataFile::DropRecordCache() {
  cache_.Clear([this](TRecord* r) { pool_.Put(r); });
}

void TDataFile::TrimRecordCache() {
  SetCacheLimits();
  cache_.TrimToCapacity([this](TRecord* r) { pool_.Put(r); });
}

// ---- counters and options ----

int32_t TDataFile::NextAutoInc() {
  const int32_t value = NextCounter(header_.LastAutoInc, Name());
  header_dirty_ = true;
  return value;
}

void TDataFile::SetLastAutoInc(int32_t value) {
  if (value == header_.LastAutoInc) return;
  header_.LastAutoInc = value;
  header_dirty_ = true;
}

int32_t TDataFile::NextBlobStamp() {
  // A stamp only tells a chain's write from the writes before and after it
  // at the same blocks, which an image read earlier may still name; it need
  // not be unique among the records. After the last value the count starts
  // again at 1 rather than refuse every further BLOB write.
  header_.LastBlobStamp = header_.LastBlobStamp >= kMaxCounterValue ? 1 : header_.LastBlobStamp + 1;
  header_dirty_ = true;
  return header_.LastBlobStamp;
}

int32_t TDataFile::BlobBlockSize() const {
  return header_.BlobBlockSize == 0 ? kDefaultBlobBlockSize : header_.BlobBlockSize;
}

std::string TDataFile::Description() const {
  return Encrypted() ? ScrambledCopy(header_.Description, kPasswordSeed) : header_.Description;
}

std::string TDataFile::Password() const {
  return Encrypted() ? ScrambledCopy(header_.Password, kPasswordSeed) : std::string();
}

void TDataFile::SetTableOptions(const std::string& password, const std::string& description,
                                int16_t user_minor, int16_t user_major, int32_t last_auto_inc) {
  const std::string plain_description = description.substr(0, kMaxDescriptionLength);
  if (Encrypted()) {
    // The records stay scrambled as they are; only the stored password changes.
    header_.Password = ScrambledCopy(password.substr(0, kMaxPasswordLength), kPasswordSeed);
    header_.Description = ScrambledCopy(plain_description, kPasswordSeed);
  } else {
    header_.Description = plain_description;
  }
  header_.UserMinor = user_minor;
  header_.UserMajor = user_major;
  SetLastAutoInc(last_auto_inc);
  header_dirty_ = true;
}

// ---- locks ----

OsLockResult TDataFile::LockRecordByte(int32_t number) {
  if (number < 1 || number > kMaxRecordCount) return OsLockResult::Failed;
  return SetRegionLock(kRecordLockBase - number, 1, true);
}

bool TDataFile::UnlockRecordByte(int32_t number) {
  if (number < 1 || number > kMaxRecordCount) return false;
  return SetRegionLock(kRecordLockBase - number, 1, false) == OsLockResult::Taken;
}

OsLockResult TDataFile::LockRecordBytes(const std::vector<int32_t>& numbers) {
  if (!RecordNumbersValid(numbers)) return OsLockResult::Failed;
  return SetByteLocks(RecordByteOffsets(numbers), true);
}

bool TDataFile::UnlockRecordBytes(const std::vector<int32_t>& numbers) {
  if (!RecordNumbersValid(numbers)) return false;
  return SetByteLocks(RecordByteOffsets(numbers), false) == OsLockResult::Taken;
}

bool TDataFile::UnlockAllRecordBytes(const TRecordsBitmap& held, int32_t record_count) {
  // One by one: one wide unlock would also drop the locks other tables of
  // this process hold on the same file.
  bool all = true;
  int32_t position = 0;
  int32_t sequence = 0;
  while (held.FindNextSet(position, 1, sequence) && position <= record_count) {
    if (!UnlockRecordByte(position)) all = false;
  }
  return all;
}

bool TDataFile::LockWriteSemaphore() {
  // The first try and SemaphoreRetries() more.
  return LockWithRetries(kWriteSemaphoreByte, 1, SemaphoreRetries() + 1);
}

bool TDataFile::UnlockWriteSemaphore() {
  return SetRegionLock(kWriteSemaphoreByte, 1, false) == OsLockResult::Taken;
}

// ---- check ----

void TDataFile::Check() {
  if (header_.Version != kDataFormatVersion) Raise(kErrWrongVersion);
  const auto language_id = static_cast<uint16_t>(header_.LanguageId);
  const auto sort_id = static_cast<uint16_t>(header_.SortId);
  if (!IsKnownLanguage(language_id, sort_id)) Raise(kErrLanguageDriver);
  // Texts are read as the table's own locale writes them.
  const TLanguageSwap swap(language_id, sort_id);
  const int32_t count = static_cast<int32_t>(descriptors_.size());
  int32_t offset = kRecordHeadSize;
  for (int32_t i = 0; i < count; ++i) {
    FieldDescriptor& field = descriptors_[i];
    SetPhysicalLength(field);
    SetPhysicalScale(field);
    const std::string name = UpperCase(field.Name);
    if (name.empty() || name.size() > static_cast<size_t>(kMaxFieldNameLength) ||
        !IsIdentStartChar(name[0])) {
      Raise(kErrHeaderCorrupt);
    }
    for (int32_t j = 0; j < count; ++j) {
      if (j == i) continue;
      if (SameText(Trim(descriptors_[j].Name), name) || descriptors_[j].Number == field.Number) {
        Raise(kErrHeaderCorrupt);
      }
    }
    if (!IsKnownFieldType(field.Type)) Raise(kErrHeaderCorrupt);
    const bool sized =
        field.Type == kFldString || field.Type == kFldBytes || field.Type == kFldType15;
    if (sized ? field.Size > kMaxFieldSize : field.Size != 0) Raise(kErrHeaderCorrupt);
    if (!IsValidFieldText(field.Default, field.Type) ||
        !IsValidFieldText(field.Minimum, field.Type) ||
        !IsValidFieldText(field.Maximum, field.Type)) {
      Raise(kErrHeaderCorrupt);
    }
    if (field.Decimals != 0 && field.Type != kFldBcd) Raise(kErrHeaderCorrupt);
    if (field.IsAutoInc()) {
      if (field.Offset != kRecId) Raise(kErrHeaderCorrupt);
    } else if (field.Derived == 0) {
      if (field.Offset != offset) Raise(kErrHeaderCorrupt);
      offset += field.PhysicalLength + 1;
    }
    if (field.Number != i + 1) Raise(kErrHeaderCorrupt);
  }
  if (header_.RecordSize != offset) Raise(kErrHeaderCorrupt);
  // Bytes past the last record are accepted (an interrupted write leaves
  // them); a file that ends before its last record is not.
  if (GetSize() < RecordOffset(header_.NextRecord)) Raise(kErrHeaderCorrupt);
}

}  // namespace jw
