// TDataCursor's keys: key images of the current index, their order and
// their partial forms, the key search under seek and bookmarks, and ranges.
#include <array>
#include <cstring>

#include "engine/core/btree.h"
#include "engine/core/cursor_read_scope.h"
#include "engine/core/record_keys.h"

namespace jw {
const IndexDescriptor& TDataCursor::CurrentIndexDesc() const {
  return table_->IndexFile().IndexDesc(slot_);
}

const FieldDescriptor& TDataCursor::SegmentField(int32_t segment) const {
  const int16_t number = CurrentIndexDesc().FieldNumbers[static_cast<size_t>(segment)];
  const FieldDescriptor* field = table_->DataFile().FieldDescByNumber(number);
  if (field == nullptr) Raise(kErrInvalidIndexField, std::to_string(number), index_name_);
  return *field;
}

void TDataCursor::BuildKey(const uint8_t* image, uint8_t* key) const {
  BuildRecordKey(table_->DataFile(), CurrentIndexDesc(), slot_, image, key);
}

int TDataCursor::CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const {
  return order_.Compare(a, b, length);
}

// Whether the key byte at position holds a character of a string segment
// that the locale orders (not its null byte).
bool TDataCursor::InStringSegment(int32_t position) const {
  if (language_id_ == 0 || slot_ == kStatusSlot) return false;
  const IndexDescriptor& index = CurrentIndexDesc();
  int32_t offset = 0;
  for (int32_t s = 0; s < index.SegmentCount; ++s) {
    const FieldDescriptor& field = SegmentField(s);
    if (position < offset + field.PhysicalLength + 1) {
      return field.Type == kFldString && position > offset;
    }
    offset += field.PhysicalLength + 1;
  }
  return false;
}

void TDataCursor::FillKeyLow(uint8_t* key, int32_t position) const {
  for (int32_t i = std::max(position, 0); i < key_length_; ++i) {
    key[i] = InStringSegment(i) ? order_map_[0] : 0x00;
  }
}

void TDataCursor::FillKeyHigh(uint8_t* key, int32_t position) const {
  for (int32_t i = std::max(position, 0); i < key_length_; ++i) {
    key[i] = InStringSegment(i) ? order_map_[255] : 0xFF;
  }
}

void TDataCursor::KeyLowest(uint8_t* key) const {
  FillKeyLow(key, 0);
}

void TDataCursor::KeyHighest(uint8_t* key) const {
  FillKeyHigh(key, 0);
  if (slot_ == kStatusSlot) return;
  const IndexDescriptor& index = CurrentIndexDesc();
  int32_t offset = 0;
  for (int32_t s = 0; s < index.SegmentCount; ++s) {
    key[offset] = 1;
    offset += SegmentField(s).PhysicalLength + 1;
  }
}

void TDataCursor::IncrementKey(uint8_t* key, int32_t length) const {
  for (int32_t i = std::min(length, key_length_) - 1; i >= 0; --i) {
    if (InStringSegment(i)) {
      const auto* at = std::find(std::begin(order_map_), std::end(order_map_), key[i]);
      if (at < std::end(order_map_) - 1) {
        key[i] = *(at + 1);
        return;
      }
      key[i] = order_map_[0];
    } else if (key[i] != 0xFF) {
      ++key[i];
      return;
    } else {
      key[i] = 0x00;
    }
  }
  std::memset(key, 0xFF, static_cast<size_t>(std::min(length, key_length_)));
}

void TDataCursor::DecrementKey(uint8_t* key, int32_t length) const {
  for (int32_t i = std::min(length, key_length_) - 1; i >= 0; --i) {
    if (InStringSegment(i)) {
      const auto* at = std::find(std::begin(order_map_), std::end(order_map_), key[i]);
      if (at > std::begin(order_map_) && at < std::end(order_map_)) {
        key[i] = *(at - 1);
        return;
      }
      key[i] = order_map_[255];
    } else if (key[i] != 0x00) {
      --key[i];
      return;
    } else {
      key[i] = 0xFF;
    }
  }
  std::memset(key, 0x00, static_cast<size_t>(std::min(length, key_length_)));
}

int32_t TDataCursor::PrefixLength(int32_t field_count, int32_t partial_length) const {
  int32_t length = 0;
  for (int32_t s = 0; s < field_count; ++s) length += SegmentField(s).PhysicalLength + 1;
  if (partial_length > 0) length += partial_length + 1;
  return std::min(length, key_length_);
}

void TDataCursor::MakeKey(bool key_is_image, const uint8_t* source, uint8_t* key) const {
  if (key_is_image) {
    std::memcpy(key, source, static_cast<size_t>(key_length_));
  } else {
    BuildKey(source, key);
  }
}

void TDataCursor::KeepEndFlags(bool was_bof, bool was_eof) {
  if (was_bof && was_eof) {
    SetOff();
  } else if (was_bof) {
    SetBof();
  } else if (was_eof) {
    SetEof();
  }
}

bool TDataCursor::SearchKey(const uint8_t* key, bool nearest, bool keep_end_flags) {
  const bool was_bof = bof_;
  const bool was_eof = eof_;
  const auto done = [&](bool exact) {
    if (keep_end_flags) KeepEndFlags(was_bof, was_eof);
    return exact;
  };
  if (RangeEmpty()) {
    SetOff();
    return done(false);
  }
  const uint8_t* start = RangeStartKey();
  const uint8_t* end = RangeEndKey();
  if (start != nullptr && CompareKeys(key, start, key_length_) < 0) {
    if (!PositionEdge(1)) SetOff();
    return done(false);
  }
  if (end != nullptr && CompareKeys(key, end, key_length_) > 0) {
    if (!PositionEdge(-1)) SetOff();
    return done(false);
  }
  TBTree tree(table_->IndexFile(), *this);
  // One walk finds the key and where it stands, from the leaf the cursor
  // stands on when the searches keep landing there.
  TLeafSpot spot = search_from_spot_ ? spot_ : TLeafSpot();
  std::array<uint8_t, kMaxKeyLength> spot_key;
  // Searches moving up the leaf by even steps (keys sought in ascending
  // order) ready the records of the searches to come.
  std::array<int32_t, 3> ahead{};
  const TKeyPosition at =
      tree.Navigate(key, true, &spot, spot_key.data(), ahead, kRecordPrefetchDistance);
  PrefetchRecords(ahead);
  search_from_spot_ = spot.Ordinal != 0 && spot.File == spot_.File && spot.Slot == spot_.Slot &&
                      spot.Page == spot_.Page;
  // The first equal key; in the bitmap view it counts only when visible.
  if (at.Found && (!bitmap_view_ || visible_->IsSet(spot.RecordNumber))) {
    StandOnSpot(spot, spot_key.data());
    return done(true);
  }
  if (!nearest) return done(false);
  if (bitmap_view_) {
    if (!StandOnVisible(at.Ordinal - 1, 1) && !StandOnVisible(at.Ordinal, -1)) SetOff();
  } else if (spot.Ordinal != 0 && at.Ordinal <= range_end_) {
    StandOnSpot(spot, spot_key.data());
  } else if (PositionEdge(-1)) {
    // Every key of the range sorts below the one searched for.
    SetEof();
  }
  return done(false);
}

bool TDataCursor::SeekKey(bool key_is_image, const uint8_t* key, uint8_t* record,
                          int32_t partial_length, bool nearest, int32_t field_count) {
  if (NaturalOrderInForce()) return false;
  TCursorReadScope read(*this);
  std::array<uint8_t, kMaxKeyLength> search;
  MakeKey(key_is_image, key, search.data());
  const IndexDescriptor& index = CurrentIndexDesc();
  const bool unique = index.Unique != 0;
  const bool partial = (field_count >= 1 && field_count < index.SegmentCount) || !unique ||
                       (field_count == 0 && partial_length > 0);
  bool matched;
  if (partial) {
    const int32_t segments =
        !unique && field_count == 0 && partial_length == 0 ? index.SegmentCount : field_count;
    const int32_t prefix = PrefixLength(segments, partial_length);
    if (index.Descending != 0) {
      FillKeyHigh(search.data(), prefix);
    } else {
      FillKeyLow(search.data(), prefix);
    }
    SearchKey(search.data(), true, false);
    matched = !RangeEmpty() && OnRecord() && CompareKeys(key_.data(), search.data(), prefix) == 0;
  } else {
    matched = SearchKey(search.data(), nearest, false);
  }
  if (eof_ && !bof_ && PositionEdge(-1)) {
    // A seek beyond the last key lands on the range's last record.
    bof_ = eof_ = false;
  }
  if (record != nullptr) CopyOut(OnRecord() ? 0 : kErrNoCurrentRecord, record);
  return matched;
}

const uint8_t* TDataCursor::RangeStartKey() const {
  return range_active_ && range_has_start_ ? range_start_key_.data() : nullptr;
}

const uint8_t* TDataCursor::RangeEndKey() const {
  return range_active_ && range_has_end_ ? range_end_key_.data() : nullptr;
}

void TDataCursor::SetRange(bool key_is_image, const uint8_t* start, int32_t start_fields,
                           const uint8_t* end, int32_t end_fields) {
  if (NaturalOrderInForce()) return;
  TCursorReadScope read(*this);
  const IndexDescriptor& index = CurrentIndexDesc();
  const bool descending = index.Descending != 0;
  // A bound of fewer fields (every bound of a non-unique index) covers
  // every key that starts with it.
  const auto make_bound = [&](const uint8_t* source, int32_t fields, bool low,
                              std::vector<uint8_t>& bound) {
    bound.assign(static_cast<size_t>(key_length_), 0);
    MakeKey(key_is_image, source, bound.data());
    if ((fields >= 1 && fields < index.SegmentCount) || index.Unique == 0) {
      const int32_t prefix = PrefixLength(fields == 0 ? index.SegmentCount : fields, 0);
      if (low != descending) {
        FillKeyLow(bound.data(), prefix);
      } else {
        FillKeyHigh(bound.data(), prefix);
      }
    }
  };
  range_has_start_ = start != nullptr;
  range_has_end_ = end != nullptr;
  if (range_has_start_) make_bound(start, start_fields, true, range_start_key_);
  if (range_has_end_) make_bound(end, end_fields, false, range_end_key_);
  range_active_ = true;
  Resynchronise();
}

void TDataCursor::CancelRange() {
  if (NaturalOrderInForce()) return;
  TCursorReadScope read(*this);
  std::fill(range_start_key_.begin(), range_start_key_.end(), 0x00);
  std::fill(range_end_key_.begin(), range_end_key_.end(), 0xFF);
  range_active_ = range_has_start_ = range_has_end_ = false;
  Resynchronise();
}

}  // namespace jw
