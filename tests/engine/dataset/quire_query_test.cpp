// The query component on real tables: statements without a result run once
// through Open, a prepared query holds its database, long strings travel as
// text BLOBs, a master dataset's moves run the query again, and random
// parameterised statements give what the engine gives for the same
// statements with the values written in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/dataset/quire_query.h"
#include "engine/dataset/quire_session.h"
#include "engine/sql/query_statement.h"
#include "engine/support/field_types.h"
#include "platform/db/data_source.h"
#include "platform/db/field.h"
#include "platform/rtl/filer.h"
#include "platform/rtl/streams.h"
#include "table_fixture.h"
#include "tests/support/error_text.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::EngineField;
using test_support::ErrorText;
using test_support::WalkForward;

// Every row of the cursor, each value as its type's bytes ("~" for NULL),
// sorted: the rows as a multiset.
std::vector<std::string> CursorRows(TDataCursor& cursor) {
  std::vector<std::string> rows;
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) {
    std::string row;
    for (int32_t field = 1; field <= cursor.GetCursorFieldCount(); ++field) {
      const FieldDescriptor& desc = cursor.GetFieldDesc(field);
      uint8_t value[kMaxFieldSize + 8] = {};
      bool null = false;
      cursor.GetFieldData(field, image.data(), null, value);
      if (null) {
        row += "~|";
      } else if (desc.Type == kFldString) {
        row += std::string(reinterpret_cast<const char*>(value)) + "|";
      } else {
        row += std::string(reinterpret_cast<const char*>(value), desc.PhysicalLength) + "|";
      }
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

class QuireQueryTest : public test_support::TableTest {
 protected:
  void CreateTable(const std::string& name, std::vector<FieldDescriptor> fields) {
    TTableDefinition definition;
    definition.Fields = std::move(fields);
    definition.Indexes = {IndexDescriptor()};
    CreateEngineTable(name, definition);
  }

  TQuireQuery* NewQuery(const std::string& text) {
    auto* query = new TQuireQuery(&form_);
    query->SetDatabaseName("DB");
    TStringList lines;
    lines.SetText(text);
    query->SetSQL(lines);
    return query;
  }

  std::vector<std::string> TableRows(const std::string& name) {
    TDataCursor cursor(database_->EngineDirectory());
    cursor.SetTableName(name);
    cursor.Open();
    std::vector<std::string> rows = CursorRows(cursor);
    cursor.Close(false);
    return rows;
  }

  // Runs a statement directly on the engine; its rows when it has a result.
  std::vector<std::string> RunEngine(const std::string& text, int32_t& rows_affected) {
    TQueryStatement statement(*database_->Session()->EngineSession(),
                              *database_->EngineDirectory());
    int32_t consumed = 0;
    statement.Prepare(text.c_str(), consumed);
    statement.Execute();
    rows_affected = statement.GetRowsAffected();
    TDataCursor* result = statement.ResultCursor();
    return result == nullptr ? std::vector<std::string>() : CursorRows(*result);
  }
};

TEST_F(QuireQueryTest, StatementsWithoutAResultRunOnceThroughOpenAndLeaveTheQueryClosed) {
  CreateTable("t", {EngineField("a", kFldInteger), EngineField("s", kFldString, 20),
                    EngineField("m", kFldBlob, 0, 22)});
  TQuireQuery* insert = NewQuery("INSERT INTO t (a, s, m) VALUES (:a, :s, :m)");
  ASSERT_EQ(insert->Params().Count(), 3);
  const std::string long_texts[] = {std::string(251, 'x'), std::string(3000, 'y'), "short"};
  for (int32_t a = 1; a <= 3; ++a) {
    insert->Params().ParamByName("a")->SetAsInteger(a);
    insert->Params().ParamByName("s")->SetAsString("s" + std::to_string(a));
    insert->Params().ParamByName("m")->SetAsString(long_texts[a - 1]);
    insert->Open();
    EXPECT_FALSE(insert->Active());
    EXPECT_EQ(insert->RowsAffected(), 1);
    EXPECT_EQ(TableRows("t").size(), static_cast<size_t>(a));
  }
  // Its run done, the query keeps neither the statement nor the database.
  EXPECT_FALSE(insert->Prepared());
  EXPECT_EQ(insert->InUseReasons(), 0u);
  EXPECT_EQ(insert->Database(), nullptr);
  // Prepared while closed, it holds its database until closing the
  // database unprepares it.
  insert->SetPrepared(true);
  EXPECT_EQ(insert->InUseReasons(), 1u << kUsePrepared);
  EXPECT_EQ(insert->Database(), database_);

  TQuireQuery* update = NewQuery("UPDATE t SET s = :s WHERE a >= :lo");
  update->Params().ParamByName("s")->SetAsString(std::string(300, 'z'));
  update->Params().ParamByName("lo")->SetAsSmallInt(2);
  EXPECT_EQ(ErrorText([&] { update->Open(); }), "(nothing raised)");
  EXPECT_EQ(update->RowsAffected(), 2);
  EXPECT_FALSE(update->Active());

  // Each long string went as a text BLOB and came back whole.
  TQuireTable* table = NewTable("t");
  table->Open();
  for (table->First(); !table->Eof(); table->Next()) {
    const int32_t a = table->FieldByName("a")->AsInteger();
    SCOPED_TRACE(a);
    EXPECT_TRUE(table->FieldByName("m")->AsString() == long_texts[a - 1]);
    EXPECT_EQ(table->FieldByName("s")->AsString(), a == 1 ? "s1" : std::string(20, 'z'));
  }
  table->Close();
  TQuireQuery* select = NewQuery("SELECT a, s FROM t WHERE a >= :a");
  select->Params().ParamByName("a")->SetAsInteger(2);
  select->Open();
  ASSERT_TRUE(select->Active());
  EXPECT_EQ(WalkForward(*select, "a"), std::vector<int32_t>({2, 3}));
  select->Close();
  // The progress handler hears of the rows and may end them.
  int32_t calls = 0;
  select->Params().ParamByName("a")->SetAsInteger(1);
  select->OnQueryProgress = [&](TQuireQuery* sender, int32_t, uint16_t percent, bool& abort) {
    EXPECT_EQ(sender, select);
    EXPECT_LE(percent, 100);
    ++calls;
    abort = true;
  };
  select->Open();
  EXPECT_GE(calls, 1);
  EXPECT_LT(select->RecordCount(), 3);
  select->Close();
  select->OnQueryProgress = nullptr;

  // A definition runs once too: the second run finds the table there.
  TQuireQuery* create = NewQuery("CREATE TABLE u (x INTEGER)");
  create->Open();
  EXPECT_FALSE(create->Active());
  EXPECT_TRUE(TableRows("u").empty());
  EXPECT_NE(ErrorText([&] { create->Open(); }), "(nothing raised)");

  database_->SetConnected(false);
  for (TQuireQuery* query : {insert, update, select, create}) {
    EXPECT_FALSE(query->Prepared());
    EXPECT_EQ(query->InUseReasons(), 0u);
    EXPECT_EQ(query->Database(), nullptr);
  }

  // A form's "Data" bytes are kept as read and written back until the SQL
  // changes.
  const std::vector<uint8_t> form_bytes = {'J', 'W', 'P', '1', 4, 'D', 'a', 't', 'a',
                                           3,   0,   0,   0,   7, 8,   9,   0};
  auto written = [](TQuireQuery& query) {
    TMemoryStream stream;
    WriteBinaryProperties(query, stream);
    const auto* bytes = static_cast<const uint8_t*>(stream.Memory());
    return std::vector<uint8_t>(bytes, bytes + stream.Size());
  };
  TMemoryStream form;
  form.WriteBuffer(form_bytes.data(), static_cast<int64_t>(form_bytes.size()));
  form.SetPosition(0);
  ReadBinaryProperties(*select, form);
  EXPECT_EQ(written(*select), form_bytes);
  TStringList other;
  other.SetText("SELECT a FROM t");
  select->SetSQL(other);
  EXPECT_EQ(written(*select), std::vector<uint8_t>({'J', 'W', 'P', '1', 0}));

  TQuireQuery* empty = NewQuery("");
  EXPECT_EQ(ErrorText([&] { empty->Open(); }), "No SQL statement available");
  TQuireQuery* untyped = NewQuery("SELECT * FROM t WHERE a = :a");
  EXPECT_EQ(ErrorText([&] { untyped->Open(); }), "Field 'a' is of unknown type");
  EXPECT_FALSE(untyped->Active());
}

// Opening prepares the statement and closing lets go of it with the
// database, so each open runs with the query's settings, session and
// database of that time. Only a query prepared while closed keeps its
// statement across opens, until a new database or session unprepares it.
TEST_F(QuireQueryTest, EachOpenPreparesWithTheSettingsAndDatabaseOfThatTime) {
  CreateTable("t", {EngineField("a", kFldInteger)});
  test_support::TempFolder other_folder;
  test_support::TempFolder second_folder;
  auto* other_session = new TQuireSession(&form_);
  other_session->SetSessionName("Other");
  auto* other = new TQuireDatabase(&form_);
  other->SetSessionName("Other");
  other->SetDatabaseName("DB");
  other->SetDirectory(other_folder.Path());
  auto* second = new TQuireDatabase(&form_);
  second->SetDatabaseName("DB2");
  second->SetDirectory(second_folder.Path());
  // t holds 1 row in DB, 5 in the other session's DB and 3 in DB2.
  const struct {
    const char* session;
    const char* database;
    int32_t rows;
  } kTables[] = {{"", "DB", 1}, {"Other", "DB", 5}, {"", "DB2", 3}};
  for (const auto& table : kTables) {
    const auto on_table = [&](const std::string& text) {
      TQuireQuery* query = NewQuery(text);
      query->SetSessionName(table.session);
      query->SetDatabaseName(table.database);
      return query;
    };
    if (table.rows != 1) on_table("CREATE TABLE t (a INTEGER)")->Open();
    TQuireQuery* fill = on_table("INSERT INTO t (a) VALUES (:a)");
    for (int32_t a = 1; a <= table.rows; ++a) {
      fill->Params().ParamByName("a")->SetAsInteger(a);
      fill->Open();
    }
  }
  const auto rows = [](TQuireQuery* query) {
    query->Open();
    const int32_t count = query->RecordCount();
    query->Close();
    return count;
  };

  TQuireQuery* query = NewQuery("SELECT a FROM t");
  query->Open();
  ASSERT_NE(query->Cursor(), nullptr);
  EXPECT_NE(query->Cursor()->TableName(), "t.DAT");
  query->Close();
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->InUseReasons(), 0u);
  EXPECT_EQ(query->Database(), nullptr);
  // Asked for live now, the next open edits the table itself.
  query->SetRequestLive(true);
  query->Open();
  ASSERT_NE(query->Cursor(), nullptr);
  EXPECT_EQ(query->Cursor()->TableName(), "t.DAT");
  query->Edit();
  query->FieldByName("a")->SetAsInteger(7);
  query->Post();
  query->Close();
  EXPECT_EQ(CursorWalk("t", "", 1), std::vector<int32_t>{7});

  query->SetSessionName("Other");
  EXPECT_EQ(rows(query), 5);
  query->SetSessionName("");
  query->SetDatabaseName("DB2");
  EXPECT_EQ(rows(query), 3);

  query->SetPrepared(true);
  EXPECT_EQ(query->InUseReasons(), 1u << kUsePrepared);
  EXPECT_EQ(query->Database(), second);
  EXPECT_EQ(rows(query), 3);
  EXPECT_TRUE(query->Prepared());
  EXPECT_EQ(query->Database(), second);
  EXPECT_EQ(ErrorText([&] { query->SetDatabaseName("DB"); }), "(nothing raised)");
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(query->Database(), nullptr);
  EXPECT_EQ(rows(query), 1);
  query->SetPrepared(true);
  query->SetSessionName("Other");
  EXPECT_FALSE(query->Prepared());
  EXPECT_EQ(rows(query), 5);
}

TEST_F(QuireQueryTest, MasterRecordChangesRunTheQueryAgainWithItsValues) {
  CreateTable("master", {EngineField("id", kFldInteger)});
  CreateTable("detail", {EngineField("mid", kFldInteger), EngineField("v", kFldInteger)});
  {
    TQuireQuery* fill = NewQuery("INSERT INTO detail (mid, v) VALUES (:mid, :v)");
    for (int32_t v = 0; v < 30; ++v) {
      fill->Params().ParamByName("mid")->SetAsInteger(v % 4);
      fill->Params().ParamByName("v")->SetAsInteger(v);
      fill->Open();
    }
    TQuireQuery* masters = NewQuery("INSERT INTO master (id) VALUES (:id)");
    for (int32_t id : {3, 0, 2, 5}) {
      masters->Params().ParamByName("id")->SetAsInteger(id);
      masters->Open();
    }
  }
  TQuireTable* master = NewTable("master");
  auto* source = new TDataSource(&form_);
  source->SetDataSet(master);
  TQuireQuery* detail = NewQuery("SELECT v FROM detail WHERE mid = :id ORDER BY v");
  detail->SetDataSource(source);
  master->Open();
  detail->Open();
  auto expected = [](int32_t id) {
    std::vector<int32_t> values;
    for (int32_t v = 0; v < 30; ++v) {
      if (v % 4 == id) values.push_back(v);
    }
    return values;
  };
  int32_t seen = 0;
  for (master->First(); !master->Eof(); master->Next()) {
    const int32_t id = master->FieldByName("id")->AsInteger();
    SCOPED_TRACE(id);
    ASSERT_TRUE(detail->Active());
    EXPECT_EQ(WalkForward(*detail, "v"), expected(id));
    // The value came from the master, so the parameter stays unbound.
    EXPECT_FALSE(detail->Params().ParamByName("id")->Bound());
    ++seen;
  }
  EXPECT_EQ(seen, 4);

  // A bound parameter keeps its own value.
  detail->Params().ParamByName("id")->SetAsInteger(1);
  master->First();
  EXPECT_EQ(WalkForward(*detail, "v"), expected(1));

  // MaxRowCount reaches the prepared statement.
  detail->SetMaxRowCount(2);
  master->Next();
  EXPECT_EQ(WalkForward(*detail, "v"), std::vector<int32_t>({1, 5}));

  // A parameter gives its value to a field and takes a field's.
  master->Last();
  master->Edit();
  master->FieldByName("id")->Assign(detail->Params().ParamByName("id"));
  master->Post();
  EXPECT_EQ(master->FieldByName("id")->AsInteger(), 1);
  TQuireParam copy;
  copy.Assign(master->FieldByName("id"));
  EXPECT_EQ(copy.Name(), "id");
  EXPECT_EQ(copy.DataType(), ftInteger);
  EXPECT_TRUE(copy.Bound());
  EXPECT_EQ(copy.Value().AsInteger(), 1);

  auto* own_source = new TDataSource(&form_);
  own_source->SetDataSet(detail);
  EXPECT_EQ(ErrorText([&] { detail->SetDataSource(own_source); }),
            "Circular datalinks are not allowed");
}

// The result cursor stays with the statement of a query prepared while
// closed when the query closes: the filters the query put on it must go,
// or the next run shows only their rows and calls back into a handler that
// may be gone.
TEST_F(QuireQueryTest, AQueryClosedWithFiltersRunsAgainWithoutThem) {
  CreateTable("f", {EngineField("a", kFldInteger)});
  TQuireQuery* fill = NewQuery("INSERT INTO f (a) VALUES (:a)");
  for (int32_t a = 1; a <= 6; ++a) {
    fill->Params().ParamByName("a")->SetAsInteger(a);
    fill->Open();
  }
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live ? "live" : "result table");
    TQuireQuery* query = NewQuery("SELECT a FROM f WHERE a > :lo");
    query->SetRequestLive(live);
    query->Params().ParamByName("lo")->SetAsInteger(1);
    query->SetPrepared(true);
    int32_t calls = 0;
    query->SetFilterText("a < 5");
    query->SetOnFilterRecord([&](TDataSet* dataset, bool& accept) {
      ++calls;
      accept = dataset->FieldByName("a")->AsInteger() != 3;
    });
    query->SetFiltered(true);
    query->Open();
    ASSERT_NE(query->Cursor(), nullptr);
    EXPECT_EQ(query->Cursor()->TableName() == "f.DAT", live);
    EXPECT_EQ(WalkForward(*query, "a"), std::vector<int32_t>({2, 4}));
    EXPECT_GT(calls, 0);
    query->Close();
    query->SetFiltered(false);
    query->SetOnFilterRecord(nullptr);
    query->SetFilterText("");
    calls = 0;
    query->Params().ParamByName("lo")->SetAsInteger(0);
    query->Open();
    EXPECT_EQ(WalkForward(*query, "a"), std::vector<int32_t>({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(calls, 0);
    query->Close();
  }
}

// A value of one of the parameter types, and the same value written in SQL.
struct TypedValue {
  std::string literal;
  std::function<void(TQuireParam&)> assign;
};

TypedValue RandomNumber(std::mt19937& random, int32_t lo, int32_t hi) {
  const int32_t value = std::uniform_int_distribution<int32_t>(lo, hi)(random);
  const std::string literal = std::to_string(value);
  switch (random() % 5) {
    case 0:
      return {literal, [value](TQuireParam& p) { p.SetAsSmallInt(value); }};
    case 1:
      return {literal, [value](TQuireParam& p) { p.SetAsFloat(value); }};
    case 2:
      return {literal, [value](TQuireParam& p) { p.SetAsCurrency(value); }};
    case 3:
      if (value >= 0) return {literal, [value](TQuireParam& p) { p.SetAsWord(value); }};
      [[fallthrough]];
    default:
      return {literal, [value](TQuireParam& p) { p.SetAsInteger(value); }};
  }
}

TypedValue RandomFloat(std::mt19937& random) {
  // Quarters print exactly.
  const double value = std::uniform_int_distribution<int32_t>(-400, 400)(random) / 4.0;
  char literal[32];
  std::snprintf(literal, sizeof literal, "%.2f", value);
  return {literal, [value](TQuireParam& p) { p.SetAsFloat(value); }};
}

TypedValue RandomText(std::mt19937& random) {
  if (random() % 8 == 0) {
    return {"NULL", [](TQuireParam& p) {
              p.SetAsString("ignored");
              p.Clear();
            }};
  }
  std::string text;
  for (int32_t n = static_cast<int32_t>(random() % 4) + 1; n > 0; --n) {
    // Letters that name no column: a quoted column name reads as the column.
    text += static_cast<char>('k' + random() % 3);
  }
  if (random() % 2 == 0) {
    return {"'" + text + "'", [text](TQuireParam& p) { p.SetAsMemo(text); }};
  }
  return {"'" + text + "'", [text](TQuireParam& p) { p.SetAsString(text); }};
}

int RandomCount(int count) {
  const char* long_tests = std::getenv("JW_LONG_TESTS");
  return long_tests != nullptr && std::string(long_tests) == "1" ? count * 25 : count;
}

TEST_F(QuireQueryTest, RandomParameterisedStatementsMatchTheEngineWithTheValuesWrittenIn) {
  const std::vector<FieldDescriptor> fields = {
      EngineField("a", kFldInteger), EngineField("b", kFldSmallInt), EngineField("f", kFldFloat),
      EngineField("s", kFldString, 20)};
  CreateTable("p", fields);  // changed through the query
  CreateTable("q", fields);  // changed directly on the engine
  // Each statement has its markers ":v0", ":v1", ... in place of values.
  const std::vector<std::string> statements = {
      "INSERT INTO # (a, b, f, s) VALUES (:v0, :v1, :v2, :v3)",
      "INSERT INTO # (a, b, f, s) VALUES (:v0, :v1, :v2, :v3)",
      "SELECT a, b, f, s FROM # WHERE a >= :v0 AND a < :v1",
      "SELECT b, COUNT(*), SUM(f) FROM # WHERE s = :v0 OR f > :v1 GROUP BY b",
      "SELECT s, a FROM # WHERE b <> :v0 ORDER BY s",
      "UPDATE # SET f = :v0, s = :v1 WHERE a < :v2",
      "UPDATE # SET b = :v0 WHERE s = :v1",
      "DELETE FROM # WHERE b = :v0 OR a > :v1",
  };
  auto values_of = [](size_t kind, std::mt19937& random) -> std::vector<TypedValue> {
    switch (kind) {
      case 0:
      case 1:
        return {RandomNumber(random, -50, 50), RandomNumber(random, 0, 9), RandomFloat(random),
                RandomText(random)};
      case 2:
        return {RandomNumber(random, -50, 50), RandomNumber(random, -50, 50)};
      case 3:
        return {RandomText(random), RandomFloat(random)};
      case 4:
        return {RandomNumber(random, 0, 9)};
      case 5:
        return {RandomFloat(random), RandomText(random), RandomNumber(random, -50, 50)};
      case 6:
        return {RandomNumber(random, 0, 9), RandomText(random)};
      default:
        return {RandomNumber(random, 0, 9), RandomNumber(random, 30, 60)};
    }
  };
  auto with_table = [](std::string text, const std::string& table) {
    text.replace(text.find('#'), 1, table);
    return text;
  };
  std::vector<TQuireQuery*> queries;
  for (const std::string& text : statements) queries.push_back(NewQuery(with_table(text, "p")));

  // JW_SEED repeats a run.
  const char* seed_text = std::getenv("JW_SEED");
  const unsigned seed =
      seed_text != nullptr ? static_cast<unsigned>(std::stoul(seed_text)) : std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const int count = RandomCount(200);
  for (int step = 0; step < count; ++step) {
    const size_t kind = random() % statements.size();
    const std::vector<TypedValue> values = values_of(kind, random);
    std::string literal_text = with_table(statements[kind], "q");
    for (size_t i = values.size(); i-- > 0;) {
      const std::string marker = ":v" + std::to_string(i);
      literal_text.replace(literal_text.find(marker), marker.size(), values[i].literal);
    }
    SCOPED_TRACE(literal_text);
    TQuireQuery& query = *queries[kind];
    for (size_t i = 0; i < values.size(); ++i) {
      values[i].assign(*query.Params().ParamByName("v" + std::to_string(i)));
    }
    int32_t engine_affected = 0;
    const std::vector<std::string> engine_rows = RunEngine(literal_text, engine_affected);
    query.Open();
    EXPECT_EQ(query.RowsAffected(), engine_affected);
    if (query.Active()) {
      EXPECT_EQ(CursorRows(*query.Cursor()), engine_rows);
      EXPECT_EQ(query.RecordCount(), static_cast<int>(engine_rows.size()));
      query.Close();
    } else {
      ASSERT_EQ(statements[kind].rfind("SELECT", 0), std::string::npos);
    }
    ASSERT_EQ(TableRows("p"), TableRows("q"));
  }
}

}  // namespace
}  // namespace jw
