// TDataCursor's bookmarks (the physical record number in natural order,
// the key image in index order), going to another cursor's record, and
// clones.
#include <algorithm>
#include <cstring>
#include <optional>

#include "engine/core/cursor_read_scope.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/filter.h"

namespace jw {

int16_t TDataCursor::GetBookmarkSize() const {
  return NaturalOrderInForce() ? kNaturalBookmarkSize : static_cast<int16_t>(key_length_);
}

void TDataCursor::GetBookmark(uint8_t* bookmark) {
  if (NaturalOrderInForce()) {
    PutInt32(bookmark, OnRecord() ? record_number_ : 0);
  } else if (key_length_ == 0) {
    return;  // an index without segments has an empty bookmark
  } else if (OnRecord()) {
    std::memcpy(bookmark, key_.data(), static_cast<size_t>(key_length_));
  } else {
    std::memset(bookmark, 0, static_cast<size_t>(key_length_));
  }
}

bool TDataCursor::GotoBookmark(const uint8_t* bookmark, bool keep_end_flags, bool read_locked) {
  std::optional<TCursorReadScope> read;
  if (!read_locked) read.emplace(*this);
  if (NaturalOrderInForce()) {
    const bool was_bof = bof_;
    const bool was_eof = eof_;
    const int32_t count = table_->DataFile().RecordCount();
    int32_t number = std::clamp(GetInt32(bookmark), 1, std::max(count, 1));
    int32_t sequence = 0;
    // The record itself, else the nearest visible one after it, else before.
    if (visible_->IsSet(number) || visible_->FindNextSet(number, 1, sequence)) {
      StandOnNumber(number, kUncountedPosition);
    } else if (number = visible_->BitCount() + 1, sequence = filtered_count_ + 1;
               visible_->FindPriorSet(number, 1, sequence)) {
      StandOnNumber(number, sequence);
    } else {
      SetOff();
    }
    if (keep_end_flags) KeepEndFlags(was_bof, was_eof);
  } else {
    SearchKey(bookmark, true, keep_end_flags);
  }
  if (RangeEmpty() && !NaturalOrderInForce()) return false;
  if (keep_end_flags) return true;
  if (!OnRecord()) return false;
  std::vector<uint8_t> now(static_cast<size_t>(GetBookmarkSize()));
  GetBookmark(now.data());
  return CompareBookmarks(now.data(), bookmark) == 0;
}

int TDataCursor::CompareBookmarks(const uint8_t* a, const uint8_t* b) const {
  if (!NaturalOrderInForce()) return CompareKeys(a, b, key_length_);
  const int32_t x = GetInt32(a);
  const int32_t y = GetInt32(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t TDataCursor::GotoCursorRecord(TDataCursor& other) {
  TCursorReadScope read(*this);
  if (other.table_ != table_ || !other.OnRecord()) return kErrRecordNotFound;
  if (NaturalOrderInForce()) {
    const int32_t number = other.record_number_;
    if (!visible_->IsSet(number)) return kErrRecordNotFound;
    StandOnNumber(number, visible_->CountSetBefore(number) + 1);
    return 0;
  }
  std::vector<uint8_t> key(static_cast<size_t>(key_length_));
  BuildKey(other.current_.data(), key.data());
  return SearchKey(key.data(), false, false) ? 0 : kErrRecordNotFound;
}

std::unique_ptr<TDataCursor> TDataCursor::Clone() {
  TCursorReadScope read(*this);
  auto copy = std::make_unique<TDataCursor>(directory_);
  {
    const TDataFile& data = table_->DataFile();
    const TLentPassword lent(data.Encrypted() ? directory_->Session() : nullptr, data.Password());
    copy->SetTableName(table_name_);
    copy->SetExclusive(exclusive_);
    // The clone shares the source's exclusive hold and watches its changes.
    copy->SetSharedExclusive(exclusive_);
    copy->SetReadOnly(read_only_);
    copy->SetInMemory(in_memory_);
    copy->SetNaturalOrder(NaturalOrderInForce() && index_number_ == kNaturalOrder);
    copy->Open();
  }
  copy->SetFieldDescs(fields_, derived_);
  copy->SetIndexByNumber(index_number_);
  if (range_active_) copy->SetRange(true, RangeStartKey(), 0, RangeEndKey(), 0);
  // The clone shows what its source shows: every filter, in the same order,
  // active where the source's is.
  for (const auto& filter : filters_) {
    TFilter* copied = copy->AddFilter(nullptr, filter->Tree(), filter->Callback(),
                                      filter->UserData(), filter->Options());
    if (filter->Active()) copy->ActivateFilter(copied);
  }
  if (OnRecord()) {
    copy->GotoCursorRecord(*this);
  } else if (eof_ && !bof_) {
    copy->Last();
  }
  return copy;
}

}  // namespace jw
