// The cache order routines (records by number) and the record sort-key
// order: the order they give equals the order of the numbers, and of the
// values the keys were built from, duplicates and descending fields included.
#include "engine/core/record_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/support/field_keys.h"
#include "engine/support/field_types.h"
#include "engine/support/key_images.h"
#include "engine/support/language_settings.h"
#include "engine/support/system_list.h"

namespace jw::test {
namespace {

int Sign(int value) {
  return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int Rounds(int normal, int long_run) {
  return std::getenv("JW_LONG_TESTS") != nullptr ? long_run : normal;
}

std::unique_ptr<TRecord> NumberedRecord(int32_t number) {
  auto record = std::make_unique<TRecord>(nullptr);
  record->SetRecordNumber(number);
  return record;
}

TEST(CacheOrder, NumberComparedNotSubtracted) {
  struct Case {
    int32_t own;
    int32_t number;
    int expected;
  };
  const Case cases[] = {
      {5, 5, 0},
      {4, 5, -1},
      {6, 5, 1},
      {0, 0, 0},
      {-1, 0, -1},
      {1, -1, 1},
      {INT_MIN, INT_MAX, -1},
      {INT_MAX, INT_MIN, 1},
      {INT_MAX, -1, 1},
  };
  for (const Case& c : cases) {
    const auto record = NumberedRecord(c.own);
    EXPECT_EQ(CompareCacheNumber(record.get(), c.number), c.expected)
        << c.own << " vs " << c.number;
    const auto other = NumberedRecord(c.number);
    EXPECT_EQ(CompareCacheObjects(record.get(), other.get()), c.expected);
    EXPECT_EQ(CompareCacheObjects(other.get(), record.get()), -c.expected);
  }
}

TEST(CacheOrder, SortsAndSearchesRecordsByNumber) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < Rounds(50, 2000); ++round) {
    const int count = std::uniform_int_distribution<int>(0, 60)(random);
    std::vector<std::unique_ptr<TRecord>> records;
    std::vector<int32_t> model;
    TSystemList list;
    for (int i = 0; i < count; ++i) {
      // A narrow range gives duplicates.
      const int32_t number = std::uniform_int_distribution<int32_t>(1, 40)(random);
      records.push_back(NumberedRecord(number));
      model.push_back(number);
      list.Add(records.back().get());
    }
    std::sort(model.begin(), model.end());

    // As the engine's own sort routine ...
    list.Sort([](void* a, void* b) {
      return CompareCacheObjects(static_cast<const TRecord*>(a), static_cast<const TRecord*>(b));
    });
    std::vector<const TRecord*> sorted;
    for (int i = 0; i < list.Count(); ++i)
      sorted.push_back(static_cast<const TRecord*>(list.Get(i)));
    for (int i = 0; i < count; ++i) ASSERT_EQ(sorted[i]->RecordNumber(), model[i]) << i;

    // ... and as the search of a number-ordered cache.
    for (int32_t number = 0; number <= 41; ++number) {
      const auto it = std::lower_bound(
          sorted.begin(), sorted.end(), number,
          [](const TRecord* r, int32_t n) { return CompareCacheNumber(r, n) < 0; });
      const bool present = std::binary_search(model.begin(), model.end(), number);
      ASSERT_EQ(it != sorted.end() && CompareCacheNumber(*it, number) == 0, present) << number;
    }
  }
}

// Sort keys as the record sort builds them: per field a null byte and the
// field's image, then the record id as an integer image.
struct SortRow {
  int32_t Value;
  std::string Text;
  int32_t Id;
};

constexpr int32_t kTextPhysical = 9;  // a string field of size 8
constexpr int32_t kSortKeyLength = (4 + 1) + (kTextPhysical + 1) + 4;

struct SortSetup {
  uint16_t Language;
  bool ValueDescending;
  bool TextDescending;
};

void BuildSortKey(const SortRow& row, const SortSetup& setup, TRecord& record) {
  record.ReserveKey(kSortKeyLength);
  record.SetKeyLength(kSortKeyLength);
  uint8_t* key = record.Key();
  std::memset(key, 0, kSortKeyLength);
  key[0] = 1;
  BuildFieldKey(kFldInteger, 4, &row.Value, key, 0, setup.Language, setup.ValueDescending, false);
  uint8_t* text = key + 5;
  text[0] = 1;
  char value[kTextPhysical] = {};
  std::memcpy(value, row.Text.data(), row.Text.size());
  BuildFieldKey(kFldString, kTextPhysical, value, text, 0, setup.Language, setup.TextDescending,
                false);
  EncodeIntKey(row.Id, key + kSortKeyLength - 4);
}

// The order the values themselves give: integer, then text (bytes for
// language 0, the locale otherwise), each reversed when descending, then
// ascending record id.
int ModelCompare(const SortRow& a, const SortRow& b, const SortSetup& setup) {
  int result = a.Value < b.Value ? -1 : (a.Value > b.Value ? 1 : 0);
  if (setup.ValueDescending) result = -result;
  if (result != 0) return result;
  result = setup.Language == 0
               ? Sign(a.Text.compare(b.Text))
               : CompareLocaleStrings(setup.Language, 0, a.Text.c_str(), false, 0, b.Text.c_str());
  if (setup.TextDescending) result = -result;
  if (result != 0) return result;
  return a.Id < b.Id ? -1 : (a.Id > b.Id ? 1 : 0);
}

TEST(RecordKeyOrder, SortsRecordsInTheOrderOfTheirValues) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // 0xE4 is a-umlaut in code page 1252: equal to 'a' when accents are
  // ignored, so German ties fall through to the record id.
  const std::string alphabet = "aAbB\xE4z";
  const SortSetup setups[] = {
      {0, false, false},      {0, true, false},      {0, false, true},      {0, true, true},
      {0x0407, false, false}, {0x0407, true, false}, {0x0407, false, true}, {0x0407, true, true},
  };
  for (const SortSetup& setup : setups) {
    SCOPED_TRACE("language " + std::to_string(setup.Language) + " descending " +
                 std::to_string(setup.ValueDescending) + std::to_string(setup.TextDescending));
    const TIndexKeyOrder order(0, false,
                               {{kFldInteger, 4, setup.ValueDescending},
                                {kFldString, kTextPhysical, setup.TextDescending}},
                               setup.Language, 0);
    for (int round = 0; round < Rounds(20, 500); ++round) {
      const int count = std::uniform_int_distribution<int>(1, 40)(random);
      std::vector<SortRow> rows;
      std::vector<int32_t> ids(count);
      for (int i = 0; i < count; ++i) ids[i] = i * 3 - 20;
      std::shuffle(ids.begin(), ids.end(), random);
      for (int i = 0; i < count; ++i) {
        SortRow row{std::uniform_int_distribution<int32_t>(-2, 2)(random), "", ids[i]};
        const int length = std::uniform_int_distribution<int>(0, 3)(random);
        for (int k = 0; k < length; ++k) {
          row.Text +=
              alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
        }
        rows.push_back(row);
      }
      std::vector<std::unique_ptr<TRecord>> records;
      std::vector<TRecord*> sorted;
      for (const SortRow& row : rows) {
        records.push_back(std::make_unique<TRecord>(nullptr));
        records.back()->SetRecordNumber(row.Id);
        BuildSortKey(row, setup, *records.back());
        sorted.push_back(records.back().get());
      }
      std::sort(sorted.begin(), sorted.end(),
                [&](TRecord* a, TRecord* b) { return CompareRecordKeys(a, b, order) < 0; });
      std::sort(rows.begin(), rows.end(),
                [&](const SortRow& a, const SortRow& b) { return ModelCompare(a, b, setup) < 0; });
      for (int i = 0; i < count; ++i) ASSERT_EQ(sorted[i]->RecordNumber(), rows[i].Id) << i;
      for (int i = 0; i < count; ++i) {
        for (int j = 0; j < count; ++j) {
          const int result = CompareRecordKeys(sorted[i], sorted[j], order);
          ASSERT_EQ(result, i < j ? -1 : (i > j ? 1 : 0)) << i << " " << j;
          // Language 0 keys sort as their bytes, descending fields included.
          if (setup.Language == 0) {
            ASSERT_EQ(result,
                      Sign(std::memcmp(sorted[i]->Key(), sorted[j]->Key(), kSortKeyLength)));
          }
        }
      }
    }
  }
}

TEST(RecordKeyOrder, ShorterKeyThatIsAPrefixSortsFirst) {
  const TIndexKeyOrder order(0, false, {{kFldInteger, 4, false}}, 0, 0);
  TRecord a(nullptr);
  TRecord b(nullptr);
  a.ReserveKey(9);
  b.ReserveKey(9);
  const uint8_t bytes[9] = {1, 0x80, 0, 0, 7, 0x80, 0, 0, 1};
  std::memcpy(a.Key(), bytes, 9);
  std::memcpy(b.Key(), bytes, 9);
  a.SetKeyLength(5);
  b.SetKeyLength(9);
  EXPECT_EQ(CompareRecordKeys(&a, &b, order), -1);
  EXPECT_EQ(CompareRecordKeys(&b, &a, order), 1);
  b.SetKeyLength(5);
  EXPECT_EQ(CompareRecordKeys(&a, &b, order), 0);
  b.Key()[4] = 6;
  EXPECT_EQ(CompareRecordKeys(&a, &b, order), 1);
}

}  // namespace
}  // namespace jw::test
