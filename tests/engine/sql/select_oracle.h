// Helpers of the SELECT tests: a scratch database of tables with integer,
// string and memo columns filled from rows of text, the same tables in an
// in-memory SQLite database, and each side's result of a statement as rows
// of text ("NULL" for NULL, numbers printed alike).
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/blob_buffer.h"
#include "engine/expr/expression_types.h"
#include "engine/sql/blob_values.h"
#include "engine/sql/query_statement.h"
#include "engine/support/value_conversions.h"
#include "tests/engine/sql/sql_test_util.h"

namespace jw::test_support {

using TextRow = std::vector<std::string>;
using TextRows = std::vector<TextRow>;

// Random counts of the long runs: JW_LONG_TESTS=1 multiplies them.
inline int Scaled(int count) {
  const char* long_tests = std::getenv("JW_LONG_TESTS");
  return long_tests != nullptr && std::string(long_tests) == "1" ? count * 20 : count;
}

inline std::string NumberText(double number) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", number == 0 ? 0.0 : number);
  return text;
}

// A memo's text, read whole through the cursor.
inline std::string MemoText(TDataCursor& cursor, int32_t field, uint8_t* image) {
  constexpr uint8_t kOracleOwner = 3;
  int32_t size = 0;
  int32_t read = 0;
  if (cursor.OpenBlob(field, image, kOracleOwner, false, kBlobReadMode) != 0 ||
      cursor.GetBlobSize(field, image, false, size) != 0) {
    return "<unreadable BLOB>";
  }
  std::string text(static_cast<size_t>(size), '\0');
  const int32_t code = cursor.ReadBlob(field, image, false, read, size, text.data(), 0);
  cursor.CloseBlob(field, image, kOracleOwner, false);
  return code == 0 ? text : "<unreadable BLOB>";
}

// A value as text of a field image: integers and floats alike.
inline std::string FieldText(TDataCursor& cursor, int32_t field, uint8_t* image) {
  const FieldDescriptor& desc = cursor.GetFieldDesc(field);
  uint8_t value[kMaxFieldSize + 8] = {};
  bool null = false;
  cursor.GetFieldData(field, image, null, value);
  if (null) return "NULL";
  switch (desc.Type) {
    case kFldBlob:
      return MemoText(cursor, field, image);
    case kFldString:
      return reinterpret_cast<const char*>(value);
    case kFldSmallInt:
      return NumberText(*reinterpret_cast<const int16_t*>(value));
    case kFldWord:
      return NumberText(*reinterpret_cast<const uint16_t*>(value));
    case kFldInteger:
      return NumberText(*reinterpret_cast<const int32_t*>(value));
    case kFldFloat:
      return NumberText(*reinterpret_cast<const double*>(value));
    case kFldBoolean:
      return value[0] != 0 ? "1" : "0";
    case kFldBcd:
      return NumberText(BcdToFloat(*reinterpret_cast<const int64_t*>(value)));
    default:
      return "?";
  }
}

inline TextRows CursorRows(TDataCursor& cursor) {
  TextRows rows;
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    TextRow row;
    for (int32_t f = 1; f <= cursor.GetCursorFieldCount(); ++f) {
      row.push_back(FieldText(cursor, f, image.data()));
    }
    rows.push_back(row);
  }
  return rows;
}

// One table of the scratch database: integer, string(10) and memo columns.
struct OracleTable {
  std::string name;
  // kFldInteger, kFldString or kFldBlob (a memo)
  std::vector<std::pair<std::string, uint8_t>> columns;
  TextRows rows;
};

// Both databases over the same tables.
class SelectOracle {
 public:
  SelectOracle() {
    if (sqlite3_open(":memory:", &lite_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  }
  ~SelectOracle() { sqlite3_close(lite_); }
  SelectOracle(const SelectOracle&) = delete;
  SelectOracle& operator=(const SelectOracle&) = delete;

  void Add(const OracleTable& table) {
    std::vector<FieldDescriptor> fields;
    std::string ddl = "CREATE TABLE " + table.name + " (";
    for (const auto& [name, type] : table.columns) {
      fields.push_back(Column(name, type, type == kFldString ? 10 : 0));
      if (type == kFldBlob) fields.back().SubType = kSubTypeTextBlob;
      ddl += (fields.size() > 1 ? ", " : "") + name + (type == kFldInteger ? " INTEGER" : " TEXT");
    }
    Exec(ddl + ")");
    database_.Create(table.name, fields);
    TDataCursor cursor(database_.database.directory);
    cursor.SetTableName(table.name);
    cursor.Open();
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    for (const TextRow& row : table.rows) {
      cursor.ClearRecord(image.data());
      std::string values;
      for (size_t c = 0; c < row.size(); ++c) {
        const bool null = row[c] == "NULL";
        const bool text = table.columns[c].second != kFldInteger;
        values += (c > 0 ? ", " : "") + (null || !text ? row[c] : "'" + row[c] + "'");
        if (null) continue;
        const auto field = static_cast<int32_t>(c + 1);
        if (table.columns[c].second == kFldBlob) {
          cursor.OpenBlob(field, image.data(), kStatementBlobOwner, false, kBlobWriteMode);
          cursor.WriteBlob(field, image.data(), false, static_cast<int32_t>(row[c].size()),
                           row[c].data(), 0);
          continue;
        }
        const int32_t number = text ? 0 : std::stoi(row[c]);
        cursor.SetTableFieldData(field, image.data(),
                                 text ? static_cast<const void*>(row[c].c_str()) : &number);
      }
      cursor.InsertRecord(image.data(), false);
      Exec("INSERT INTO " + table.name + " VALUES (" + values + ")");
    }
    cursor.Close(false);
  }

  // An ascending secondary index on the table's column.
  void AddIndex(const std::string& table, int16_t field, bool unique = false) {
    TDataCursor cursor(database_.database.directory);
    cursor.SetTableName(table);
    cursor.SetExclusive(true);
    cursor.Open();
    IndexDescriptor index;
    index.Name = table + "_" + std::to_string(field);
    index.SegmentCount = 1;
    index.FieldNumbers[0] = field;
    index.Unique = unique ? 1 : 0;
    cursor.AddIndex(index);
    cursor.Close(false);
  }

  TextRows Ours(const std::string& sql, bool no_join_optimize = false, bool request_live = false) {
    TQueryStatement statement(database_.database.session, *database_.database.directory);
    statement.SetRequestLive(request_live);
    int32_t consumed = 0;
    statement.Prepare(sql.c_str(), consumed);
    statement.MainQuery()->NoJoinOptimize |= no_join_optimize;
    statement.Execute();
    TextRows rows = CursorRows(*statement.ResultCursor());
    if (static_cast<size_t>(statement.GetRowsAffected()) != rows.size()) {
      throw std::runtime_error("rows affected " + std::to_string(statement.GetRowsAffected()) +
                               " for " + std::to_string(rows.size()) + " rows");
    }
    return rows;
  }

  // The code of the engine error the statement raises (0 when it runs),
  // and its message.
  EngineErrorCode ErrorOf(const std::string& sql, std::string* message = nullptr) {
    try {
      Ours(sql);
    } catch (const EQuireEngineError& e) {
      if (message != nullptr) *message = e.Message();
      return e.Code();
    }
    return 0;
  }

  TextRows Theirs(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(lite_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(lite_));
    }
    TextRows rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      TextRow row;
      for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        switch (sqlite3_column_type(statement, c)) {
          case SQLITE_NULL:
            row.push_back("NULL");
            break;
          case SQLITE_INTEGER:
          case SQLITE_FLOAT:
            row.push_back(NumberText(sqlite3_column_double(statement, c)));
            break;
          default:
            row.push_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)));
        }
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
  }

  ResolveDatabase& Database() { return database_; }

 private:
  void Exec(const std::string& sql) {
    if (sqlite3_exec(lite_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(lite_));
    }
  }

  ResolveDatabase database_;
  sqlite3* lite_ = nullptr;
};

}  // namespace jw::test_support
