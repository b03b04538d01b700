// The compiled filter program against the tree evaluator: random filters
// over columns of every type it covers (and some it leaves to the
// evaluator), on records with NULLs, extreme numbers, NaN and infinities,
// empty and full-length texts, give the same answer record for record, and
// the filtered view counts exactly the records the evaluator passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "engine/core/filter.h"
#include "engine/core/filter_program.h"
#include "platform/rtl/date_time.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kRecords = 250;

struct TColumn {
  const char* Name;
  uint8_t Type;
  uint8_t Size;
};

constexpr TColumn kColumns[] = {
    {"S", kFldString, 6}, {"I", kFldInteger, 0},    {"SI", kFldSmallInt, 0},
    {"W", kFldWord, 0},   {"F", kFldFloat, 0},      {"D", kFldDate, 0},
    {"T", kFldTime, 0},   {"TS", kFldTimeStamp, 0}, {"B", kFldBoolean, 0}};

TTableDefinition Definition() {
  TTableDefinition d;
  d.Fields.push_back(Field("ID", kFldInteger, 0, kSubTypeAutoInc));
  for (const TColumn& column : kColumns)
    d.Fields.push_back(Field(column.Name, column.Type, column.Size));
  return d;
}

template <typename T>
T Pick(std::mt19937& rng, std::initializer_list<T> choices) {
  return *(choices.begin() + rng() % choices.size());
}

class FilterProgramTest : public testing::Test {
 protected:
  FilterProgramTest() {
    const TTimeStamp now = DateTimeToTimeStamp(Now());
    today_ = now.Date;
    now_ms_ = TimeStampToMSecs(now);
    db_.Create("R", Definition());
    {
      TableLoader loader(db_.directory, "R");
      for (int32_t i = 0; i < kRecords; ++i) {
        auto image = loader.Image();
        for (int32_t field = 2; field <= static_cast<int32_t>(std::size(kColumns)) + 1; ++field) {
          PutRandom(loader.Data().FieldDesc(field), image);
        }
        loader.Insert(image);
      }
      loader.Flush();
    }
    cursor_ = db_.Open("R", true);
  }

  // A random value of the field's type, NULL one time in six.
  void PutRandom(const FieldDescriptor& field, std::vector<uint8_t>& image) {
    uint8_t* slot = image.data() + field.Offset;
    if (rng_() % 6 == 0) return;
    slot[0] = 1;
    uint8_t* value = slot + 1;
    const auto put = [value](auto v) { std::memcpy(value, &v, sizeof v); };
    constexpr double kInf = std::numeric_limits<double>::infinity();
    switch (field.Type) {
      case kFldString:
        if (rng_() % 8 == 0) {
          // Every byte of the field used: no terminating zero in the slot.
          std::memset(value, 'z', field.PhysicalLength);
        } else {
          const char* text = Pick(rng_, {"", "a", "ab", "abc", "b", "B", "ba", "c", "abcdef"});
          std::memcpy(value, text, std::strlen(text));
        }
        break;
      case kFldInteger:
        put(Pick<int32_t>(rng_, {std::numeric_limits<int32_t>::min(),
                                 std::numeric_limits<int32_t>::max(), -5, -1, 0, 1, 2, 3, 5}));
        break;
      case kFldSmallInt:
        put(Pick<int16_t>(rng_, {-32768, 32767, -2, -1, 0, 1, 2}));
        break;
      case kFldWord:
        put(Pick<uint16_t>(rng_, {0, 1, 2, 5, 65535}));
        break;
      case kFldFloat:
        put(Pick<double>(rng_, {-0.0, 0.0, 1.5, -1.5, 2, -5, 1e300, kInf, -kInf,
                                std::numeric_limits<double>::quiet_NaN()}));
        break;
      case kFldDate:
        put(today_ + static_cast<int32_t>(rng_() % 5) - 2);
        break;
      case kFldTime:
        put(static_cast<int32_t>(rng_() % 5) * 3600000);
        break;
      case kFldTimeStamp:
        put(now_ms_ + (static_cast<double>(rng_() % 5) - 2) * kMSecsPerDay / 2);
        break;
      default:
        put(static_cast<int16_t>(rng_() % 2));
        break;
    }
  }

  std::string Make(int depth) {
    const uint32_t pick = rng_() % 10;
    if (depth > 0 && pick < 2) return Make(depth - 1) + " AND " + Make(depth - 1);
    if (depth > 0 && pick < 4) return "(" + Make(depth - 1) + " OR " + Make(depth - 1) + ")";
    if (depth > 0 && pick < 5) return "NOT (" + Make(depth - 1) + ")";
    return Condition();
  }

  std::string Condition() {
    const TColumn& column = kColumns[rng_() % std::size(kColumns)];
    const std::string name = column.Name;
    if (rng_() % 6 == 0) return name + Pick<const char*>(rng_, {" IS NULL", " IS NOT NULL"});
    const std::string op = Pick<const char*>(rng_, {"=", "<>", "<", ">", "<=", ">="});
    const std::string constant = Constant(column.Type);
    // Now and then the constant comes first.
    return rng_() % 4 == 0 ? constant + " " + op + " " + name : name + " " + op + " " + constant;
  }

  // A constant mostly of the column's kind, sometimes of another.
  std::string Constant(uint8_t type) {
    if (rng_() % 12 == 0) return "NULL";
    if (rng_() % 10 == 0) type = kColumns[rng_() % std::size(kColumns)].Type;
    switch (type) {
      case kFldString:
        return Pick<const char*>(
            rng_, {"''", "'a'", "'ab'", "'B'", "'abcdef'", "'zzzzzz'", "'zzzzzzz'", "'a*'", "'*'"});
      case kFldDate:
        return Pick<const char*>(rng_, {"CURRENT_DATE", "CURRENT_TIMESTAMP"});
      case kFldTime:
        return "CURRENT_TIME";
      case kFldTimeStamp:
        return Pick<const char*>(rng_, {"CURRENT_TIMESTAMP", "CURRENT_DATE"});
      default:
        return Pick<const char*>(rng_, {"0", "1", "-1", "2", "5", "1.5", "-0.5", "65535",
                                        "2147483647", "-2147483648", "40000", "1e300"});
    }
  }

  const uint32_t seed_ = TestSeed();
  std::mt19937 rng_{seed_};
  int32_t today_ = 0;
  double now_ms_ = 0;
  CursorDatabase db_;
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(FilterProgramTest, CompiledAnswersEqualTheTreeEvaluatorsForEveryRecord) {
  SCOPED_TRACE("seed " + std::to_string(seed_) + " (JW_SEED)");
  TDataCursor& cursor = *cursor_;
  std::vector<std::vector<uint8_t>> images;
  std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
  cursor.First();
  while (cursor.GetNextRecord(image.data()) == 0) images.push_back(image);
  ASSERT_EQ(static_cast<int32_t>(images.size()), kRecords);
  TRecordsBitmap passing;
  passing.SetRecordCount(kRecords);
  const int32_t rounds = LongTests() ? 20000 : 2000;
  int32_t compiled = 0;
  int32_t added = 0;
  for (int32_t round = 0; round < rounds; ++round) {
    const std::string text = Make(static_cast<int>(rng_() % 4));
    SCOPED_TRACE(text);
    TCursorFilterOptions options;
    options.CaseInsensitive = rng_() % 3 == 0;
    options.PartialMatchingOff = rng_() % 3 == 0;
    TFilter* filter = nullptr;
    try {
      filter = cursor.AddFilter(text.c_str(), nullptr, nullptr, nullptr, options);
    } catch (const EQuireEngineError&) {
      continue;  // a type mismatch the binder refuses
    }
    ++added;
    const TExpToken& tree = *filter->Tree();
    TFilterProgram program;
    if (program.Compile(cursor, tree)) {
      ++compiled;
      int32_t expected = 0;
      for (int32_t i = 0; i < kRecords; ++i) {
        passing.SetBit(i + 1);
        cursor.TestRecord(images[i].data(), i + 1, nullptr, nullptr, &tree, nullptr, passing);
        const bool evaluator = passing.IsSet(i + 1);
        expected += evaluator ? 1 : 0;
        ASSERT_EQ(program.Passes(images[i].data()), evaluator) << "record " << i + 1;
      }
      cursor.ActivateFilter(filter);
      ASSERT_EQ(cursor.GetRecordCount(), expected);
    }
    cursor.DropFilter(filter);
  }
  // The generator reaches the compiled path often, and the binder accepts
  // most of what it makes.
  EXPECT_GT(added, rounds / 2);
  EXPECT_GT(compiled, added / 2);
}

}  // namespace
}  // namespace jw::test
