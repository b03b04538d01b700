// Cursor filters: random filter expressions answered through the indexes
// agree with the same filters on a twin table without indexes (answered
// record by record), indexed conditions read no records, the view follows
// inserts, changes and deletes, and the filter errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/core/filter.h"
#include "engine/expr/expression_binder.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/expression_rewrite.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kId = 1;
constexpr int32_t kName = 2;
constexpr int32_t kCode = 3;
constexpr int32_t kGroup = 4;
constexpr int32_t kNote = 5;
constexpr int32_t kQty = 6;

std::vector<FieldDescriptor> Fields() {
  return {Field("ID", kFldInteger, 0, kSubTypeAutoInc),
          Field("NAME", kFldString, 6),
          Field("CODE", kFldInteger),
          Field("GRP", kFldSmallInt),
          Field("NOTE", kFldString, 6),
          Field("QTY", kFldInteger)};
}

// Indexes of every kind a condition may find: unique primary, non-unique
// string and integer, a composite whose first field is GRP, and a
// descending one, which filters must not use.
TTableDefinition Indexed() {
  TTableDefinition d;
  d.Fields = Fields();
  d.Indexes = {Index("", {kId}), Index("ByName", {kName}, false), Index("ByCode", {kCode}, false),
               Index("ByGroup", {kGroup, kCode}, false), Index("ByQty", {kQty}, false, 0, true)};
  return d;
}

TTableDefinition Plain() {
  TTableDefinition d;
  d.Fields = Fields();
  return d;
}

const char* const kStrings[] = {"", "a", "ab", "abc", "b", "B", "ba", "c"};

struct Value {
  bool null = true;
  int32_t number = 0;
  std::string text;
};

// The two tables filled alike: a record has the same id and values in both.
class TwinTables {
 public:
  explicit TwinTables(std::mt19937& rng) : rng_(rng) {
    db_.Create("I", Indexed());
    db_.Create("P", Plain());
  }

  void Fill(int32_t count) {
    {
      TableLoader indexed(db_.directory, "I");
      TableLoader plain(db_.directory, "P");
      for (int32_t i = 0; i < count; ++i) Insert(indexed, plain, 0);
      for (int32_t id = 1; id <= count; ++id) {
        if (rng_() % 10 == 0) Delete(indexed, plain, id);
      }
      indexed.Flush();
      plain.Flush();
    }
    indexed_ = db_.Open("I");
    plain_ = db_.Open("P");
  }

  // A new random record with the id (0: the next one); the cursors are
  // told as the write side tells them.
  void Insert(TableLoader& indexed, TableLoader& plain, int32_t id) {
    auto image = indexed.Image();
    TDataFile& data = indexed.Data();
    PutText(data, image, kName);
    PutNumber(data, image, kCode, 4);
    if (rng_() % 5 != 0) PutSmallInt(data, image, kGroup, static_cast<int16_t>(rng_() % 5 - 2));
    PutText(data, image, kNote);
    PutNumber(data, image, kQty, 3);
    TDataCursor::SetRecordId(image.data(), id);
    Slots& slots = live[id];
    slots.indexed = indexed.Insert(image);
    if (id == 0) {
      id = data.LastAutoInc();
      TDataCursor::SetRecordId(image.data(), id);
      live[id] = slots;
      live.erase(0);
    }
    live[id].plain = plain.Insert(image);
    if (!indexed_) return;
    image.resize(static_cast<size_t>(indexed_->GetRecordSize()));
    indexed_->FilterRecordChanged(live[id].indexed, image.data());
    plain_->FilterRecordChanged(live[id].plain, image.data());
  }

  void Delete(TableLoader& indexed, TableLoader& plain, int32_t id) {
    const Slots slots = live.at(id);
    indexed.Delete(slots.indexed);
    plain.Delete(slots.plain);
    live.erase(id);
    if (!indexed_) return;
    indexed_->FilterRecordDeleted(slots.indexed);
    plain_->FilterRecordDeleted(slots.plain);
  }

  // A modify on the indexed table: the record takes new random values in
  // its slot, and its cursor hears only of the change. The plain table may
  // put the new values in another slot; its cursor hears of both.
  void Replace(TableLoader& indexed, TableLoader& plain, int32_t id) {
    const Slots slots = live.at(id);
    indexed.Delete(slots.indexed);
    plain.Delete(slots.plain);
    Insert(indexed, plain, id);
    ASSERT_EQ(live[id].indexed, slots.indexed);
    if (live[id].plain != slots.plain) plain_->FilterRecordDeleted(slots.plain);
  }

  // The write side saves the counters after its own change, so the
  // cursors do not take it for another process's.
  void Posted() {
    indexed_->SaveChangeCounters();
    plain_->SaveChangeCounters();
  }

  CursorDatabase db_;
  // The record numbers of each live id in the two tables.
  struct Slots {
    int32_t indexed = 0;
    int32_t plain = 0;
  };
  std::map<int32_t, Slots> live;
  std::unique_ptr<TDataCursor> indexed_;
  std::unique_ptr<TDataCursor> plain_;

 private:
  // NULL, the empty string stored as a value, or a short text.
  void PutText(const TDataFile& data, std::vector<uint8_t>& image, int32_t field) {
    const uint32_t pick = rng_() % 10;
    if (pick == 0) return;
    if (pick == 1) {
      image[data.FieldDesc(field).Offset] = 1;
      return;
    }
    PutString(data, image, field, kStrings[1 + rng_() % 7]);
  }
  void PutNumber(const TDataFile& data, std::vector<uint8_t>& image, int32_t field,
                 int32_t spread) {
    if (rng_() % 6 == 0) return;
    PutInt(data, image, field, static_cast<int32_t>(rng_() % (2 * spread + 1)) - spread);
  }

  std::mt19937& rng_;
};

// Random boolean filter texts over indexed and unindexed columns.
class ExpressionMaker {
 public:
  explicit ExpressionMaker(std::mt19937& rng) : rng_(rng) {}

  std::string Make(int depth) {
    const uint32_t pick = rng_() % 10;
    if (depth > 0 && pick < 2) return Make(depth - 1) + " AND " + Make(depth - 1);
    if (depth > 0 && pick < 4) return "(" + Make(depth - 1) + " OR " + Make(depth - 1) + ")";
    if (depth > 0 && pick < 5) return "NOT (" + Make(depth - 1) + ")";
    return Condition();
  }

 private:
  std::string Condition() {
    const bool text = rng_() % 2 == 0;
    const std::string column = Column(text);
    const auto constant = [&] { return text ? Text() : Number(); };
    switch (rng_() % 9) {
      case 0:
        return column + (rng_() % 2 ? " IS NULL" : " IS NOT NULL");
      case 1:
        return column + (rng_() % 2 ? " NOT" : "") + " BETWEEN " + constant() + " AND " +
               constant();
      case 2:
        return column + (rng_() % 2 ? " NOT" : "") + " IN (" + constant() + ", " + constant() +
               ", " + constant() + ")";
      case 3:
        return text
                   ? column + (rng_() % 2 ? " NOT" : "") + " LIKE '" + Pick({"a%", "%b", "_"}) + "'"
                   : column + " = " + constant();
      case 4:
        return text ? "UPPER(" + column + ") " + Operator() + " " + Text()
                    : constant() + " " + Operator() + " " + column;
      case 5:
        return text ? column + " " + Pick({"=", "<>"}) + " '" + Pick({"a*", "ab*", "*"}) + "'"
                    : column + " " + Operator() + " 1.5";
      default:
        return column + " " + Operator() + " " + constant();
    }
  }

  std::string Column(bool text) {
    return text ? Pick({"NAME", "NOTE"}) : Pick({"ID", "CODE", "GRP", "QTY"});
  }
  std::string Operator() { return Pick({"=", "<>", "<", ">", "<=", ">="}); }
  std::string Text() {
    if (rng_() % 8 == 0) return "NULL";
    return "'" + std::string(kStrings[rng_() % 8]) + "'";
  }
  std::string Number() {
    if (rng_() % 8 == 0) return "NULL";
    return std::to_string(static_cast<int32_t>(rng_() % 11) - 5);
  }
  std::string Pick(std::initializer_list<const char*> choices) {
    return *(choices.begin() + rng_() % choices.size());
  }

  std::mt19937& rng_;
};

// The ids of the records the cursor shows, in its order.
std::vector<int32_t> VisibleIds(TDataCursor& cursor) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<int32_t> ids;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0)
    ids.push_back(TDataCursor::GetRecordId(image.data()));
  EXPECT_EQ(static_cast<int32_t>(ids.size()), cursor.GetRecordCount());
  return ids;
}

std::vector<int32_t> Sorted(std::vector<int32_t> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The ids the filter lets through; the error code when adding it failed.
struct Answer {
  std::vector<int32_t> ids;
  EngineErrorCode error = 0;
  uint8_t level = 0;
  int64_t reads = 0;
};

Answer Filtered(TDataCursor& cursor, const std::string& text, bool complement = false) {
  Answer answer;
  TFilter* filter = nullptr;
  TCursorFilterOptions options;
  options.Complement = complement;
  try {
    filter = cursor.AddFilter(text.c_str(), nullptr, nullptr, nullptr, options);
  } catch (const EQuireEngineError& e) {
    answer.error = e.Code();
    return answer;
  }
  const int64_t reads = cursor.FilterRecordReads();
  cursor.ActivateFilter(filter);
  answer.reads = cursor.FilterRecordReads() - reads;
  answer.level = filter->OptimizeLevel();
  answer.ids = Sorted(VisibleIds(cursor));
  cursor.DropFilter(filter);
  return answer;
}

class CursorFiltersTest : public testing::Test {
 protected:
  std::string Seed() const { return "seed " + std::to_string(seed_) + " (JW_SEED)"; }

  const uint32_t seed_ = TestSeed();
  std::mt19937 rng_{seed_};
  TwinTables tables_{rng_};
  ExpressionMaker maker_{rng_};
};

TEST_F(CursorFiltersTest, IndexedAnswersEqualRecordByRecordAnswers) {
  SCOPED_TRACE(Seed());
  tables_.Fill(400);
  int32_t fully_indexed = 0;
  const int32_t rounds = LongTests() ? 10000 : 1000;
  for (int32_t round = 0; round < rounds; ++round) {
    const std::string text = maker_.Make(static_cast<int>(rng_() % 4));
    SCOPED_TRACE(text);
    // Half the rounds collect ranges of most keys through their complement.
    const Answer indexed = Filtered(*tables_.indexed_, text, round % 2 == 1);
    const Answer plain = Filtered(*tables_.plain_, text);
    ASSERT_EQ(indexed.error, plain.error);
    ASSERT_EQ(indexed.ids, plain.ids);
    EXPECT_EQ(plain.level, 0);
    if (indexed.level == 2) {
      ++fully_indexed;
      EXPECT_EQ(indexed.reads, 0);
    }
  }
  // The generator reaches the index paths, not only the fallback.
  EXPECT_GT(fully_indexed, rounds / 10);
}

// Binds a column of the test tables as a caller that prepares its own
// trees does.
bool ResolveColumn(void* context, TExpToken* node) {
  int32_t number = 0;
  const FieldDescriptor* field =
      static_cast<TDataCursor*>(context)->FindFieldDesc(node->ColumnName, number);
  if (field == nullptr) return false;
  node->FieldNumber = static_cast<int16_t>(number);
  node->Type = field->Type;
  node->Subtype = field->SubType;
  node->SetValueSize(field->Size);
  return true;
}

TTokenTree PreparedTree(TDataCursor& cursor, const char* text) {
  TExpressionParser parser;
  parser.SetErrorCode(kErrFilter);
  parser.SetContextName("filter expression");
  parser.SetText(text);
  parser.NextToken();
  TTokenTree parsed(parser.ParseExpression(kParseExtended));
  BindExpression(kErrFilter, "I", "filter expression", true, ResolveColumn, &cursor, nullptr,
                 parsed.get());
  return TTokenTree(PrepareFilter(parsed.get(), &cursor, nullptr, false, false, 0, 0));
}

TEST_F(CursorFiltersTest, AnIndexedSideLimitsTheRecordsReadForTheRest) {
  tables_.Fill(300);
  TDataCursor& cursor = *tables_.indexed_;
  const Answer code = Filtered(cursor, "CODE = 1");
  EXPECT_EQ(code.reads, 0);
  // The LIKE written first is read only on the records with CODE = 1; the
  // operands change places in the filter's copy, never in the caller's tree.
  const char* const both = "NOTE LIKE '%a%' AND CODE = 1";
  const TTokenTree prepared = PreparedTree(cursor, both);
  const TTokenTree before(CopyTokenTree(prepared.get()));
  TFilter* filter = cursor.AddFilter(nullptr, prepared.get(), nullptr, nullptr, {});
  const int64_t reads = cursor.FilterRecordReads();
  cursor.ActivateFilter(filter);
  EXPECT_EQ(filter->OptimizeLevel(), 1);
  EXPECT_EQ(cursor.FilterRecordReads() - reads, static_cast<int64_t>(code.ids.size()));
  EXPECT_TRUE(TokenTreesEqual(prepared.get(), before.get()));
  EXPECT_EQ(Sorted(VisibleIds(cursor)), Filtered(*tables_.plain_, both).ids);
  cursor.DropFilter(filter);
  // An OR with an unindexed side reads every live record.
  const Answer either = Filtered(cursor, "CODE = 1 OR NOTE LIKE '%a%'");
  EXPECT_EQ(either.reads, cursor.GetTotalRecordCount());
}

TEST_F(CursorFiltersTest, TheViewFollowsInsertsChangesAndDeletes) {
  SCOPED_TRACE(Seed());
  tables_.Fill(200);
  TDataCursor& cursor = *tables_.indexed_;
  TDataCursor& plain = *tables_.plain_;
  // An indexed filter, an unindexed one and a restricting one, in index
  // order under a range on the indexed table and in natural order on the
  // plain one.
  const std::vector<std::string> texts = {"CODE >= 0 OR NAME < 'b'", "NOTE LIKE '%a%' OR QTY = 1",
                                          "GRP IS NOT NULL"};
  for (TDataCursor* c : {&cursor, &plain}) {
    for (size_t k = 0; k < texts.size(); ++k) {
      TCursorFilterOptions options;
      options.Restricting = k == 2;
      c->ActivateFilter(c->AddFilter(texts[k].c_str(), nullptr, nullptr, nullptr, options));
    }
  }
  cursor.SetIndexByName("ByCode");
  std::vector<uint8_t> low(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<uint8_t> high = low;
  const TDataFile& data = cursor.Table()->DataFile();
  PutInt(data, low, kCode, -2);
  PutInt(data, high, kCode, 3);
  cursor.SetRange(false, low.data(), 1, high.data(), 1);
  const std::string all = "(" + texts[0] + ") AND (" + texts[1] + ") AND " + texts[2];
  for (int32_t step = 0; step < 60; ++step) {
    {
      TableLoader indexed(tables_.db_.directory, "I");
      TableLoader unindexed(tables_.db_.directory, "P");
      auto at = tables_.live.begin();
      std::advance(at, static_cast<long>(rng_() % tables_.live.size()));
      switch (rng_() % 3) {
        case 0:
          tables_.Insert(indexed, unindexed, 0);
          break;
        case 1:
          tables_.Replace(indexed, unindexed, at->first);
          break;
        default:
          tables_.Delete(indexed, unindexed, at->first);
          break;
      }
    }
    tables_.Posted();
    auto fresh = tables_.db_.Open("P");
    ASSERT_EQ(Sorted(VisibleIds(cursor)), Filtered(*fresh, all + " AND CODE BETWEEN -2 AND 3").ids)
        << "step " << step;
    ASSERT_EQ(Sorted(VisibleIds(plain)), Filtered(*fresh, all).ids) << "step " << step;
  }
}

TEST_F(CursorFiltersTest, FilterErrorsNameTheirCause) {
  tables_.Fill(20);
  TDataCursor& cursor = *tables_.indexed_;
  try {
    cursor.AddFilter("CODE + QTY", nullptr, nullptr, nullptr, {});
    FAIL();
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrFilter);
    EXPECT_NE(std::string(e.what()).find("filter expression must be a boolean expression"),
              std::string::npos)
        << e.what();
  }
  TFilter* stranger = reinterpret_cast<TFilter*>(&cursor);
  for (auto call :
       {&TDataCursor::ActivateFilter, &TDataCursor::DeactivateFilter, &TDataCursor::DropFilter}) {
    try {
      (cursor.*call)(stranger);
      FAIL();
    } catch (const EQuireEngineError& e) {
      EXPECT_EQ(e.Code(), kErrInvalidFilterHandle);
    }
  }
  for (int i = 0; i < 64; ++i) cursor.AddFilter("CODE = 1", nullptr, nullptr, nullptr, {});
  try {
    cursor.AddFilter("CODE = 1", nullptr, nullptr, nullptr, {});
    FAIL();
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrTooManyFilters);
  }
}

}  // namespace
}  // namespace jw::test
