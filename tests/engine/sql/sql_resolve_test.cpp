// Name resolution against the tables of ResolveDatabase: the golden dumps in
// sql_resolve_golden.txt give, per statement, what resolution found (select
// list expanded, numbered, named and bound; grouping and ordering items by
// number; HAVING bound to the result fields; INSERT and UPDATE targets
// resolved in their table), and the result-set limit is
// pinned at its edge. The messages of resolution are rows of sql_messages.txt.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/query_statement.h"
#include "engine/support/engine_errors.h"
#include "engine/support/field_types.h"
#include "tests/engine/sql/sql_test_util.h"
#include "tests/support/table_rows.h"

namespace jw {
namespace {

using test_support::PrintTree;
using test_support::Quoted;

std::string DumpResolved(const TDataQuery& q) {
  std::string out = "{";
  const std::pair<bool, const char*> flags[] = {{q.AggregateOnly, "aggregateonly"},
                                                {q.RecordCountOnly, "recordcount"},
                                                {q.HasBlobResult, "blob"},
                                                {!q.LiveAllowed, "notlive"},
                                                {q.Distinct, "distinct"}};
  for (const auto& [set, name] : flags) {
    if (set) out += std::string(name) + " ";
  }
  for (const auto& t : q.SourceTables) {
    out += "table=[" + std::to_string(t->Level) + " " + Quoted(t->CorrelationName) + " " +
           std::to_string(t->RecordBuffer.size()) + "] ";
  }
  for (const auto& f : q.ResultFields) {
    out += "field=[#" + std::to_string(f->ResultFieldNumber) + " " + Quoted(f->ResultName) + " " +
           (f->Source != nullptr ? f->Source->CorrelationName : "-") + "." +
           std::to_string(f->ColumnNumber) + " t" + std::to_string(f->Type) + "." +
           std::to_string(f->Subtype) + " size " + std::to_string(f->Size) +
           (f->Computed ? " computed" : "") + "] ";
  }
  for (const auto& t : q.UpdateFields) {
    out += "target=[" + t->CorrelationName + "." + std::to_string(t->ColumnNumber) + " " +
           Quoted(t->ColumnName) + " t" + std::to_string(t->Type) + " size " +
           std::to_string(t->Size) + "] ";
  }
  for (const auto& v : q.UpdateValues) out += "value=" + PrintTree(v->Expression.get()) + " ";
  if (q.HasBlobTarget) out += "blobtarget ";
  for (const auto& g : q.GroupBy) out += "group=#" + std::to_string(g->ColumnNumber) + " ";
  for (const auto& o : q.OrderBy) out += "order=#" + std::to_string(o->ColumnNumber) + " ";
  if (q.Having) out += "having=" + PrintTree(q.Having.get()) + " ";
  return out + "language=" + std::to_string(q.Options.LanguageId) + "}";
}

TEST(SqlResolveGolden, EveryStatementGivesItsResolvedDump) {
  const auto rows = test_support::ReadTableRows("tests/engine/sql/sql_resolve_golden.txt", 2);
  EXPECT_GE(rows.size(), 10u);
  test_support::ResolveDatabase tables;
  for (const auto& row : rows) {
    const std::string& statement = row.fields[0];
    std::string actual;
    {
      TQueryStatement prepared(tables.database.session, *tables.database.directory);
      int32_t consumed = 0;
      try {
        prepared.Prepare(statement.c_str(), consumed);
        for (const auto& query : prepared.Queries()) actual += DumpResolved(*query);
      } catch (const EQuireEngineError& e) {
        actual = "error " + e.Message();
      }
    }
    EXPECT_EQ(actual, row.fields[1])
        << "line " << row.line << "\nACTUAL\t" << statement << "\t" << actual;
    EXPECT_EQ(tables.database.directory->TableCount(), 0) << "line " << row.line;
  }
}

// w has 511 columns: two of it and two more items make 1024 result fields,
// and an AVG item beside them would make its hidden count column the 1025th.
TEST(SqlResolveLimits, ResultSetHoldsAtMost1024ColumnsCountingHiddenAvgColumns) {
  test_support::ResolveDatabase tables;
  TQueryStatement statement(tables.database.session, *tables.database.directory);
  int32_t consumed = 0;
  statement.Prepare("SELECT *, c1, c2 FROM w, w w2", consumed);
  EXPECT_EQ(statement.MainQuery()->ResultFields.size(), 1024u);
  EXPECT_EQ(statement.MainQuery()->ResultFields.back()->ResultName, "c2_2");
  consumed = 0;
  statement.Prepare("SELECT *, AVG(c1) FROM w, w w2 GROUP BY 1", consumed);
  EXPECT_EQ(statement.MainQuery()->ResultFields.size(), 1023u);
}

// Adds the password to the session it is given, as a password dialog would.
bool AddSecret(void* session, TDataCursor&) {
  static_cast<TDataSession*>(session)->AddPassword("Secret");
  return true;
}

TEST(SqlResolveTables, AnEncryptedTableOpensThroughTheStatementsPasswordHandler) {
  test_support::ResolveDatabase tables;
  TTableDefinition encrypted;
  encrypted.Encrypted = true;
  encrypted.Password = "Secret";
  tables.Create("e", {test_support::Column("k", kFldInteger)}, encrypted);
  TDataSession& session = tables.database.session;
  TQueryStatement statement(session, *tables.database.directory);
  int32_t consumed = 0;
  try {
    statement.Prepare("SELECT k FROM e", consumed);
    ADD_FAILURE() << "opened without its password";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrPasswordRequired);
  }
  statement.SetPasswordHandler(AddSecret, &session);
  consumed = 0;
  statement.Prepare("SELECT k FROM e", consumed);
  EXPECT_EQ(statement.MainQuery()->ResultFields.front()->ResultName, "k");
  EXPECT_TRUE(session.HasPassword("Secret"));
}

}  // namespace
}  // namespace jw
