#include "engine/core/key_compare.h"

#include <algorithm>
#include <utility>

#include "engine/core/data_file.h"
#include "engine/support/field_types.h"
#include "engine/support/language_settings.h"

namespace jw {
namespace {

int Reversed(int result, bool descending) {
  return descending ? -result : result;
}

}  // namespace

TIndexKeyOrder::TIndexKeyOrder(int32_t slot, bool descending, std::vector<TKeySegment> segments,
                               uint16_t language_id, uint16_t sort_id)
    : slot_(slot),
      descending_(descending),
      segments_(std::move(segments)),
      language_id_(language_id),
      sort_id_(sort_id) {}

TIndexKeyOrder TIndexKeyOrder::ForIndex(const IndexDescriptor& index, int32_t slot,
                                        const TDataFile& data_file) {
  return ForIndex(
      index, slot, [&](int32_t number) { return data_file.FieldDescByNumber(number); },
      data_file.LanguageId(), data_file.SortId(), data_file.Name());
}

TIndexKeyOrder TIndexKeyOrder::ForIndex(const IndexDescriptor& index, int32_t slot,
                                        const TFieldByNumber& field_by_number, int32_t language_id,
                                        int32_t sort_id, const std::string& table_name) {
  std::vector<TKeySegment> segments;
  if (slot != kStatusSlot) {
    const int32_t count = std::min<int32_t>(index.SegmentCount, kMaxSegments);
    for (int32_t i = 0; i < count; ++i) {
      const FieldDescriptor* field = field_by_number(index.FieldNumbers[i]);
      if (field == nullptr) {
        RaiseEngineError(kErrInvalidIndexField, table_name, std::to_string(index.FieldNumbers[i]),
                         index.Name);
      }
      segments.push_back({field->Type, field->PhysicalLength, index.SegmentDescending[i] != 0});
    }
  }
  return TIndexKeyOrder(slot, index.Descending != 0, std::move(segments),
                        static_cast<uint16_t>(language_id), static_cast<uint16_t>(sort_id));
}

int TIndexKeyOrder::Compare(const uint8_t* a, const uint8_t* b, int32_t length) const {
  const auto n = static_cast<uint16_t>(std::max(length, 0));
  if (slot_ == kStatusSlot) return CompareBinary(a, b, n, false);
  if (language_id_ == 0) return CompareBinary(a, b, n, descending_);
  int32_t offset = 0;
  for (const TKeySegment& segment : segments_) {
    const int32_t left = length - offset;
    if (left <= 0) return 0;
    const bool descending = descending_ || segment.Descending;
    int result;
    if (segment.Type == kFldString) {
      result = CompareBinary(a + offset, b + offset, 1, descending);
      if (result == 0 && left > 1) {
        const int32_t chars = std::min(segment.PhysicalLength, left - 1);
        result = Reversed(CompareLocaleStrings(
                              language_id_, sort_id_, reinterpret_cast<const char*>(a + offset + 1),
                              false, chars, reinterpret_cast<const char*>(b + offset + 1)),
                          descending);
      }
    } else {
      const int32_t bytes = std::min(segment.PhysicalLength + 1, left);
      result = CompareBinary(a + offset, b + offset, static_cast<uint16_t>(bytes), descending);
    }
    if (result != 0) return result;
    offset += segment.PhysicalLength + 1;
  }
  if (offset >= length) return 0;
  return CompareBinary(a + offset, b + offset, static_cast<uint16_t>(length - offset), descending_);
}

}  // namespace jw
