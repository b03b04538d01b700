// Test tools for the index file: a cursor whose key order is an index's
// own, and a table of a data file and an index file in a scratch folder,
// with the key images the tree tests insert.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/index_file.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {

class KeyCursor : public TIndexCursor {
 public:
  int32_t IndexSlot() const override { return slot; }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override {
    return order.Compare(a, b, length);
  }
  bool TableFilesChanged() override {
    ++change_checks;
    return changed || change_checks == change_at;
  }

  int32_t slot = 0;
  TIndexKeyOrder order;
  bool changed = false;
  int32_t change_checks = 0;
  // The 1-based check that reports a change once; 0 for none.
  int32_t change_at = 0;
};

using TestIndexFile = Instrumented<TIndexFile>;

// A data file with the given fields and an index file beside it, both open.
class IndexTable {
 public:
  explicit IndexTable(const std::vector<FieldDescriptor>& fields, uint16_t language_id = 0,
                      bool encrypted = false);
  // Writes pages and headers back and reopens both files.
  void Reopen();
  // Writes pages and both headers back, leaving the files open.
  void WriteBack();
  // Points the cursor at the slot's index with its own order.
  KeyCursor& Use(int32_t slot);
  std::string IndexPath() const { return dir.Path("T.IDX"); }
  std::string DataPath() const { return dir.Path("T.DAT"); }

  ScratchDir dir;
  FakeTable table;
  std::unique_ptr<TestDataFile> data;
  std::unique_ptr<TestIndexFile> index;
  KeyCursor cursor;
};

// An index over the given field numbers.
IndexDescriptor Index(const std::string& name, std::vector<int16_t> fields, bool unique = true,
                      uint8_t compression = 0, bool descending = false);

// A key image of key_length bytes for value: the null byte 1, a run of one
// of three pattern bytes (so neighbours share long prefixes), the value
// big-endian and zeros up to image_length; a non-unique key (key_length >
// image_length) ends in the record id's sortable image.
std::vector<uint8_t> MakeKey(uint32_t value, int32_t image_length, int32_t key_length,
                             int32_t record_id);

}  // namespace jw::test
