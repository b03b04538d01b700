// Test tools for the storage core's locks between processes: the record work
// a cursor does on a table of the small definition (primary index on VALUE),
// taking the table's locks as a cursor takes them, and a directory stand-in
// with the session's lock settings.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/core/data_table.h"

namespace jw::test {

class TestDirectory : public TTableDirectory {
 public:
  explicit TestDirectory(std::string path) : path_(std::move(path)) {}
  std::string Path() const override { return path_; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  int32_t LockRetryCount() const override { return lock_retry_count; }
  int32_t LockWaitTimeMs() const override { return lock_wait_ms; }

  int32_t lock_retry_count = 0;
  int32_t lock_wait_ms = 1;

 private:
  std::string path_;
};

// The small table's definition: ID (auto-increment), NAME, VALUE and, when
// asked, the BLOB field MEMO in blocks of 64 bytes; the primary index on
// VALUE, so values are unique.
TTableDefinition SmallTableDefinition(bool with_blobs = false);
// Creates the small table in the directory's folder and closes it.
void CreateSmallTable(TTableDirectory& directory, const std::string& name, bool with_blobs = false);
// The table, open for one cursor.
std::unique_ptr<TDataTable> OpenSmallTable(TTableDirectory& directory, const std::string& name,
                                           bool exclusive = false);

// A record with its primary key, as a cursor's insert leaves them in the
// caches, without locks or write-back; its number.
int32_t AddSmallRecord(TDataTable& table, int32_t value);

class TableOps {
 public:
  explicit TableOps(TDataTable& table) : table_(table) {}

  // A new record; its number.
  int32_t Insert(int32_t value);
  // Changes the record's value from expected to value: 8708 when the record
  // holds another value by now, 8710 when it is free or out of range.
  void Edit(int32_t number, int32_t expected, int32_t value);
  void Delete(int32_t number, int32_t expected);
  // The record's value; nothing for a free record or one out of range.
  std::optional<int32_t> Value(int32_t number);
  // Every live record: number to value.
  std::map<int32_t, int32_t> Live();

 private:
  // The record's current value under the table's read or write lock.
  std::optional<int32_t> Read(int32_t number);
  // Takes the record's key of old_value out of the index and puts in the
  // key of new_value, when there is one.
  void ChangeKey(int32_t number, int32_t old_value, std::optional<int32_t> new_value);
  // Writes back as a cursor's post does, and lets the write lock go.
  void Finish();
  // The record lock and the check that nobody changed it meanwhile.
  void LockUnchanged(int32_t number, int32_t expected);

  TDataTable& table_;
};

}  // namespace jw::test
