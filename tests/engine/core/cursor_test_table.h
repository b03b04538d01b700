// Test tools for cursors: a session with a database directory in a scratch
// folder, and a loader that fills a table over its data and index files
// (every index and the status index kept in step) and deletes from it, as
// record editing through a cursor will.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_session.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {

class CursorDatabase {
 public:
  CursorDatabase();
  ~CursorDatabase();
  CursorDatabase(const CursorDatabase&) = delete;
  CursorDatabase& operator=(const CursorDatabase&) = delete;

  // Creates the table's files and closes them again.
  void Create(const std::string& name, const TTableDefinition& definition);
  // An open cursor on the table.
  std::unique_ptr<TDataCursor> Open(const std::string& name, bool natural_order = false);

  ScratchDir dir;
  TDataSession session;
  TDataDirectory* directory;
};

class TableLoader {
 public:
  TableLoader(TDataDirectory* directory, const std::string& name);
  // Writes back and lets the table go.
  ~TableLoader();
  TableLoader(const TableLoader&) = delete;
  TableLoader& operator=(const TableLoader&) = delete;

  // A zeroed record image of the table.
  std::vector<uint8_t> Image() const;
  // Stores the image (its record id, or the next one when 0) as a new
  // record with its keys; the record number.
  int32_t Insert(std::vector<uint8_t> image);
  void Delete(int32_t number);
  // Writes everything back under the write lock, as a post does.
  void Flush();
  TDataFile& Data() { return table_->DataFile(); }

 private:
  // Adds (or removes) the record's key in every index but the status index.
  void SetKeys(const uint8_t* image, int32_t number, bool insert);
  void SetKey(int32_t slot, const uint8_t* key, int32_t number, bool insert);

  TDataDirectory* directory_;
  TDataTable* table_ = nullptr;
};

// Field image helpers over a record image of the table's own layout.
void PutString(const TDataFile& data, std::vector<uint8_t>& image, int32_t field,
               const std::string& text);
void PutInt(const TDataFile& data, std::vector<uint8_t>& image, int32_t field, int32_t value);
void PutSmallInt(const TDataFile& data, std::vector<uint8_t>& image, int32_t field, int16_t value);

// (text, integer) of two fields of every record, in the order of the named index.
std::vector<std::pair<std::string, int32_t>> WalkTextAndInt(TDataCursor& cursor,
                                                            const std::string& index,
                                                            int32_t text_field, int32_t int_field);

}  // namespace jw::test
