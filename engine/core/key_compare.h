// The order of an index's keys: TIndexCursor is what the index file and its
// pages ask of the cursor that walks them (the comparison, the index slot,
// the change check), and TIndexKeyOrder is the comparison itself, built from
// an index's descriptor, its segments' fields and the table's locale.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/core/index_file_format.h"

namespace jw {

class TDataFile;

class TIndexCursor {
 public:
  virtual ~TIndexCursor() = default;
  // The slot (0..31) of the cursor's current index.
  virtual int32_t IndexSlot() const = 0;
  // -1, 0 or 1 as key a sorts before, with or after key b over length bytes.
  virtual int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const = 0;
  // Whether another process changed the table's files since the cursor last looked.
  virtual bool TableFilesChanged() = 0;
  // Whether CompareKeys orders as memcmp does: a page's search then
  // compares its keys without a call per key.
  virtual bool BytewiseKeys() const { return false; }
};

// One key segment: the field's type, its physical length and whether the
// segment sorts descending on its own.
struct TKeySegment {
  uint8_t Type = 0;
  int32_t PhysicalLength = 0;
  bool Descending = false;
};

class TIndexKeyOrder {
 public:
  TIndexKeyOrder() = default;
  TIndexKeyOrder(int32_t slot, bool descending, std::vector<TKeySegment> segments,
                 uint16_t language_id, uint16_t sort_id);
  // The order of the index in slot of a table with these fields and locale;
  // a segment naming no field raises 10023.
  static TIndexKeyOrder ForIndex(const IndexDescriptor& index, int32_t slot,
                                 const TDataFile& data_file);
  // The same from a table's fields as a lookup by field number (nullptr when
  // no field has it) and its locale, for readers of the bytes without an open
  // data file.
  using TFieldByNumber = std::function<const FieldDescriptor*(int32_t number)>;
  static TIndexKeyOrder ForIndex(const IndexDescriptor& index, int32_t slot,
                                 const TFieldByNumber& field_by_number, int32_t language_id,
                                 int32_t sort_id, const std::string& table_name);

  // Language 0 and the status index compare bytes; other languages compare
  // each string segment by the locale's string sort. Bytes behind the
  // segments (the record id) compare bytewise.
  int Compare(const uint8_t* a, const uint8_t* b, int32_t length) const;
  // Whether Compare is memcmp's order: the status index, and language 0
  // ascending (its descending segments are stored inverted).
  bool Bytewise() const { return slot_ == kStatusSlot || (language_id_ == 0 && !descending_); }

 private:
  int32_t slot_ = 0;
  bool descending_ = false;
  std::vector<TKeySegment> segments_;
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;
};

}  // namespace jw
