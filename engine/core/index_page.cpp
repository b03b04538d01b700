#include "engine/core/index_page.h"

#include <algorithm>
#include <cstring>

#include "engine/core/data_file_format.h"
#include "engine/core/index_file.h"
#include "engine/core/key_compare.h"
#include "engine/support/engine_errors.h"
#include "engine/support/records_bitmap.h"

namespace jw {
namespace {

// Mode 3 stores its prefix and zero counts in one byte each.
constexpr int32_t kMaxByteCount = 255;
// Inner entries on disk: key, child position, leaf keys below.
constexpr int32_t kInnerEntryExtra = 8;
// Mode-0 leaf entries on disk: key, record number.
constexpr int32_t kLeafEntryExtra = 4;
// A compressed entry: its two counts and the record number around the key bytes.
constexpr int32_t kCompressedEntryExtra = 6;
// In memory a compressed leaf's entry keeps its record number and its two counts.
constexpr int32_t kCompressedMemoryExtra = kEntryZeros + 2;

}  // namespace

int32_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, int32_t length) {
  int32_t n = 0;
  while (n < length && a[n] == b[n]) ++n;
  return n;
}

int32_t TrailingZeroCount(const uint8_t* key, int32_t length) {
  int32_t n = 0;
  while (n < length && key[length - 1 - n] == 0) ++n;
  return n;
}

TPage::TPage(TIndexFile* owner) : owner_(owner) {}

void TPage::RaiseCorrupt() const {
  RaiseEngineError(kErrIndexPagesCorrupt, owner_ != nullptr ? owner_->Name() : std::string());
}

void TPage::Clear() {
  ClearContents();
  use_count_ = 0;
}

void TPage::ClearContents() {
  entries_.clear();
  key_count_ = 0;
  used_bytes_ = 0;
  edit_position_ = 1;
  navigation_position_ = 1;
  parent_position_ = 0;
  page_type_ = kPageRoot;
  UpdateStride();
  previous_ = 0;
  next_ = 0;
  free_ = false;
  dirty_ = false;
}

void TPage::Assign(int32_t position, int32_t slot, const IndexDescriptor& index) {
  Clear();
  // Entry buffers are sized from the key length, so it must be one a key can have.
  if (index.KeyLength < 1 || index.KeyLength > kMaxKeyLength ||
      index.Compression > kMaxCompressionMode) {
    RaiseCorrupt();
  }
  position_ = position;
  slot_ = slot;
  key_length_ = index.KeyLength;
  descending_ = index.Descending != 0;
  unique_ = index.Unique != 0;
  compression_ = index.Compression;
  UpdateStride();
}

void TPage::UpdateStride() {
  if (!IsLeaf()) {
    stride_ = key_length_ + kInnerEntryExtra;
  } else if (compression_ == 0) {
    stride_ = key_length_ + kLeafEntryExtra;
  } else {
    stride_ = key_length_ + kCompressedMemoryExtra;
  }
}

void TPage::MarkFree(int32_t next_free) {
  entries_.clear();
  key_count_ = 0;
  used_bytes_ = 0;
  previous_ = 0;
  next_ = next_free;
  free_ = true;
  dirty_ = true;
}

void TPage::ResetPosition(TPagePosition which) {
  if (which == TPagePosition::Edit) {
    edit_position_ = 1;
  } else {
    navigation_position_ = 1;
  }
}

// ---- entries ----

uint8_t* TPage::Entry(int32_t position) {
  return entries_.data() + static_cast<size_t>(position - 1) * Stride();
}

int32_t TPage::Count(int32_t position) const {
  CheckPosition(position);
  return IsLeaf() ? 1 : GetInt32(Entry(position) + key_length_ + kEntryCount);
}

int32_t TPage::SharedPrefix(int32_t position) const {
  CheckPosition(position);
  return CompressedLeaf() ? GetInt16(Entry(position) + key_length_ + kEntryPrefix) : 0;
}

int32_t TPage::StrippedZeros(int32_t position) const {
  CheckPosition(position);
  return CompressedLeaf() ? GetInt16(Entry(position) + key_length_ + kEntryZeros) : 0;
}

void TPage::SetPointer(int32_t position, int32_t pointer) {
  CheckPosition(position);
  PutInt32(Entry(position) + key_length_ + kEntryPointer, pointer);
  dirty_ = true;
}

void TPage::SetCount(int32_t position, int32_t count) {
  CheckPosition(position);
  // A leaf's entry counts itself and keeps no count.
  if (IsLeaf()) return;
  PutInt32(Entry(position) + key_length_ + kEntryCount, count);
  dirty_ = true;
}

void TPage::ReplaceKey(int32_t position, const uint8_t* key) {
  CheckPosition(position);
  std::memmove(Entry(position), key, key_length_);
  RecompressEntries(position, position + 1);
  dirty_ = true;
}

int64_t TPage::TotalKeys() const {
  return KeysBefore(key_count_ + 1);
}

int64_t TPage::KeysBefore(int32_t position) const {
  const int32_t last = std::clamp(position - 1, 0, key_count_);
  if (IsLeaf()) return last;
  int64_t sum = 0;
  for (int32_t i = 1; i <= last; ++i) sum += GetInt32(Entry(i) + key_length_ + kEntryCount);
  return sum;
}

void TPage::InsertAt(int32_t position, const uint8_t* key, int32_t pointer, int32_t count) {
  if (position < 1 || position > key_count_ + 1) RaiseCorrupt();
  const size_t offset = static_cast<size_t>(position - 1) * Stride();
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(offset), Stride(), 0);
  FillEntry(entries_.data() + offset, key, pointer, count);
  ++key_count_;
  used_bytes_ += EntryBytes(position);
  // Only the new entry and the one behind it, whose previous key changed,
  // take a new compressed form.
  RecompressEntries(position, position + 1);
  dirty_ = true;
}

bool TPage::AppendIfFits(const uint8_t* key, int32_t pointer, int32_t count) {
  const bool compressed = CompressedLeaf();
  TCompressedForm form;
  if (compressed) {
    form = CompressedForm(key_count_ > 0 ? Entry(key_count_) : nullptr, key);
    if (used_bytes_ + CompressedBytes(form) > kPageEntryBytes) return false;
  } else if (key_count_ >= Capacity()) {
    return false;
  }
  const size_t offset = static_cast<size_t>(key_count_) * Stride();
  entries_.resize(offset + Stride());
  uint8_t* entry = entries_.data() + offset;
  FillEntry(entry, key, pointer, count);
  ++key_count_;
  if (compressed) {
    PutInt16(entry + key_length_ + kEntryPrefix, static_cast<int16_t>(form.Prefix));
    PutInt16(entry + key_length_ + kEntryZeros, static_cast<int16_t>(form.Zeros));
    used_bytes_ += CompressedBytes(form);
  }
  dirty_ = true;
  return true;
}

void TPage::FillEntry(uint8_t* entry, const uint8_t* key, int32_t pointer, int32_t count) const {
  std::memcpy(entry, key, key_length_);
  PutInt32(entry + key_length_ + kEntryPointer, pointer);
  if (!IsLeaf()) PutInt32(entry + key_length_ + kEntryCount, count);
}

void TPage::RemoveAt(int32_t position) {
  CheckPosition(position);
  used_bytes_ -= EntryBytes(position);
  const auto offset = static_cast<std::ptrdiff_t>(position - 1) * Stride();
  entries_.erase(entries_.begin() + offset, entries_.begin() + offset + Stride());
  --key_count_;
  RecompressEntries(position, position);
  dirty_ = true;
}

void TPage::MoveEntriesFrom(TPage& source, int32_t first, int32_t count, int32_t at) {
  if (source.key_length_ != key_length_ || source.stride_ != stride_ || count < 0 || first < 1 ||
      first + count - 1 > source.key_count_ || at < 1 || at > key_count_ + 1) {
    RaiseCorrupt();
  }
  const auto from = static_cast<std::ptrdiff_t>(first - 1) * Stride();
  const auto length = static_cast<std::ptrdiff_t>(count) * Stride();
  const auto to = static_cast<std::ptrdiff_t>(at - 1) * Stride();
  entries_.insert(entries_.begin() + to, source.entries_.begin() + from,
                  source.entries_.begin() + from + length);
  source.entries_.erase(source.entries_.begin() + from, source.entries_.begin() + from + length);
  key_count_ += count;
  source.key_count_ -= count;
  Recompress();
  source.Recompress();
  dirty_ = true;
  source.dirty_ = true;
}

void TPage::CopyPage(const TPage& other) {
  dirty_ = other.Dirty();
  position_ = other.position_;
  parent_position_ = other.parent_position_;
  used_bytes_ = other.used_bytes_;
  key_count_ = other.key_count_;
  edit_position_ = other.edit_position_;
  navigation_position_ = other.navigation_position_;
  key_length_ = other.key_length_;
  slot_ = other.slot_;
  descending_ = other.descending_;
  unique_ = other.unique_;
  compression_ = other.compression_;
  stride_ = other.stride_;
  entries_ = other.entries_;
  previous_ = other.previous_;
  next_ = other.next_;
  page_type_ = other.page_type_;
  free_ = other.free_;
}

int32_t TPage::Capacity() const {
  if (!IsLeaf()) return kPageEntryBytes / (key_length_ + 10);
  if (compression_ == 0) return kPageEntryBytes / (key_length_ + 6);
  return kPageEntryBytes / kCompressedEntryExtra;
}

bool TPage::Overflowing() const {
  if (CompressedLeaf()) return used_bytes_ > kPageEntryBytes;
  return key_count_ > Capacity();
}

// ---- compression ----

int32_t TPage::ZeroStart(int32_t zeros) const {
  // A non-unique key ends in the record id; its stripped zeros lie before it.
  if (zeros > 0 && !unique_) return key_length_ - kRecordIdLength - zeros;
  return key_length_ - zeros;
}

int32_t TPage::EntryBytes(int32_t position) const {
  if (!CompressedLeaf()) return 0;
  const uint8_t* entry = Entry(position);
  return CompressedBytes(
      {GetInt16(entry + key_length_ + kEntryPrefix), GetInt16(entry + key_length_ + kEntryZeros)});
}

TPage::TCompressedForm TPage::CompressedForm(const uint8_t* previous, const uint8_t* key) const {
  const int32_t l = key_length_;
  TCompressedForm form;
  if ((compression_ == 1 || compression_ == 3) && previous != nullptr) {
    form.Prefix = CommonPrefixLength(previous, key, l);
    if (compression_ == 3) form.Prefix = std::min(form.Prefix, kMaxByteCount);
  }
  if (compression_ == 2 || compression_ == 3) {
    if (unique_) {
      form.Zeros = std::min(TrailingZeroCount(key, l), l - form.Prefix);
    } else {
      // Too short a remainder leaves no room between prefix and record id.
      const int32_t room = l - form.Prefix - kRecordIdLength;
      form.Zeros = room >= 1 ? std::min(TrailingZeroCount(key, l - kRecordIdLength), room) : 0;
    }
    if (compression_ == 3) form.Zeros = std::min(form.Zeros, kMaxByteCount);
  }
  return form;
}

int32_t TPage::CompressedBytes(const TCompressedForm& form) const {
  return key_length_ - form.Prefix - form.Zeros + kCompressedEntryExtra;
}

void TPage::RecompressEntries(int32_t first, int32_t last) {
  // Only a compressed leaf keeps compressed forms and counts used bytes.
  if (!CompressedLeaf()) return;
  const int32_t l = key_length_;
  for (int32_t i = std::max(first, 1); i <= std::min(last, key_count_); ++i) {
    used_bytes_ -= EntryBytes(i);
    const TCompressedForm form = CompressedForm(i > 1 ? Entry(i - 1) : nullptr, Entry(i));
    PutInt16(Entry(i) + l + kEntryPrefix, static_cast<int16_t>(form.Prefix));
    PutInt16(Entry(i) + l + kEntryZeros, static_cast<int16_t>(form.Zeros));
    used_bytes_ += EntryBytes(i);
  }
}

void TPage::Recompress() {
  used_bytes_ = 0;
  if (!CompressedLeaf()) return;
  // Entries that came from elsewhere carry forms that were never counted here.
  for (int32_t i = 1; i <= key_count_; ++i) {
    PutInt16(Entry(i) + key_length_ + kEntryPrefix, 0);
    PutInt16(Entry(i) + key_length_ + kEntryZeros, 0);
  }
  used_bytes_ = key_count_ * (key_length_ + kCompressedEntryExtra);
  RecompressEntries(1, key_count_);
}

void TPage::SetPageType(uint8_t type) {
  const bool was_leaf = IsLeaf();
  const int32_t old_stride = stride_;
  page_type_ = type;
  if (IsLeaf() == was_leaf) return;
  UpdateStride();
  // Entries keep their keys and pointers in the other kind's layout; an
  // inner entry that was a leaf's counts no keys yet. A leaf stores its keys
  // compressed, an inner page never.
  std::vector<uint8_t> entries(static_cast<size_t>(key_count_) * stride_, 0);
  for (int32_t i = 0; i < key_count_; ++i) {
    std::memcpy(entries.data() + static_cast<size_t>(i) * stride_,
                entries_.data() + static_cast<size_t>(i) * old_stride, key_length_ + 4);
  }
  entries_ = std::move(entries);
  Recompress();
}

// ---- encoding ----

void TPage::EncodePage(uint8_t* bytes) const {
  std::memset(bytes, 0, kIndexPageSize);
  bytes[kPgType] = page_type_;
  PutInt16(bytes + kPgKeyCount, static_cast<int16_t>(free_ ? 0 : key_count_));
  PutInt32(bytes + kPgPrevious, previous_);
  PutInt32(bytes + kPgNext, next_);
  if (free_) return;
  const int32_t l = key_length_;
  uint8_t* out = bytes + kPgEntries;
  if (CompressedLeaf()) {
    if (used_bytes_ > kPageEntryBytes) RaiseCorrupt();
    PutInt16(bytes + kPgUsed, static_cast<int16_t>(used_bytes_));
    for (int32_t i = 1; i <= key_count_; ++i) {
      const uint8_t* key = Entry(i);
      const int32_t prefix = SharedPrefix(i);
      const int32_t zeros = StrippedZeros(i);
      if (compression_ == 1) {
        PutInt16(out, static_cast<int16_t>(prefix));
      } else if (compression_ == 2) {
        PutInt16(out, static_cast<int16_t>(zeros));
      } else {
        out[0] = static_cast<uint8_t>(prefix);
        out[1] = static_cast<uint8_t>(zeros);
      }
      out += 2;
      const int32_t zero_start = ZeroStart(zeros);
      std::memcpy(out, key + prefix, zero_start - prefix);
      out += zero_start - prefix;
      std::memcpy(out, key + zero_start + zeros, l - zero_start - zeros);
      out += l - zero_start - zeros;
      PutInt32(out, Pointer(i));
      out += 4;
    }
    return;
  }
  // Inner pages and mode-0 leaves hold their entries as the page stores them.
  const size_t length = static_cast<size_t>(key_count_) * Stride();
  if (length > static_cast<size_t>(kPageEntryBytes)) RaiseCorrupt();
  if (length > 0) std::memcpy(out, entries_.data(), length);
}

void TPage::DecodePage(const uint8_t* bytes, bool is_new, int32_t end_position) {
  const int32_t position = position_;
  ClearContents();
  if (is_new) return;
  const uint8_t type = bytes[kPgType];
  const int32_t count = GetInt16(bytes + kPgKeyCount);
  const int32_t previous = GetInt32(bytes + kPgPrevious);
  const int32_t next = GetInt32(bytes + kPgNext);
  const int32_t used = GetInt16(bytes + kPgUsed);
  auto link_ok = [&](int32_t link) {
    return link == 0 || (IsPagePosition(link, end_position) && link != position);
  };
  if (type > kPageRootLeaf || count < 0 || !link_ok(previous) || !link_ok(next)) RaiseCorrupt();
  page_type_ = type;
  UpdateStride();
  previous_ = previous;
  next_ = next;
  if (count == 0) {
    if (used != 0) RaiseCorrupt();
    return;
  }
  key_count_ = count;
  try {
    DecodeEntries(bytes, used, end_position);
  } catch (...) {
    entries_.clear();
    key_count_ = 0;
    throw;
  }
}

void TPage::DecodeEntries(const uint8_t* bytes, int32_t used, int32_t end_position) {
  const int32_t l = key_length_;
  const int32_t count = key_count_;
  if (CompressedLeaf()) {
    if (used < count * kCompressedEntryExtra || used > kPageEntryBytes) RaiseCorrupt();
    entries_.assign(static_cast<size_t>(count) * Stride(), 0);
    DecodeCompressed(bytes + kPgEntries, used);
    Recompress();
    return;
  }
  // Inner pages and mode-0 leaves hold their entries as the page stores them.
  const int64_t length = static_cast<int64_t>(count) * Stride();
  if (used != 0 || length > kPageEntryBytes) RaiseCorrupt();
  const uint8_t* in = bytes + kPgEntries;
  entries_.assign(in, in + length);
  for (int32_t i = 1; i <= count; ++i) {
    const uint8_t* entry = Entry(i);
    const int32_t pointer = GetInt32(entry + l + kEntryPointer);
    if (IsLeaf()) {
      if (pointer < 1) RaiseCorrupt();
    } else if (!IsPagePosition(pointer, end_position) || pointer == position_ ||
               GetInt32(entry + l + kEntryCount) < 1) {
      RaiseCorrupt();
    }
  }
}

void TPage::DecodeCompressed(const uint8_t* in, int32_t used) {
  const int32_t l = key_length_;
  int32_t offset = 0;
  for (int32_t i = 1; i <= key_count_; ++i) {
    if (offset + 2 > used) RaiseCorrupt();
    int32_t prefix = 0;
    int32_t zeros = 0;
    if (compression_ == 1) {
      prefix = GetInt16(in + offset);
    } else if (compression_ == 2) {
      zeros = GetInt16(in + offset);
    } else {
      prefix = in[offset];
      zeros = in[offset + 1];
    }
    offset += 2;
    // The first key has nothing to share; zeros never reach into the prefix,
    // and a non-unique key keeps its record id whole.
    if (prefix < 0 || zeros < 0 || prefix > l || zeros > l - prefix || (i == 1 && prefix != 0) ||
        (!unique_ && zeros > 0 && zeros > l - prefix - kRecordIdLength)) {
      RaiseCorrupt();
    }
    const int32_t stored = l - prefix - zeros;
    if (offset + stored + 4 > used) RaiseCorrupt();
    uint8_t* key = Entry(i);
    if (prefix > 0) std::memcpy(key, Entry(i - 1), prefix);
    const int32_t zero_start = ZeroStart(zeros);
    std::memcpy(key + prefix, in + offset, zero_start - prefix);
    offset += zero_start - prefix;
    std::memcpy(key + zero_start + zeros, in + offset, l - zero_start - zeros);
    offset += l - zero_start - zeros;
    const int32_t record = GetInt32(in + offset);
    if (record < 1) RaiseCorrupt();
    PutInt32(key + l + kEntryPointer, record);
    offset += 4;
  }
  if (offset != used) RaiseCorrupt();
}

// ---- searches ----

int TPage::Compare(const TIndexCursor& cursor, int32_t position, const uint8_t* key) const {
  return cursor.CompareKeys(Entry(position), key, key_length_);
}

int32_t TPage::LastBelow(const TIndexCursor& cursor, const uint8_t* key, bool strict) const {
  if (key_count_ == 0) RaiseCorrupt();
  const bool bytewise = cursor.BytewiseKeys();
  const auto length = static_cast<size_t>(key_length_);
  int32_t low = 1;
  int32_t high = key_count_;
  int32_t found = 0;
  while (low <= high) {
    const int32_t middle = low + (high - low) / 2;
    const int c = bytewise ? std::memcmp(Entry(middle), key, length) : Compare(cursor, middle, key);
    if (strict ? c < 0 : c <= 0) {
      found = middle;
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return found;
}

bool TPage::DescendLookup(const TIndexCursor& cursor, const uint8_t* key) {
  if (!IsLeaf()) {
    edit_position_ = std::max(LastBelow(cursor, key, false), 1);
    return false;
  }
  const int32_t first = LastBelow(cursor, key, true) + 1;
  if (first <= key_count_ && Compare(cursor, first, key) == 0) {
    edit_position_ = first;
    return true;
  }
  edit_position_ = std::max(first - 1, 1);
  return false;
}

void TPage::DescendInsert(const TIndexCursor& cursor, const uint8_t* key) {
  edit_position_ = LastBelow(cursor, key, false);
}

void TPage::NavigateLowerBound(const TIndexCursor& cursor, const uint8_t* key, int64_t& ordinal) {
  const int32_t below = LastBelow(cursor, key, true);
  navigation_position_ = IsLeaf() ? below + 1 : std::max(below, 1);
  ordinal += KeysBefore(navigation_position_);
}

void TPage::NavigateUpperBound(const TIndexCursor& cursor, const uint8_t* key, int64_t& ordinal) {
  const int32_t last = LastBelow(cursor, key, false);
  if (IsLeaf()) {
    navigation_position_ = last;
    ordinal += last;
    return;
  }
  navigation_position_ = std::max(last, 1);
  ordinal += KeysBefore(navigation_position_);
}

bool TPage::NavigateToKey(const TIndexCursor& cursor, const uint8_t* key, bool after,
                          int64_t& ordinal) {
  const int32_t below = LastBelow(cursor, key, true);
  bool equal = false;
  if (!IsLeaf()) {
    navigation_position_ = std::max(below, 1);
  } else if (below < key_count_ && Compare(cursor, below + 1, key) == 0) {
    navigation_position_ = below + 1;
    equal = true;
  } else {
    navigation_position_ = after ? below + 1 : below;
  }
  ordinal += KeysBefore(navigation_position_);
  return equal;
}

bool TPage::RangeScan(const TIndexCursor& cursor, const uint8_t* lower, const uint8_t* upper,
                      bool strict, int64_t& ordinal) {
  if (key_count_ == 0) RaiseCorrupt();
  int32_t position = 1;
  for (; position <= key_count_; ++position) {
    const int to_lower = Compare(cursor, position, lower);
    if (IsLeaf() && (to_lower == 0 || (strict && to_lower > 0))) {
      navigation_position_ = position;
      return to_lower == 0;
    }
    if (to_lower >= 0 || Compare(cursor, position, upper) > 0) break;
    ordinal += Count(position);
  }
  if (position > 1) {
    --position;
    ordinal -= Count(position);
  }
  navigation_position_ = position;
  return false;
}

void TPage::DescendToOrdinal(int64_t& ordinal) {
  if (IsLeaf()) {
    if (ordinal < 1 || ordinal > key_count_) RaiseCorrupt();
    edit_position_ = static_cast<int32_t>(ordinal);
    return;
  }
  for (int32_t i = 1; i <= key_count_; ++i) {
    const int32_t below = Count(i);
    if (ordinal <= below) {
      edit_position_ = i;
      return;
    }
    ordinal -= below;
  }
  RaiseCorrupt();
}

TWalkStop TPage::WalkBitmap(const TIndexCursor& cursor, const TRecordsBitmap& bitmap, int direction,
                            const uint8_t* end_key, int32_t& steps) {
  if (!IsLeaf()) RaiseCorrupt();
  const int32_t step = direction == 1 ? 1 : -1;
  int32_t position = std::clamp(navigation_position_, 0, key_count_ + 1);
  for (;;) {
    position += step;
    if (position < 1 || position > key_count_) {
      navigation_position_ = step > 0 ? key_count_ + 1 : 0;
      return TWalkStop::PageEnd;
    }
    navigation_position_ = position;
    if (end_key != nullptr && Compare(cursor, position, end_key) * step > 0) {
      return TWalkStop::RangeEnd;
    }
    ++steps;
    if (bitmap.IsSet(Pointer(position))) return TWalkStop::Found;
  }
}

TWalkStop TPage::MarkBitmap(const TIndexCursor& cursor, TRecordsBitmap& bitmap,
                            const uint8_t* end_key) {
  if (!IsLeaf()) RaiseCorrupt();
  // The keys are in order: one search finds the last one not above the end
  // key, and the entries up to it are marked without a comparison each.
  int32_t last = key_count_;
  if (end_key != nullptr && key_count_ > 0 && Compare(cursor, key_count_, end_key) > 0) {
    last = LastBelow(cursor, end_key, false);
  }
  for (int32_t position = std::max(navigation_position_, 1); position <= last; ++position) {
    bitmap.SetBit(Pointer(position));
  }
  return last < key_count_ ? TWalkStop::RangeEnd : TWalkStop::PageEnd;
}

int32_t TPage::CountRunOfRecords(int32_t count, int direction) const {
  if (edit_position_ < 1 || edit_position_ > key_count_ || count < 1) return 0;
  const int32_t step = direction == 1 ? 1 : -1;
  int32_t run = 1;
  int32_t position = edit_position_;
  while (run < count) {
    const int32_t following = position + step;
    if (following < 1 || following > key_count_) break;
    if (Pointer(following) != Pointer(position) + step) break;
    position = following;
    ++run;
  }
  return run;
}

}  // namespace jw

namespace jw {

TPage* TPageStack::Get() {
  if (unused_.empty()) {
    made_.push_back(std::make_unique<TPage>(owner_));
    return made_.back().get();
  }
  TPage* page = unused_.back();
  unused_.pop_back();
  page->Clear();
  return page;
}

void TPageStack::Put(TPage* page) {
  if (page != nullptr) unused_.push_back(page);
}

}  // namespace jw
