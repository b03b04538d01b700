// The parse-tree nodes of an SQL statement below its TDataQuery: the tables a
// statement names, its select-list items, the target columns and values of
// INSERT and UPDATE, the ORDER BY and GROUP BY items, the column and index
// definitions of the data definition statements, and the table options.
// Name resolution fills the fields marked as bound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/expr/expression_tokens.h"

namespace jw {

class TDataDirectory;
class TDataQuery;

// Aggregate kinds of a select-list item.
constexpr uint8_t kAggregateNone = 0;
constexpr uint8_t kAggregateSum = 1;
constexpr uint8_t kAggregateMin = 2;
constexpr uint8_t kAggregateMax = 3;
constexpr uint8_t kAggregateAvg = 4;
constexpr uint8_t kAggregateCount = 5;

// The aggregate kind of an expression node; kAggregateNone for any node
// that is not SUM, MIN, MAX, AVG or COUNT.
uint8_t AggregateKind(const TExpToken& node);

// The directory path of a table named with MEMORY.
inline constexpr const char* kMemoryDirectory = "Memory";

// A table named in FROM, JOIN, UPDATE, DELETE FROM or INSERT INTO, or the
// target of a data definition statement.
struct TSourceTable {
  TDataQuery* Query = nullptr;
  bool Memory = false;
  int16_t Level = 0;          // place in the loop order, set by join planning
  int16_t Number = 0;         // 1 for the first table the query names, in text order
  std::string DirectoryPath;  // "Memory", the path written with the name, or the statement's
  std::string TableName;
  std::string CorrelationName;
  // Bound: the directory the table was opened in (one reference of the
  // session's), the table's cursor, and a record buffer of its record size.
  TDataDirectory* Directory = nullptr;
  std::unique_ptr<TDataCursor> Cursor;
  std::vector<uint8_t> RecordBuffer;

  TSourceTable() = default;
  // Closes the cursor before its directory's reference goes.
  ~TSourceTable();
  TSourceTable(const TSourceTable&) = delete;
  TSourceTable& operator=(const TSourceTable&) = delete;
};

// One select-list item.
struct TResultField {
  TDataQuery* Query = nullptr;
  TSourceTable* Source = nullptr;  // bound
  std::string ColumnName;
  int16_t ColumnNumber = 0;  // bound
  std::string CorrelationName;
  std::string ResultName;
  bool NameIsDefault = true;      // until AS or a bare alias names the item
  int16_t ResultFieldNumber = 0;  // bound
  bool Computed = false;          // an expression rather than a plain column
  uint8_t Aggregate = kAggregateNone;
  bool CountAll = false;       // COUNT(*), bound to the first column of its table
  std::string ExpressionText;  // the item's source text
  TTokenTree Expression;
  // The bound type of the item's expression.
  uint8_t Type = 0;
  uint8_t Subtype = 0;
  int32_t Size = 0;
  uint8_t Scale = 0;
};

// A target column of INSERT or UPDATE; "*" when INSERT names no columns.
struct TUpdateField {
  TDataQuery* Query = nullptr;
  TSourceTable* Source = nullptr;  // bound
  std::string ColumnName;
  int16_t ColumnNumber = 0;  // bound
  std::string CorrelationName;
  TTokenTree Expression;
  // The bound column's type, subtype, physical length and scale.
  uint8_t Type = 0;
  uint8_t Subtype = 0;
  int32_t Size = 0;
  uint8_t Scale = 0;
};

// A value of INSERT VALUES or UPDATE SET.
struct TUpdateValue {
  TDataQuery* Query = nullptr;
  std::string SourceText;
  TTokenTree Expression;
};

// An ORDER BY or GROUP BY item, given by name or by its 1-based place in the
// select list (ColumnNumber 0 when given by name).
struct TGroupByField {
  TDataQuery* Query = nullptr;
  std::string ColumnName;
  std::string CorrelationName;
  int16_t ColumnNumber = 0;
};

struct TOrderByField : TGroupByField {
  bool Descending = false;
};

// A column definition of CREATE TABLE, or a column change of ALTER TABLE.
struct TCreateField {
  TDataQuery* Query = nullptr;
  std::string ColumnName;
  std::string NewColumnName;  // REDEFINE with a second definition
  int16_t Position = 0;       // 1-based place in CREATE TABLE
  uint8_t Type = 0;           // engine field type; 0 when REDEFINE or DROP gives none
  uint8_t Subtype = 0;
  uint8_t Size = 0;  // string or bytes length
  uint8_t Scale = 0;
  std::string Description;
  bool DescriptionGiven = false;
  bool Required = false;  // NOT NULL
  bool RequiredGiven = false;
  uint8_t CharCase = kCaseKeep;  // the field descriptor's character case
  bool CharCaseGiven = false;
  std::string Minimum;
  bool MinimumGiven = false;
  std::string Maximum;
  bool MaximumGiven = false;
  std::string Default;
  bool DefaultGiven = false;
  bool Add = false;
  bool Redefine = false;
  bool Drop = false;
  int16_t At = 0;  // ALTER TABLE ... AT n
  bool AtGiven = false;
};

// Index compression.
constexpr uint8_t kCompressNone = 0;
constexpr uint8_t kCompressDupByte = 1;
constexpr uint8_t kCompressTrailByte = 2;
constexpr uint8_t kCompressFull = 3;

// An index holds at most this many columns.
constexpr size_t kMaxIndexColumns = 16;

// A primary key clause, a CREATE INDEX, or a primary key change of ALTER TABLE.
struct TCreateIndex {
  TDataQuery* Query = nullptr;
  std::string Name;  // empty for the primary key
  std::vector<std::string> ColumnNames;
  bool Descending = false;
  bool Unique = false;
  bool CaseInsensitive = false;
  uint8_t Compression = kCompressNone;
  bool Add = false;
  bool Redefine = false;
  bool Drop = false;
};

// The options of a table that CREATE TABLE, ALTER TABLE or SELECT INTO
// makes, and of a data change; each given flag tells ALTER TABLE which
// values to change.
struct TTableOptions {
  bool Encrypted = false;
  std::string Password;
  uint16_t LanguageId = 0;
  uint16_t SortId = 0;
  // Kept as written, so that a value beyond 16 bits is refused when the
  // table is made rather than cut to one that passes.
  int32_t BlobBlockSize = 512;
  std::string Description;
  int32_t UserMajorVersion = 1;
  int32_t UserMinorVersion = 0;
  int32_t LastAutoInc = -1;  // -1 leaves the table's value unchanged
  bool NoAutoInc = false;
  bool NoBackup = false;
  int32_t CommitInterval = 0;
  bool EncryptionGiven = false;
  bool LanguageGiven = false;
  bool SortGiven = false;
  bool BlobBlockSizeGiven = false;
  bool DescriptionGiven = false;
  bool UserMajorVersionGiven = false;
  bool UserMinorVersionGiven = false;
  bool LastAutoIncGiven = false;
  bool CommitIntervalGiven = false;
};

}  // namespace jw
