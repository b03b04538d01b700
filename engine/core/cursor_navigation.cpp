// TDataCursor's moves: first and last, next and prior, record numbers and
// counts. Index order moves by ordinals of the counted B-tree: a step to
// the next or prior key goes along the leaves while the index's pages stay
// as they were, any other move descends from the root; the bitmap view
// walks only keys whose record is visible; natural order walks the
// visible-records bitmap.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/cursor_read_scope.h"

namespace jw {
namespace {

// With this few visible records their own keys find the next one in index
// order sooner than a walk over the index's leaves, which a sparse bitmap
// makes long.
constexpr int32_t kFewVisible = 16;

}  // namespace

void TDataCursor::SetOff() {
  bof_ = eof_ = true;
  position_ = 0;
  record_number_ = 0;
  std::fill(current_.begin(), current_.end(), 0);
}

void TDataCursor::SetBof() {
  bof_ = true;
  eof_ = false;
}

void TDataCursor::SetEof() {
  bof_ = false;
  eof_ = true;
}

bool TDataCursor::StandOnOrdinal(int64_t ordinal, bool walking) {
  if (ordinal < 1) return false;
  TBTree tree(table_->IndexFile(), *this);
  int32_t number = 0;
  // The key next to the last one stood on is found along its leaf.
  const int64_t step = ordinal - spot_.Ordinal;
  // The records kRecordPrefetchDistance, twice and three times as far on, for
  // the last, middle and first stage of their reads.
  std::array<int32_t, 3> ahead{};
  const bool stepped =
      (step == 1 || step == -1) && tree.StepAlong(spot_, static_cast<int>(step), key_.data(),
                                                  number, ahead, kRecordPrefetchDistance);
  // The key stood on last (a walk's first move after First) is where its
  // spot says.
  const bool stayed = !stepped && step == 0 && tree.KeyAtSpot(spot_, key_.data(), number);
  if (!stepped && !stayed && !tree.Select(ordinal, key_.data(), number, &spot_)) return false;
  if (stepped && walking) PrefetchRecords(ahead);
  position_ = static_cast<int32_t>(ordinal);
  record_number_ = number;
  bof_ = eof_ = false;
  // Ordinals belong to index order.
  ReadCurrentAs(walking, false);
  return true;
}

void TDataCursor::PrefetchRecords(const std::array<int32_t, 3>& ahead) const {
  const TDataFile& data = table_->DataFile();
  for (int stage = 0; stage < 3; ++stage) {
    const int32_t coming = ahead[2 - static_cast<size_t>(stage)];
    if (coming != 0) data.PrefetchRecord(coming, stage);
  }
}

void TDataCursor::StandOnSpot(const TLeafSpot& spot, const uint8_t* key) {
  spot_ = spot;
  std::memcpy(key_.data(), key, static_cast<size_t>(key_length_));
  StandOnNumber(spot.RecordNumber, static_cast<int32_t>(spot.Ordinal));
}

void TDataCursor::StandOnNumber(int32_t number, int32_t position) {
  record_number_ = number;
  position_ = position;
  bof_ = eof_ = false;
  ReadCurrent();
}

int32_t TDataCursor::CountedPosition() {
  if (position_ == kUncountedPosition) position_ = visible_->CountSetBefore(record_number_) + 1;
  return position_;
}

void TDataCursor::ReadCurrentAs(bool walking, bool natural) {
  TDataFile& data = table_->DataFile();
  if (natural && result_set_ && !WatchesChanges() && ReadFromWindow(data)) {
    ComputeDerivedFields(current_.data());
    return;
  }
  const bool read_ahead = natural || (walking && data.CacheHoldsAll());
  TRecord* record = FetchForMove(data, record_number_, read_ahead, natural);
  TakeStoredImage(record->Bytes(), record->Size());
  data.ReleaseRecord(record);
  ComputeDerivedFields(current_.data());
}

TRecord* TDataCursor::FetchForMove(TDataFile& data, int32_t number, bool read_ahead, bool natural) {
  TRecord* record = nullptr;
  if (!data.FetchRecord(this, number, 1, read_ahead, natural, record) &&
      !data.FetchRecord(this, number, 1, read_ahead, natural, record)) {
    data.FetchRecord(nullptr, number, 1, read_ahead, natural, record);
  }
  return record;
}

void TDataCursor::TakeStoredImage(const uint8_t* bytes, int32_t size) {
  const auto stored = static_cast<size_t>(std::min(size, record_size_));
  std::memcpy(current_.data(), bytes, stored);
  std::fill(current_.begin() + static_cast<std::ptrdiff_t>(stored), current_.end(), 0);
}

bool TDataCursor::ReadFromWindow(TDataFile& data) {
  const int32_t number = record_number_;
  if (number <= 0 || number >= data.NextRecordNumber() || data.RecordCached(number)) return false;
  const bool held = window_stamp_ == data.ContentStamp() && number >= window_first_ &&
                    number < window_first_ + window_count_;
  if (!held) {
    const int32_t count =
        std::clamp(CountVisibleRun(data.ReadAheadCount(), 1), 1, data.NextRecordNumber() - number);
    window_count_ = 0;
    window_stamp_ = data.ContentStamp();
    window_count_ = data.ReadRecordImages(number, count, window_);
    window_first_ = number;
    if (window_count_ == 0) return false;
  }
  const int32_t size = data.RecordSize();
  TakeStoredImage(window_.data() + static_cast<int64_t>(number - window_first_) * size, size);
  return true;
}

bool TDataCursor::PositionEdge(int direction) {
  const bool forward = direction == 1;
  if (NaturalOrderInForce()) {
    int32_t number = forward ? 0 : visible_->BitCount() + 1;
    int32_t sequence = forward ? 0 : filtered_count_ + 1;
    if (!(forward ? visible_->FindNextSet(number, 1, sequence)
                  : visible_->FindPriorSet(number, 1, sequence))) {
      return false;
    }
    StandOnNumber(number, sequence);
    return true;
  }
  if (RangeEmpty()) return false;
  const int32_t edge = forward ? range_start_ : range_end_;
  return bitmap_view_ ? StandOnVisible(edge - direction, direction) : StandOnOrdinal(edge);
}

bool TDataCursor::StandOnVisible(int64_t ordinal, int direction, bool walking) {
  TBTree tree(table_->IndexFile(), *this);
  int64_t nearest = 0;
  if (filtered_count_ <= kFewVisible && NearestVisibleByKeys(tree, ordinal, direction, nearest)) {
    return StandOnOrdinal(nearest);
  }
  const uint8_t* bound = direction == 1 ? RangeEndKey() : RangeStartKey();
  return StandOnOrdinal(tree.NextInBitmap(ordinal, *visible_, direction, bound), walking);
}

bool TDataCursor::NearestVisibleByKeys(TBTree& tree, int64_t ordinal, int direction,
                                       int64_t& nearest) {
  TDataFile& data = table_->DataFile();
  std::vector<uint8_t> key(static_cast<size_t>(key_length_));
  nearest = 0;
  int32_t number = 0;
  int32_t sequence = 0;
  while (visible_->FindNextSet(number, 1, sequence)) {
    TRecord* record = nullptr;
    data.FetchRecord(nullptr, number, 1, false, false, record);
    BuildKey(record->Bytes(), key.data());
    data.ReleaseRecord(record);
    // Keys are distinct (a key ends with the record id where values
    // repeat): the keys below this one give its ordinal, which must hold
    // this very record.
    const int64_t at = tree.CountBelow(key.data()) + 1;
    int32_t found = 0;
    if (!tree.Select(at, key.data(), found) || found != number) return false;
    const bool ahead = direction == 1 ? at > ordinal : at < ordinal;
    if (ahead && (nearest == 0 || (direction == 1 ? at < nearest : at > nearest))) nearest = at;
  }
  return true;
}

// One record on from the current one; the matching end flag is set when
// the records ran out.
void TDataCursor::Step(int32_t direction) {
  bool moved;
  if (NaturalOrderInForce()) {
    int32_t number = record_number_;
    int32_t sequence = position_;
    if (direction == 1) {
      // The next visible record is one further on in the count: no
      // counting search for the one step of a forward read.
      number = visible_->NextSet(number);
      moved = number != 0;
      ++sequence;
    } else {
      moved = visible_->FindPriorSet(number, 1, sequence);
    }
    if (moved) StandOnNumber(number, position_ == kUncountedPosition ? position_ : sequence);
  } else if (bitmap_view_) {
    moved = StandOnVisible(position_, direction, true);
  } else {
    const int64_t target = static_cast<int64_t>(position_) + direction;
    moved = target >= range_start_ && target <= range_end_ && StandOnOrdinal(target, true);
  }
  if (!moved) direction == 1 ? SetEof() : SetBof();
}

void TDataCursor::First() {
  TCursorReadScope read(*this);
  if (PositionEdge(1)) {
    SetBof();
  } else {
    SetOff();
  }
}

void TDataCursor::Last() {
  TCursorReadScope read(*this);
  if (PositionEdge(-1)) {
    SetEof();
  } else {
    SetOff();
  }
}

int32_t TDataCursor::CopyOut(int32_t result, uint8_t* image) {
  if (image == nullptr) return result;
  if (result != 0) {
    std::memset(image, 0, static_cast<size_t>(record_size_));
  } else {
    std::memcpy(image, current_.data(), static_cast<size_t>(record_size_));
  }
  return result;
}

int32_t TDataCursor::GetNextRecord(uint8_t* image) {
  TCursorReadScope read(*this);
  if (bof_ && eof_) {
    if (!PositionEdge(1)) return CopyOut(kErrEndOfFile, image);
  } else if (bof_) {
    if (!PositionEdge(1)) SetEof();
  } else if (!eof_) {
    Step(1);
  }
  return CopyOut(eof_ ? kErrEndOfFile : 0, image);
}

bool TDataCursor::VisitVisibleRecords(TRecordVisit visit, void* context) {
  TDataFile& data = table_->DataFile();
  if (!NaturalOrderInForce() || has_derived_ || record_size_ != data.RecordSize() ||
      table_->StrictChangeDetection()) {
    return false;
  }
  TCursorReadScope read(*this);
  // Each record is fetched as a move onto it would fetch it, the read-ahead
  // counting the visible run from it; the cursor stands where it stood
  // afterwards.
  const int32_t standing = record_number_;
  const auto restore = [&] { record_number_ = standing; };
  try {
    bool going = true;
    for (int32_t number = visible_->NextSet(0); going && number != 0;
         number = visible_->NextSet(number)) {
      record_number_ = number;
      TRecord* record = FetchForMove(data, number, true, true);
      try {
        going = visit(context, number, record->Bytes());
      } catch (...) {
        data.ReleaseRecord(record);
        throw;
      }
      data.ReleaseRecord(record);
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return true;
}

int32_t TDataCursor::GetPriorRecord(uint8_t* image) {
  TCursorReadScope read(*this);
  if (bof_ && eof_) {
    if (!PositionEdge(-1)) return CopyOut(kErrBeginningOfFile, image);
  } else if (eof_) {
    if (!PositionEdge(-1)) SetBof();
  } else if (!bof_) {
    Step(-1);
  }
  return CopyOut(bof_ ? kErrBeginningOfFile : 0, image);
}

int32_t TDataCursor::GetCurrentRecord(uint8_t* image) {
  TCursorReadScope read(*this);
  if (bof_ && eof_) return CopyOut(kErrNoCurrentRecord, image);
  if (bof_) return CopyOut(kErrBeginningOfFile, image);
  if (eof_) return CopyOut(kErrEndOfFile, image);
  ReadCurrent();
  return CopyOut(0, image);
}

void TDataCursor::SetRecNo(int32_t number) {
  TCursorReadScope read(*this);
  if (NaturalOrderInForce()) {
    int32_t record = 0;
    int32_t sequence = 0;
    if (number >= 1 && visible_->FindNextSet(record, number, sequence)) {
      StandOnNumber(record, sequence);
    } else if (number < 1) {
      PositionEdge(1) ? SetBof() : SetOff();
    } else {
      PositionEdge(-1) ? SetEof() : SetOff();
    }
    return;
  }
  if (RangeEmpty()) {
    SetOff();
    return;
  }
  const int64_t ordinal = static_cast<int64_t>(range_start_) + number - 1;
  if (number < 1) {
    PositionEdge(1) ? SetBof() : SetOff();
  } else if (ordinal > range_end_) {
    PositionEdge(-1) ? SetEof() : SetOff();
  } else if (!bitmap_view_) {
    StandOnOrdinal(ordinal);
  } else {
    // The N-th key of the range, or the nearest visible one.
    if (!StandOnVisible(ordinal - 1, 1) && !StandOnVisible(ordinal, -1)) SetOff();
  }
}

int32_t TDataCursor::GetRecNo() {
  TCursorReadScope read(*this);
  return RecNoOfLastMove();
}

int32_t TDataCursor::RecNoOfLastMove() {
  // Before the first or after the last record the cursor still counts the
  // record it stands next to; only off the records is there none.
  if (position_ == 0) return 0;
  if (NaturalOrderInForce()) return CountedPosition();
  return position_ - range_start_ + 1;
}

int32_t TDataCursor::GetRecordCount() {
  TCursorReadScope read(*this);
  if (bitmap_view_) return filtered_count_;
  if (NaturalOrderInForce()) return table_->IndexFile().LiveCount();
  return RangeEmpty() ? 0 : range_end_ - range_start_ + 1;
}

int32_t TDataCursor::GetTotalRecordCount() {
  TCursorReadScope read(*this);
  return table_->IndexFile().LiveCount();
}

int32_t TDataCursor::CountVisibleRun(int32_t limit, int direction) {
  if (!NaturalOrderInForce()) return 1;
  int32_t count = 0;
  for (int32_t n = record_number_; count < limit && visible_->IsSet(n); n += direction) ++count;
  return count;
}

}  // namespace jw
