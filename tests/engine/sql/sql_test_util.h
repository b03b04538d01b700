// Helpers of the SQL tests: a session with the statement directory open, a
// one-line dump of a parsed statement (every query with what its clauses
// set, trees as the expression tests print them), and a Parse that gives the
// dump or the raised error's full text.
#pragma once

#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_session.h"
#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "tests/engine/expr/expression_test_util.h"
#include "tests/support/temp_folder.h"

namespace jw::test_support {

// The directory of tables named without a path.
inline constexpr const char* kStatementDirectory = "/db/";

// A session under the language with the database directory of the path open;
// tables made by SELECT ... INTO without a folder go to that path too, never
// to the working directory.
struct StatementDatabase {
  explicit StatementDatabase(const std::string& path = kStatementDirectory,
                             uint16_t language_id = 0) {
    session.SetLanguageId(language_id);
    session.SetPrivateDir(path);
    directory = session.OpenDirectory("DB", path);
  }
  ~StatementDatabase() { session.CloseDirectory(directory); }
  StatementDatabase(const StatementDatabase&) = delete;
  StatementDatabase& operator=(const StatementDatabase&) = delete;

  TDataSession session;
  TDataDirectory* directory = nullptr;
};

inline FieldDescriptor Column(const std::string& name, uint8_t type, uint8_t size = 0) {
  FieldDescriptor field;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  return field;
}

// A database of tables to resolve statements against, in a scratch folder:
// t (a string 20, b integer, c float, m BLOB, s string 250), u (a integer,
// c string 10, d integer) and w (511 smallint columns c1 .. c511).
struct ResolveDatabase {
  explicit ResolveDatabase(uint16_t language_id = 0) : database(folder.Path(), language_id) {
    Create("t", {Column("a", kFldString, 20), Column("b", kFldInteger), Column("c", kFldFloat),
                 Column("m", kFldBlob), Column("s", kFldString, 250)});
    Create("u", {Column("a", kFldInteger), Column("c", kFldString, 10), Column("d", kFldInteger)});
    std::vector<FieldDescriptor> wide;
    for (int i = 1; i <= 511; ++i) wide.push_back(Column("c" + std::to_string(i), kFldSmallInt));
    Create("w", wide);
  }

  void Create(const std::string& name, std::vector<FieldDescriptor> fields,
              TTableDefinition definition = {}) {
    definition.Fields = std::move(fields);
    definition.Indexes = {IndexDescriptor()};
    TDataTable* table = nullptr;
    if (const int32_t result =
            database.directory->CreateTable(name, definition, false, false, table)) {
      RaiseEngineError(static_cast<EngineErrorCode>(-result), name);
    }
    table->WriteBack(false, true, false, true, true);
    database.directory->CloseTable(table, false);
  }

  TempFolder folder;
  StatementDatabase database;
};

// The integer values of the first field the cursor shows (a live result's
// first result column), read in its current order from the first record on.
inline std::vector<int32_t> FirstFieldIntegers(TDataCursor& cursor) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<int32_t> values;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    int32_t value = 0;
    bool null = false;
    cursor.GetFieldData(1, image.data(), null, &value);
    values.push_back(value);
  }
  return values;
}

inline std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// The join marks of a condition: each marked comparison as kind:text, and the
// number of nodes flagged as part of an ON condition.
inline std::string JoinMarks(const TExpToken* root) {
  std::string kinds;
  int flagged = 0;
  std::vector<const TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  while (!pending.empty()) {
    const TExpToken* node = pending.back();
    pending.pop_back();
    if (node->JoinCondition != 0) ++flagged;
    if (node->JoinKind != 0) kinds += " " + std::to_string(node->JoinKind) + ":" + node->SourceText;
    for (const TExpToken* child : {node->Third, node->Right, node->Left}) {
      if (child != nullptr) pending.push_back(child);
    }
  }
  if (flagged == 0 && kinds.empty()) return std::string();
  return " marks=[" + std::to_string(flagged) + kinds + "]";
}

inline std::string DumpOptions(const TTableOptions& o) {
  std::string out;
  if (o.EncryptionGiven)
    out += " encrypted=" + std::to_string(o.Encrypted) + "/" + Quoted(o.Password);
  if (o.LanguageGiven) out += " language=" + std::to_string(o.LanguageId);
  if (o.SortGiven) out += " sort=" + std::to_string(o.SortId);
  if (o.BlobBlockSizeGiven) out += " blocksize=" + std::to_string(o.BlobBlockSize);
  if (o.DescriptionGiven) out += " description=" + Quoted(o.Description);
  if (o.UserMajorVersionGiven) out += " major=" + std::to_string(o.UserMajorVersion);
  if (o.UserMinorVersionGiven) out += " minor=" + std::to_string(o.UserMinorVersion);
  if (o.LastAutoIncGiven) out += " lastautoinc=" + std::to_string(o.LastAutoInc);
  if (o.NoAutoInc) out += " noautoinc";
  if (o.NoBackup) out += " nobackup";
  if (o.CommitIntervalGiven) out += " commit=" + std::to_string(o.CommitInterval);
  return out;
}

inline std::string DumpQuery(const TDataQuery& q) {
  std::string out = "{kind=" + std::to_string(q.Kind);
  if (q.SubSelect) out += " sub";
  if (q.RequestLive) out += " live";
  const std::pair<bool, const char*> flags[] = {{q.Distinct, "distinct"},
                                                {q.HasAggregates, "aggregates"},
                                                {q.HasAvg, "avg"},
                                                {q.HasComputed, "computed"},
                                                {q.HasJoins, "joins"},
                                                {q.NoJoinOptimize, "nojoinoptimize"},
                                                {q.HasCondition, "condition"},
                                                {q.HasHaving, "having"},
                                                {q.HasOrderBy, "orderby"},
                                                {q.OrderByNoCase, "nocase"},
                                                {q.HasGroupBy, "groupby"},
                                                {q.IntoMemory, "memory"},
                                                {q.InsertSelect, "insertselect"},
                                                {q.WithLocks, "withlocks"}};
  for (const auto& [set, name] : flags) {
    if (set) out += std::string(" ") + name;
  }
  if (!q.ResultTableName.empty()) out += " into=" + Quoted(q.ResultTableName);
  if (!q.SecondName.empty()) out += " second=" + Quoted(q.SecondName);
  for (const auto& t : q.SourceTables) {
    out += " table=[" + std::to_string(t->Number) + (t->Memory ? " memory " : " ") +
           Quoted(t->DirectoryPath) + " " + Quoted(t->TableName) + " as " +
           Quoted(t->CorrelationName) + "]";
  }
  for (const auto& f : q.ResultFields) {
    out += " field=[" + Quoted(f->CorrelationName) + "." + Quoted(f->ColumnName) +
           " name=" + Quoted(f->ResultName) + (f->NameIsDefault ? "" : " named") +
           (f->Computed ? " computed" : "") +
           (f->Aggregate != 0 ? " agg=" + std::to_string(f->Aggregate) : "") +
           " text=" + Quoted(f->ExpressionText) + " " + PrintTree(f->Expression.get()) + "]";
  }
  for (const auto& f : q.UpdateFields) {
    out += " target=[" + Quoted(f->CorrelationName) + "." + Quoted(f->ColumnName) + "]";
  }
  for (const auto& v : q.UpdateValues) {
    out += " value=[" + Quoted(v->SourceText) + " " + PrintTree(v->Expression.get()) + "]";
  }
  if (q.Condition) out += " where=" + PrintTree(q.Condition.get()) + JoinMarks(q.Condition.get());
  if (q.Having) out += " having=" + PrintTree(q.Having.get());
  for (const auto& g : q.GroupBy) {
    out += " group=[" + Quoted(g->CorrelationName) + "." + Quoted(g->ColumnName) + " #" +
           std::to_string(g->ColumnNumber) + "]";
  }
  for (const auto& o : q.OrderBy) {
    out += " order=[" + Quoted(o->CorrelationName) + "." + Quoted(o->ColumnName) + " #" +
           std::to_string(o->ColumnNumber) + (o->Descending ? " desc" : "") + "]";
  }
  for (const auto& c : q.CreateFields) {
    out += " column=[" + std::to_string(c->Position) + " " + Quoted(c->ColumnName);
    if (!c->NewColumnName.empty()) out += " to " + Quoted(c->NewColumnName);
    if (c->Type != 0) {
      out += " t" + std::to_string(c->Type) + "." + std::to_string(c->Subtype) + " size " +
             std::to_string(c->Size) + " scale " + std::to_string(c->Scale);
    }
    if (c->DescriptionGiven) out += " description=" + Quoted(c->Description);
    if (c->RequiredGiven) out += " notnull";
    if (c->DefaultGiven) out += " default=" + Quoted(c->Default);
    if (c->MinimumGiven) out += " min=" + Quoted(c->Minimum);
    if (c->MaximumGiven) out += " max=" + Quoted(c->Maximum);
    if (c->CharCaseGiven) out += " charcase=" + std::to_string(c->CharCase);
    if (c->Add) out += " add";
    if (c->Redefine) out += " redefine";
    if (c->Drop) out += " drop";
    if (c->AtGiven) out += " at " + std::to_string(c->At);
    out += "]";
  }
  for (const auto& i : q.CreateIndexes) {
    out += " index=[" + Quoted(i->Name) + " (";
    for (size_t k = 0; k < i->ColumnNames.size(); ++k) {
      out += (k == 0 ? "" : " ") + Quoted(i->ColumnNames[k]);
    }
    out += ")";
    if (i->Unique) out += " unique";
    if (i->Descending) out += " desc";
    if (i->CaseInsensitive) out += " nocase";
    if (i->Compression != 0) out += " compress " + std::to_string(i->Compression);
    if (i->Add) out += " add";
    if (i->Redefine) out += " redefine";
    if (i->Drop) out += " drop";
    out += "]";
  }
  return out + DumpOptions(q.Options) + "}";
}

inline std::string DumpStatement(const TQueryStatement& statement) {
  std::string out;
  for (const auto& query : statement.Queries()) out += (out.empty() ? "" : " ") + DumpQuery(*query);
  return out + " params=" + std::to_string(statement.Parameters().size());
}

// The dump of the parsed text, or "error " and the full message.
inline std::string ParseToText(const std::string& text, uint16_t language_id = 0) {
  StatementDatabase database(kStatementDirectory, language_id);
  TQueryStatement statement(database.session, *database.directory);
  int32_t consumed = 0;
  try {
    statement.Parse(text.c_str(), consumed);
  } catch (const EQuireEngineError& e) {
    return "error " + e.Message();
  }
  return DumpStatement(statement);
}

}  // namespace jw::test_support
