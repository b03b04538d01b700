// Cursor filters: random filter expressions answered through the indexes
// agree with the same filters on a twin table without indexes (answered
// record by record), indexed conditions read no records, the view follows
// inserts, changes and deletes, and the filter errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engine/core/filter.h"
#include "engine/expr/expression_binder.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/expression_rewrite.h"
#include "engine/support/language_settings.h"
#include "platform/rtl/format_settings.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_peer.h"

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
// string and integer, a composite whose first field is GRP, a descending
// one, which filters must not use, and a case-insensitive one on NOTE,
// which answers conditions on UPPER(NOTE) only.
TTableDefinition Indexed(int16_t language) {
  TTableDefinition d;
  d.LanguageId = language;
  d.Fields = Fields();
  IndexDescriptor note_upper = Index("ByNoteUpper", {kNote}, false);
  note_upper.CaseInsensitive = 1;
  d.Indexes = {Index("", {kId}),
               Index("ByName", {kName}, false),
               Index("ByCode", {kCode}, false),
               Index("ByGroup", {kGroup, kCode}, false),
               Index("ByQty", {kQty}, false, 0, true),
               note_upper};
  return d;
}

TTableDefinition Plain(int16_t language) {
  TTableDefinition d;
  d.LanguageId = language;
  d.Fields = Fields();
  return d;
}

constexpr int16_t kGerman = 0x0407;

// Texts of the random records and conditions, in mixed case (\xC4 is the
// upper case of \xE4); on a German table with letters the collator ranks
// alike (a, \xE4, A; \xDF and SS when case is ignored) and unlike bytewise
// order.
using TTexts = std::array<const char*, 8>;
constexpr TTexts kTexts = {"", "a", "A", "ab", "aB", "b", "\xE4", "\xC4"};
constexpr TTexts kGermanTexts = {"",
                                 "a",
                                 "\xE4",
                                 "A",
                                 "\xC4"
                                 "b",
                                 "b",
                                 "\xDF",
                                 "SS"};

const TTexts& TextsOf(int16_t language) {
  return language == 0 ? kTexts : kGermanTexts;
}

struct Value {
  bool null = true;
  int32_t number = 0;
  std::string text;
};

// The two tables filled alike: a record has the same id and values in both.
class TwinTables {
 public:
  explicit TwinTables(std::mt19937& rng, int16_t language = 0)
      : rng_(rng), texts_(TextsOf(language)) {
    db_.Create("I", Indexed(language));
    db_.Create("P", Plain(language));
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

  // An insert, or a replace or delete of a random live record.
  void RandomChange(TableLoader& indexed, TableLoader& plain) {
    auto at = live.begin();
    std::advance(at, static_cast<long>(rng_() % live.size()));
    switch (rng_() % 3) {
      case 0:
        Insert(indexed, plain, 0);
        break;
      case 1:
        Replace(indexed, plain, at->first);
        break;
      default:
        Delete(indexed, plain, at->first);
        break;
    }
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
    PutString(data, image, field, texts_[1 + rng_() % 7]);
  }
  void PutNumber(const TDataFile& data, std::vector<uint8_t>& image, int32_t field,
                 int32_t spread) {
    if (rng_() % 6 == 0) return;
    PutInt(data, image, field, static_cast<int32_t>(rng_() % (2 * spread + 1)) - spread);
  }

  std::mt19937& rng_;
  const TTexts& texts_;
};

// Random boolean filter texts over indexed and unindexed columns.
class ExpressionMaker {
 public:
  explicit ExpressionMaker(std::mt19937& rng, int16_t language = 0)
      : rng_(rng), texts_(TextsOf(language)) {}

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
        return text ? "UPPER(" + Pick({"NAME", "NOTE"}) + ") " + Operator() + " " + Text()
                    : constant() + " " + Operator() + " " + column;
      case 5:
        return text ? column + " " + Pick({"=", "<>"}) + " '" + Pick({"a*", "aB*", "\xC4*", "*"}) +
                          "'"
                    : column + " " + Operator() + " 1.5";
      case 6:
        // Two comparisons of one column, whose index runs meet.
        return column + " " + Operator() + " " + constant() + " AND " + column + " " + Operator() +
               " " + constant();
      default:
        return column + " " + Operator() + " " + constant();
    }
  }

  std::string Column(bool text) {
    return text ? Pick({"NAME", "NOTE", "UPPER(NOTE)", "UPPER(NAME)"})
                : Pick({"ID", "CODE", "GRP", "QTY"});
  }
  std::string Operator() { return Pick({"=", "<>", "<", ">", "<=", ">="}); }
  std::string Text() {
    if (rng_() % 8 == 0) return "NULL";
    return "'" + std::string(texts_[rng_() % 8]) + "'";
  }
  std::string Number() {
    if (rng_() % 8 == 0) return "NULL";
    return std::to_string(static_cast<int32_t>(rng_() % 11) - 5);
  }
  std::string Pick(std::initializer_list<const char*> choices) {
    return *(choices.begin() + rng_() % choices.size());
  }

  std::mt19937& rng_;
  const TTexts& texts_;
};

// The ids of the records the cursor shows, in its order; walked backwards
// they come in the reverse order.
std::vector<int32_t> VisibleIds(TDataCursor& cursor) {
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<int32_t> ids;
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0)
    ids.push_back(TDataCursor::GetRecordId(image.data()));
  EXPECT_EQ(static_cast<int32_t>(ids.size()), cursor.GetRecordCount());
  std::vector<int32_t> backwards;
  cursor.Last();
  while (cursor.GetPriorRecord(image.data()) == 0)
    backwards.push_back(TDataCursor::GetRecordId(image.data()));
  EXPECT_EQ(std::vector<int32_t>(backwards.rbegin(), backwards.rend()), ids);
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

Answer Filtered(TDataCursor& cursor, const std::string& text,
                const TCursorFilterOptions& options = {}) {
  Answer answer;
  TFilter* filter = nullptr;
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

// Random filters on the twin tables: the indexed table's answer equals the
// plain table's, and a filter rated fully indexed reads no record. Counts
// the filters rated fully and partly indexed.
void CompareRandomFilters(TwinTables& tables, ExpressionMaker& maker, std::mt19937& rng,
                          int32_t rounds, int32_t& fully, int32_t& partly) {
  for (int32_t round = 0; round < rounds; ++round) {
    const std::string text = maker.Make(static_cast<int>(rng() % 4));
    SCOPED_TRACE(text);
    // Half the rounds collect ranges of most keys through their complement;
    // a third read conditions of nearly every record record by record; half
    // compare strings with = and <> ignoring case.
    const bool nocase = round / 2 % 2 == 1;
    const Answer indexed = Filtered(
        *tables.indexed_, text,
        {.CaseInsensitive = nocase, .Complement = round % 2 == 1, .Estimate = round % 3 == 0});
    const Answer plain = Filtered(*tables.plain_, text, {.CaseInsensitive = nocase});
    ASSERT_EQ(indexed.error, plain.error);
    ASSERT_EQ(indexed.ids, plain.ids);
    EXPECT_EQ(plain.level, 0);
    if (indexed.level == 2) {
      ++fully;
      EXPECT_EQ(indexed.reads, 0);
    }
    if (indexed.level == 1) ++partly;
  }
}

TEST_F(CursorFiltersTest, IndexedAnswersEqualRecordByRecordAnswers) {
  SCOPED_TRACE(Seed());
  tables_.Fill(400);
  int32_t fully = 0;
  int32_t partly = 0;
  const int32_t rounds = LongTests() ? 10000 : 1000;
  CompareRandomFilters(tables_, maker_, rng_, rounds, fully, partly);
  // The generator reaches the index paths, not only the fallback.
  EXPECT_GT(fully, rounds / 10);
}

// On a table with a language the string keys follow the collator: their
// ranges give candidates, each read and tested, and the answers still
// equal those read record by record.
TEST_F(CursorFiltersTest, StringKeysOfATableWithALanguageGiveCandidatesOnly) {
  if (!IsKnownLanguage(kGerman, 0)) GTEST_SKIP() << "no German collation on this system";
  SCOPED_TRACE(Seed());
  TwinTables german(rng_, kGerman);
  ExpressionMaker maker(rng_, kGerman);
  german.Fill(300);
  int32_t fully = 0;
  int32_t partly = 0;
  const int32_t rounds = LongTests() ? 5000 : 500;
  CompareRandomFilters(german, maker, rng_, rounds, fully, partly);
  EXPECT_GT(fully, rounds / 20);
  EXPECT_GT(partly, rounds / 20);
  TDataCursor& cursor = *german.indexed_;
  // 'a' ranks with '\xE4' (accents do not count) and apart from 'A': the
  // candidates read are the records that pass, no other.
  for (const char* text : {"NAME = 'a'",
                           "UPPER(NOTE) = '\xC4"
                           "B'",
                           "NAME < 'b'"}) {
    SCOPED_TRACE(text);
    const Answer answer = Filtered(cursor, text);
    EXPECT_EQ(answer.level, 1);
    EXPECT_EQ(answer.ids, Filtered(*german.plain_, text).ids);
    EXPECT_EQ(answer.reads, static_cast<int64_t>(answer.ids.size()));
    EXPECT_LT(answer.reads, cursor.GetTotalRecordCount());
  }
  const Answer code = Filtered(cursor, "CODE = 1 AND NAME = 'a'");
  EXPECT_EQ(code.level, 1);
  EXPECT_EQ(code.ids, Filtered(*german.plain_, "CODE = 1 AND NAME = 'a'").ids);
  EXPECT_EQ(Filtered(cursor, "CODE = 1").reads, 0);
  EXPECT_LE(code.reads, static_cast<int64_t>(Filtered(cursor, "CODE = 1").ids.size()));
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
  // Rated with estimates, a condition of more than 90% of the records is
  // read record by record, a narrow one still from its index.
  EXPECT_EQ(Filtered(cursor, "CODE = 1", {.Estimate = true}).reads, 0);
  const Answer most = Filtered(cursor, "ID > 1", {.Estimate = true});
  EXPECT_EQ(most.level, 0);
  EXPECT_EQ(most.reads, cursor.GetTotalRecordCount());
  EXPECT_EQ(most.ids, Filtered(cursor, "ID > 1").ids);
  EXPECT_EQ(Filtered(cursor, "ID > 1").reads, 0);
  // UPPER of a column is answered by a case-insensitive index only, and a
  // plain comparison by a case-sensitive one.
  for (const char* text : {"UPPER(NOTE) = 'B'", "UPPER(NOTE) IN ('A', 'b', 'BA')",
                           "UPPER(NAME) >= 'B'", "NOTE < 'b'"}) {
    SCOPED_TRACE(text);
    const Answer upper = Filtered(cursor, text);
    const bool indexed = std::string(text).rfind("UPPER(NOTE)", 0) == 0;
    EXPECT_EQ(upper.level, indexed ? 2 : 0);
    EXPECT_EQ(upper.reads, indexed ? 0 : cursor.GetTotalRecordCount());
    EXPECT_EQ(upper.ids, Filtered(*tables_.plain_, text).ids);
  }
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

// With the option that makes = and <> ignore case, a string comparison of
// NOTE, whole or of its first characters, is answered by the index on NOTE
// that ignores case without reading a record, as record by record; NAME has
// only an index with case, which cannot answer it.
TEST_F(CursorFiltersTest, ComparisonsIgnoringCaseAreAnsweredByAnIndexIgnoringCase) {
  SCOPED_TRACE(Seed());
  tables_.Fill(400);
  TDataCursor& cursor = *tables_.indexed_;
  const TCursorFilterOptions nocase{.CaseInsensitive = true};
  for (const char* text : {"NOTE = 'ab'", "NOTE <> 'AB'", "NOTE = '\xE4'", "NOTE = 'a*'",
                           "NOTE <> 'Ab*'", "UPPER(NOTE) = 'aB'", "NOTE = 'A' OR NOTE = '\xC4'"}) {
    SCOPED_TRACE(text);
    const Answer answer = Filtered(cursor, text, nocase);
    EXPECT_EQ(answer.level, 2);
    EXPECT_EQ(answer.reads, 0);
    EXPECT_EQ(answer.ids, Filtered(*tables_.plain_, text, nocase).ids);
    // The mixed-case records pass otherwise than with case.
    EXPECT_NE(answer.ids, Filtered(*tables_.plain_, text).ids);
  }
  const Answer name = Filtered(cursor, "NAME = 'ab'", nocase);
  EXPECT_EQ(name.level, 0);
  EXPECT_EQ(name.ids, Filtered(*tables_.plain_, "NAME = 'ab'", nocase).ids);
  // The NOTE side, answered by its index, limits the records read for NAME.
  const Answer both = Filtered(cursor, "NAME = 'a*' AND NOTE = 'aB'", nocase);
  EXPECT_EQ(both.level, 1);
  EXPECT_EQ(both.reads, static_cast<int64_t>(Filtered(cursor, "NOTE = 'aB'", nocase).ids.size()));
  EXPECT_EQ(both.ids, Filtered(*tables_.plain_, "NAME = 'a*' AND NOTE = 'aB'", nocase).ids);
}

TEST_F(CursorFiltersTest, TheViewFollowsInsertsChangesAndDeletes) {
  SCOPED_TRACE(Seed());
  tables_.Fill(200);
  TDataCursor& cursor = *tables_.indexed_;
  TDataCursor& plain = *tables_.plain_;
  // An indexed filter, an unindexed one, a restricting one and one that
  // an index answers whole (through the complement of its keys, which
  // names deleted slots too), in index order under a range on the indexed
  // table and in natural order on the plain one.
  const std::vector<std::string> texts = {"CODE >= 0 OR NAME < 'b'", "NOTE LIKE '%a%' OR QTY = 1",
                                          "GRP IS NOT NULL", "CODE >= -1"};
  for (TDataCursor* c : {&cursor, &plain}) {
    for (size_t k = 0; k < texts.size(); ++k) {
      TCursorFilterOptions options;
      options.Restricting = k == 2;
      options.Complement = k == 3;
      TFilter* filter = c->AddFilter(texts[k].c_str(), nullptr, nullptr, nullptr, options);
      if (c == &cursor && k == 3) {
        ASSERT_TRUE(filter->IndexAnswersWhole());
      }
      c->ActivateFilter(filter);
    }
  }
  cursor.SetIndexByName("ByCode");
  std::vector<uint8_t> low(static_cast<size_t>(cursor.GetRecordSize()));
  std::vector<uint8_t> high = low;
  const TDataFile& data = cursor.Table()->DataFile();
  PutInt(data, low, kCode, -2);
  PutInt(data, high, kCode, 3);
  cursor.SetRange(false, low.data(), 1, high.data(), 1);
  const std::string all =
      "(" + texts[0] + ") AND (" + texts[1] + ") AND " + texts[2] + " AND " + texts[3];
  for (int32_t step = 0; step < 60; ++step) {
    {
      TableLoader indexed(tables_.db_.directory, "I");
      TableLoader unindexed(tables_.db_.directory, "P");
      tables_.RandomChange(indexed, unindexed);
    }
    tables_.Posted();
    auto fresh = tables_.db_.Open("P");
    const std::vector<int32_t> in_range = Filtered(*fresh, all + " AND CODE BETWEEN -2 AND 3").ids;
    ASSERT_EQ(Sorted(VisibleIds(cursor)), in_range) << "step " << step;
    ASSERT_EQ(cursor.GetRecordCount(), static_cast<int32_t>(in_range.size())) << "step " << step;
    const std::vector<int32_t> ids = Filtered(*fresh, all).ids;
    ASSERT_EQ(Sorted(VisibleIds(plain)), ids) << "step " << step;
    ASSERT_EQ(plain.GetRecordCount(), static_cast<int32_t>(ids.size())) << "step " << step;
  }
}

// Filters activated and dropped one by one in natural order: the view is
// always that of the active ones, and once the last one goes it is every
// live record, with the inserts, changes and deletes the cursor heard of
// while filtered (its own posts) and those it did not (another writer's,
// found by the next read bracket).
TEST_F(CursorFiltersTest, FiltersActivatedAndDroppedOneByOneShowTheRecordsAsTheyAreNow) {
  SCOPED_TRACE(Seed());
  tables_.Fill(200);
  TDataCursor& plain = *tables_.plain_;
  const std::vector<std::string> texts = {"NOTE LIKE '%a%' OR QTY = 1", "CODE >= 0",
                                          "GRP IS NOT NULL"};
  // The ids a fresh cursor shows with the filters active.
  const auto expected = [&](const std::vector<size_t>& active) {
    std::vector<int32_t> ids;
    if (active.empty()) {
      for (const auto& [id, slots] : tables_.live) ids.push_back(id);
      return ids;
    }
    std::string all = "(" + texts[active.front()] + ")";
    for (size_t n = 1; n < active.size(); ++n) all += " AND (" + texts[active[n]] + ")";
    auto fresh = tables_.db_.Open("P");
    return Filtered(*fresh, all).ids;
  };
  const auto change = [&] {
    TableLoader indexed(tables_.db_.directory, "I");
    TableLoader unindexed(tables_.db_.directory, "P");
    for (uint32_t changes = rng_() % 4; changes > 0; --changes) {
      tables_.RandomChange(indexed, unindexed);
    }
  };
  for (int32_t step = 0; step < 40; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    std::vector<size_t> active;
    std::vector<TFilter*> filters;
    for (size_t k = 0; k < texts.size(); ++k) {
      if (rng_() % 2 == 0 && k + 1 < texts.size()) continue;
      if (rng_() % 3 == 0) {
        change();
        if (rng_() % 2 == 0) tables_.Posted();
      }
      active.push_back(k);
      filters.push_back(plain.AddFilter(texts[k].c_str(), nullptr, nullptr, nullptr, {}));
      plain.ActivateFilter(filters.back());
      ASSERT_EQ(Sorted(VisibleIds(plain)), expected(active)) << filters.size() << " filters on";
    }
    change();
    if (rng_() % 2 == 0) tables_.Posted();
    while (!filters.empty()) {
      const size_t k = rng_() % filters.size();
      plain.DropFilter(filters[k]);
      filters.erase(filters.begin() + static_cast<long>(k));
      active.erase(active.begin() + static_cast<long>(k));
      const std::vector<int32_t> ids = expected(active);
      ASSERT_EQ(Sorted(VisibleIds(plain)), ids) << filters.size() << " filters left";
      ASSERT_EQ(plain.GetRecordCount(), static_cast<int32_t>(ids.size()));
    }
  }
}

// A chain of 100,000 conditions is rated and answered on a stack of its
// own, through the indexes as record by record.
TEST_F(CursorFiltersTest, AChainOfAHundredThousandConditionsIsAnswered) {
  SCOPED_TRACE(Seed());
  // Few records: the depth is the point, and each is read through the whole chain.
  tables_.Fill(15);
  std::string text = "CODE = 1";
  for (int32_t i = 1; i < 100000; ++i) {
    text += (i % 3 == 0 ? " AND GRP <> " : " OR CODE = ") + std::to_string(i % 5 - 2);
  }
  const Answer indexed = Filtered(*tables_.indexed_, text);
  const Answer plain = Filtered(*tables_.plain_, text);
  ASSERT_EQ(indexed.error, 0);
  EXPECT_EQ(indexed.level, 2);
  EXPECT_EQ(indexed.ids, plain.ids);
  EXPECT_FALSE(indexed.ids.empty());
}

// A table of the small definition (VALUE under the primary index) that
// the table helper, a second process, changes while this process fills a
// filter: a record callback asks it for a change each time it tests record
// 1, for as many rounds as it is allowed.
class FilterFillTest : public testing::Test {
 protected:
  void SetUp() override {
    db_.Create("T", SmallTableDefinition());
    ASSERT_TRUE(peer_.Ready());
    ASSERT_EQ(peer_.Ask("open " + db_.dir.Path("") + " T"), "ok");
    for (int32_t k = 0; k < 40; ++k) {
      ASSERT_EQ(peer_.Ask("insert " + std::to_string(100 + 3 * k)), "ok " + std::to_string(k + 1));
    }
    cursor_ = db_.Open("T");
    value_offset_ = cursor_->GetTableFieldDesc(3).Offset;
  }

  // Even values pass; testing record 1 has the peer insert a record and
  // give record 1 a new negative value, while changes_left lasts.
  static bool EvenValue(void* user_data, const uint8_t* image, int32_t number) {
    auto& test = *static_cast<FilterFillTest*>(user_data);
    test.tested_.insert(number);
    if (number == 1 && test.changes_left_ > 0) {
      --test.changes_left_;
      const int32_t round = static_cast<int32_t>(test.answers_.size());
      test.answers_.push_back(test.peer_.Ask("insert " + std::to_string(1000 + round)));
      if (test.answers_.back().rfind("ok", 0) == 0) {
        const int32_t value = GetInt32(image + test.value_offset_ + 1);
        EXPECT_EQ(
            test.peer_.Ask("edit 1 " + std::to_string(value) + " " + std::to_string(-1 - round)),
            "ok");
      }
    }
    return GetInt32(image + test.value_offset_ + 1) % 2 == 0;
  }

  // The record numbers and values the peer reads now.
  std::map<int32_t, int32_t> Live() {
    std::istringstream answer(peer_.Ask("live"));
    std::string ok;
    size_t count = 0;
    answer >> ok >> count;
    std::map<int32_t, int32_t> live;
    for (std::string item; answer >> item;) {
      const size_t equals = item.find('=');
      live[std::stoi(item.substr(0, equals))] = std::stoi(item.substr(equals + 1));
    }
    EXPECT_EQ(live.size(), count);
    return live;
  }

  // The filters' bitmaps hold exactly the live records that pass them.
  void ExpectBitmapsOf(const std::map<int32_t, int32_t>& live, TFilter* at_least, TFilter* even) {
    for (const auto& [number, value] : live) {
      SCOPED_TRACE("record " + std::to_string(number) + " value " + std::to_string(value));
      EXPECT_EQ(at_least->Bitmap().IsSet(number), value >= 100);
      EXPECT_EQ(even->Bitmap().IsSet(number), value % 2 == 0);
      EXPECT_EQ(tested_.count(number), 1U);
    }
  }

  CursorDatabase db_;
  Peer peer_;
  std::unique_ptr<TDataCursor> cursor_;
  int32_t value_offset_ = 0;
  int32_t changes_left_ = 0;
  std::vector<std::string> answers_;
  std::set<int32_t> tested_;
};

// The indexed filter is collected before the callback's change: the round
// is void, and the next one fills both filters from the files as changed.
TEST_F(FilterFillTest, AChangeByAnotherProcessDuringTheFillStartsItAgain) {
  TFilter* at_least = cursor_->AddFilter("VALUE >= 100", nullptr, nullptr, nullptr, {});
  TFilter* even = cursor_->AddFilter(nullptr, nullptr, EvenValue, this, {});
  changes_left_ = 1;
  cursor_->ActivateFilter(nullptr);
  ASSERT_EQ(answers_, std::vector<std::string>{"ok 41"});
  EXPECT_EQ(at_least->OptimizeLevel(), 2);
  const std::map<int32_t, int32_t> live = Live();
  ASSERT_EQ(live.size(), 41U);
  EXPECT_EQ(live.at(1), -1);
  ExpectBitmapsOf(live, at_least, even);
  EXPECT_EQ(cursor_->GetRecordCount(), 20);
}

// A writer that changes the table in every round cannot keep the fill
// going: the last round holds the read lock, and the writer's change in it
// fails for the lock while the fill completes.
TEST_F(FilterFillTest, TheLastRoundOfAFillKeepsWritersOut) {
  ASSERT_EQ(peer_.Ask("retries 2"), "ok");
  TFilter* at_least = cursor_->AddFilter("VALUE >= 100", nullptr, nullptr, nullptr, {});
  TFilter* even = cursor_->AddFilter(nullptr, nullptr, EvenValue, this, {});
  changes_left_ = 100;
  cursor_->ActivateFilter(nullptr);
  // Four rounds voided by a change each, the fifth under the lock.
  ASSERT_EQ(answers_.size(), 5U);
  EXPECT_EQ(answers_.back(), "err 10249");
  for (size_t k = 0; k + 1 < answers_.size(); ++k) {
    EXPECT_EQ(answers_[k], "ok " + std::to_string(41 + k));
  }
  const std::map<int32_t, int32_t> live = Live();
  EXPECT_EQ(live.size(), 40 + answers_.size() - 1);
  ExpectBitmapsOf(live, at_least, even);
}

// The values a record callback saw; even values pass.
struct SeenValues {
  int32_t offset = 0;
  std::set<int32_t> values;
};

bool EvenSeenValue(void* user_data, const uint8_t* image, int32_t) {
  auto* seen = static_cast<SeenValues*>(user_data);
  const int32_t value = GetInt32(image + seen->offset + 1);
  seen->values.insert(value);
  return value % 2 == 0;
}

// The live slots a fill starts from are those of the table as it is now:
// a record another cursor deleted, while this one's view was off or on,
// is not tested again, though nothing of this cursor changed meanwhile.
TEST(FilterLiveSlots, RecordsAnotherCursorDeletedBetweenFillsAreGone) {
  CursorDatabase db;
  db.Create("T", SmallTableDefinition());
  std::unique_ptr<TDataCursor> writer = db.Open("T");
  std::unique_ptr<TDataCursor> reader = db.Open("T");
  std::vector<uint8_t> image(static_cast<size_t>(writer->GetRecordSize()));
  constexpr int32_t kValue = 3;
  for (int32_t value = 100; value < 140; ++value) {
    writer->InitRecord(image.data());
    writer->SetFieldData(kValue, image.data(), false, &value);
    writer->InsertRecord(image.data(), false);
  }
  SeenValues seen{reader->GetTableFieldDesc(kValue).Offset, {}};
  const auto remove = [&](int32_t value) {
    writer->First();
    while (writer->GetNextRecord(image.data()) == 0) {
      if (GetInt32(image.data() + seen.offset + 1) == value) {
        writer->DeleteRecord(image.data(), false);
        return;
      }
    }
    ADD_FAILURE() << "no record holds " << value;
  };
  TFilter* even = reader->AddFilter(nullptr, nullptr, EvenSeenValue, &seen, {});
  reader->ActivateFilter(even);
  EXPECT_EQ(reader->GetRecordCount(), 20);
  reader->DeactivateFilter(even);
  remove(112);
  seen.values.clear();
  reader->ActivateFilter(even);
  EXPECT_EQ(reader->GetRecordCount(), 19);
  EXPECT_EQ(seen.values.size(), 39U);
  EXPECT_EQ(seen.values.count(112), 0U);
  remove(118);
  seen.values.clear();
  EXPECT_EQ(reader->GetRecordCount(), 18);
  EXPECT_EQ(seen.values.size(), 38U);
  EXPECT_EQ(seen.values.count(118), 0U);
}

// A filter reads the records the cache does not hold straight from the
// file, a window at a time, without entering them in the cache, and takes
// the cached image where there is one: a transaction's changes and the
// records it appended past the end of the file, none of them on disk yet.
// The table is encrypted, so every image read from the file is decoded.
TEST(FilterRecordWalk, FileWindowsAndCachedChangesGiveTheRecordsAsTheyAreNow) {
  CursorDatabase db;
  TTableDefinition definition = Indexed(0);
  definition.Encrypted = true;
  definition.Password = "Secret";
  db.session.AddPassword("Secret");
  db.Create("E", definition);
  constexpr int32_t kRecords = 3000;
  std::map<int32_t, int32_t> qty;  // by id
  {
    TableLoader loader(db.directory, "E");
    for (int32_t k = 1; k <= kRecords; ++k) {
      std::vector<uint8_t> image = loader.Image();
      PutInt(loader.Data(), image, kQty, k % 7);
      loader.Insert(image);
      qty[loader.Data().LastAutoInc()] = k % 7;
    }
    loader.Flush();
  }
  std::unique_ptr<TDataCursor> cursor = db.Open("E");
  TDataFile& data = cursor->Table()->DataFile();
  data.DropRecordCache();
  // The fill enters no record in the cache; the cursor then looks up its
  // record and stands on the nearest visible one.
  const auto expect_filtered = [&](const char* when) {
    SCOPED_TRACE(when);
    std::vector<int32_t> passing;
    for (const auto& [id, value] : qty) {
      if (value == 3) passing.push_back(id);
    }
    TFilter* filter = cursor->AddFilter("QTY = 3", nullptr, nullptr, nullptr, {});
    const int64_t reads = cursor->FilterRecordReads();
    const int32_t cached = data.CachedRecordCount();
    cursor->ActivateFilter(filter);
    EXPECT_EQ(filter->OptimizeLevel(), 0);
    EXPECT_EQ(cursor->FilterRecordReads() - reads, static_cast<int64_t>(qty.size()));
    EXPECT_LE(data.CachedRecordCount(), cached + 2);
    EXPECT_EQ(Sorted(VisibleIds(*cursor)), passing);
    cursor->DropFilter(filter);
  };
  expect_filtered("from the file");

  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  std::vector<uint8_t> probe(image.size());
  db.directory->StartTransaction();
  for (int32_t id = 5; id <= kRecords; id += 97) {
    cursor->InitRecord(probe.data());
    cursor->SetFieldData(kId, probe.data(), false, &id);
    ASSERT_TRUE(cursor->SeekKey(false, probe.data(), image.data(), 0, false, 0));
    ASSERT_EQ(cursor->GetCurrentRecord(image.data(), true), 0);
    const int32_t three = 3;
    cursor->SetFieldData(kQty, image.data(), false, &three);
    cursor->ModifyRecord(image.data(), true, false);
    qty[id] = 3;
  }
  for (int32_t k = 0; k < 40; ++k) {
    cursor->InitRecord(image.data());
    const int32_t value = k % 2 == 0 ? 3 : 4;
    cursor->SetFieldData(kQty, image.data(), false, &value);
    cursor->InsertRecord(image.data(), false);
    qty[TDataCursor::GetRecordId(image.data())] = value;
  }
  expect_filtered("in the transaction");
  db.directory->Commit(true);
  data.DropRecordCache();
  expect_filtered("after the commit");
}

TEST_F(CursorFiltersTest, FilterErrorsNameTheirCause) {
  tables_.Fill(20);
  TDataCursor& cursor = *tables_.indexed_;
  // The text is read in the session's locale (language 0: '.' decimals),
  // not in the process's, which comes back afterwards.
  const TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Filtered(cursor, "QTY > 1.5").ids, Filtered(cursor, "QTY >= 2").ids);
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  FormatSettings() = saved;
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
