// TDataSet: the ring of record buffers and the moves over it. buffers_
// holds record_count_ records of the window in order, followed by spare
// buffers; the one at record_count_ receives each fetch before it joins the
// window at the front or the back.
#include <algorithm>

#include "platform/db/data_set.h"
#include "platform/db/data_source.h"
#include "platform/db/db_errors.h"

namespace jw {

TRecordBuffer TDataSet::TempBuffer() const {
  return temp_buffer_;
}

void TDataSet::SetBufListSize(int size) {
  while (static_cast<int>(buffers_.size()) > size) {
    FreeRecordBuffer(buffers_.back());
    buffers_.pop_back();
  }
  // The spare search buffer follows the ring, so that a new buffer layout
  // (after an index change) reaches it too.
  if (size == 0 && temp_buffer_ != nullptr) FreeRecordBuffer(temp_buffer_);
  if (size == 0) temp_buffer_ = nullptr;
  if (size > 0 && temp_buffer_ == nullptr) temp_buffer_ = AllocRecordBuffer();
  while (static_cast<int>(buffers_.size()) < size) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == buffer_count_) return;
  if (!IsCursorOpen() || state_ == dsInactive) {
    buffer_count_ = count;
    return;
  }
  // The window keeps the records around the active one that still fit.
  if (count < record_count_) {
    const int drop_front = std::max(0, std::min(active_record_, record_count_ - count));
    for (int i = 0; i < drop_front; ++i) MoveBuffer(0, static_cast<int>(buffers_.size()) - 1);
    active_record_ -= drop_front;
    record_count_ = std::min(record_count_ - drop_front, count);
    CursorPosChanged();
  }
  SetBufListSize(count + 1);
  buffer_count_ = count;
  GetNextRecords();
  GetPriorRecords();
}

void TDataSet::UpdateBufferCount() {
  int count = 1;
  for (TDataSource* source : data_sources_) count = std::max(count, source->MaxLinkBufferCount());
  SetBufferCount(count);
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  const TRecordBuffer moved = buffers_[from];
  if (from < to) {
    std::copy(buffers_.begin() + from + 1, buffers_.begin() + to + 1, buffers_.begin() + from);
  } else {
    std::copy_backward(buffers_.begin() + to, buffers_.begin() + from, buffers_.begin() + from + 1);
  }
  buffers_[to] = moved;
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  const TRecordBuffer buffer = buffers_[index];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  if (record_count_ > 0) SetCurrentRecord(record_count_ - 1);
  if (GetRecord(buffers_[record_count_], gmNext, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
    return true;
  }
  if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    // The first record leaves the window; the fetched one joins at its end.
    MoveBuffer(0, record_count_);
    active_record_ = std::max(active_record_ - 1, 0);
  }
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  if (GetRecord(buffers_[record_count_], gmPrior, true) != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
    return true;
  }
  // The fetched record joins at the front; the last one leaves a full window.
  MoveBuffer(record_count_, 0);
  if (record_count_ < buffer_count_) {
    ++record_count_;
    ++active_record_;
  } else {
    active_record_ = std::min(active_record_ + 1, record_count_ - 1);
  }
  current_record_ = 0;
  return true;
}

void TDataSet::GetNextRecords() {
  while (record_count_ < buffer_count_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (record_count_ < buffer_count_ && GetPriorRecord()) {
  }
}

void TDataSet::DoBeforeScroll() {
  Notify(BeforeScroll);
}

void TDataSet::DoAfterScroll() {
  Notify(AfterScroll);
}

void TDataSet::First() {
  MoveToEnd(true);
}

void TDataSet::Last() {
  MoveToEnd(false);
}

void TDataSet::MoveToEnd(bool first) {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  // The window fills away from the end the cursor stands at.
  try {
    if (first) {
      InternalFirst();
      GetNextRecords();
    } else {
      InternalLast();
      GetPriorRecords();
    }
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = first || record_count_ == 0;
  eof_ = !first || record_count_ == 0;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    const int old_record_count = record_count_;
    int scrolled = 0;  // buffers shifted: negative forward, positive back
    try {
      for (; distance > 0; --distance, ++moved) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else if (const int held = record_count_; GetNextRecord()) {
          if (record_count_ == held) --scrolled;
          active_record_ = record_count_ - 1;
        } else {
          eof_ = true;
          break;
        }
      }
      for (; distance < 0; ++distance, --moved) {
        if (active_record_ > 0) {
          --active_record_;
        } else if (const int held = record_count_; GetPriorRecord()) {
          if (record_count_ == held) ++scrolled;
          active_record_ = 0;
        } else {
          bof_ = true;
          break;
        }
      }
    } catch (...) {
      DataEvent(deDataSetChange, 0);
      throw;
    }
    if (record_count_ != old_record_count) {
      DataEvent(deDataSetChange, 0);
    } else {
      DataEvent(deDataSetScroll, scrolled);
    }
  }
  DoAfterScroll();
  return moved;
}

void TDataSet::Resync(TResyncMode mode) {
  const TRecordBuffer spare = buffers_[record_count_];
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError(db_text::kRecordNotFound, this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK && GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int before = mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
}

TBookmark TDataSet::GetBookmark() {
  TBookmark bookmark;
  if (!Active() || record_count_ == 0) return bookmark;
  const TRecordBuffer buffer = ActiveBuffer();
  if (GetBookmarkFlag(buffer) != bfCurrent) return bookmark;
  bookmark.resize(bookmark_size_);
  GetBookmarkData(buffer, bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
  (void)bookmark;
  return false;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  (void)a;
  (void)b;
  return 0;
}

}  // namespace jw
