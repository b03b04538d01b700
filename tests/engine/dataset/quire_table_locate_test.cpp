// Locate and Lookup against a model of the table's rows, over every kind of
// field and both search paths (an index that fits, a temporary filter), and
// index switches under a master-detail range.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/db/data_source.h"
#include "platform/db/field.h"
#include "table_fixture.h"

namespace jw {
namespace {

using test_support::TableTest;
using test_support::WalkForward;

constexpr int kFieldCount = 8;
const std::array<const char*, kFieldCount> kFieldNames = {"ID",  "NAME", "CODE",   "PRICE",
                                                          "DAY", "FLAG", "AMOUNT", "NOTE"};
constexpr int kId = 0;
constexpr int kName = 1;
constexpr int kCode = 2;
constexpr int kNote = 7;

bool IsTextField(int field) {
  return field == kName || field == kNote;
}

// A value of the field from a small pool, so that searches hit and miss;
// Null now and then (an empty text is a null text).
Variant PoolValue(int field, std::mt19937& random) {
  static const char* const kNames[] = {"", "a", "ab", "Ab", "abc", "ABD", "b", "ba", "Bz"};
  static const char* const kNotes[] = {"", "memo", "Memo two", "memo three", "MEMO"};
  if (field != kId && random() % 7 == 0) return Null();
  switch (field) {
    case kId:
      return Variant(static_cast<int>(random() % 50) + 1);
    case kName:
      return Variant(kNames[random() % std::size(kNames)]);
    case kCode:
      return Variant(static_cast<int>(random() % 5));
    case 3:
      return Variant(std::array<double, 4>{0.1, 2.5, 1.0 / 3, -7.25}[random() % 4]);
    case 4:
      return VarFromDateTime(45000.0 + static_cast<double>(random() % 3));
    case 5:
      return Variant(random() % 2 == 0);
    case 6:
      return Variant(Currency::FromDouble(std::array<double, 3>{10.25, -3.5, 0}[random() % 3]));
    default:
      return Variant(kNotes[random() % std::size(kNotes)]);
  }
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsNullValue(const Variant& value) {
  return VarIsNull(value) || VarIsEmpty(value);
}

// Whether a stored value answers the wanted one under the options: texts
// may ignore case and, with a partial key, match a prefix (without its
// trailing '*'; "*" alone matches every text that is there).
bool Matches(int field, const Variant& stored, const Variant& wanted, TLocateOptions options) {
  const bool text = IsTextField(field);
  const bool stored_null = IsNullValue(stored) || (text && stored.AsString().empty());
  if (IsNullValue(wanted) || (text && wanted.AsString().empty())) return stored_null;
  if (stored_null) return false;
  if (!text) return VarCompare(stored, wanted) == 0;
  std::string have = stored.AsString();
  std::string want = wanted.AsString();
  if (options.Contains(loPartialKey)) {
    if (want.back() == '*') want.pop_back();
    have = have.substr(0, want.size());
  }
  if (options.Contains(loCaseInsensitive)) return Upper(have) == Upper(want);
  return have == want;
}

// ID auto-increment and primary; a text with an index that ignores case, an
// integer with two indexes (one descending), a float, a date, a boolean, a
// BCD and a memo.
class ValueTable : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    table_ = NewTable("values");
    table_->FieldDefs().Add("ID", ftAutoInc);
    table_->FieldDefs().Add("NAME", ftString, 12);
    table_->FieldDefs().Add("CODE", ftInteger);
    table_->FieldDefs().Add("PRICE", ftFloat);
    table_->FieldDefs().Add("DAY", ftDate);
    table_->FieldDefs().Add("FLAG", ftBoolean);
    table_->FieldDefs().Add("AMOUNT", ftBCD, 2);
    table_->FieldDefs().Add("NOTE", ftMemo);
    table_->IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
    table_->IndexDefs().Add("ByCode", "CODE", {});
    table_->IndexDefs().Add("ByCodeDesc", "CODE", {ixDescending});
    table_->IndexDefs().Add("ByName", "NAME", {ixCaseInsensitive});
    table_->CreateTable();
    table_->FieldDefs().Clear();
    table_->Open();
    std::mt19937 random(11);
    const int count = std::getenv("JW_LONG_TESTS") != nullptr ? 400 : 40;
    for (int i = 0; i < count; ++i) {
      std::array<Variant, kFieldCount> row;
      table_->Append();
      for (int f = 1; f < kFieldCount; ++f) {
        row[f] = PoolValue(f, random);
        TField* field = table_->FieldByName(kFieldNames[f]);
        if (IsNullValue(row[f])) {
          field->Clear();
        } else {
          field->SetValue(row[f]);
        }
      }
      table_->Post();
      row[kId] = Variant(Id());
      rows_.push_back(row);
    }
    table_->First();
  }
  int32_t Id() const { return table_->FieldByName("ID")->AsInteger(); }

  // The first row whose fields answer the values; 0 for none. A search
  // by NAME alone ignoring case goes through "ByName" and finds the first
  // in its order (names without regard to case, then IDs), unless it is for
  // the empty prefix, which the filter search answers; any other search
  // finds the first in ID order.
  int32_t ModelFind(const std::vector<int>& fields, const std::vector<Variant>& values,
                    TLocateOptions options) const {
    const bool empty_prefix = options.Contains(loPartialKey) && !IsNullValue(values[0]) &&
                              (values[0].AsString() == "" || values[0].AsString() == "*");
    const bool by_name =
        fields == std::vector<int>{kName} && options.Contains(loCaseInsensitive) && !empty_prefix;
    const auto name_key = [](const auto& row) {
      return IsNullValue(row[kName]) ? std::string() : Upper(row[kName].AsString());
    };
    const std::array<Variant, kFieldCount>* first = nullptr;
    for (const auto& row : rows_) {
      bool all = true;
      for (size_t i = 0; all && i < fields.size(); ++i) {
        all = Matches(fields[i], row[fields[i]], values[i], options);
      }
      if (!all) continue;
      if (first == nullptr || (by_name && name_key(row) < name_key(*first))) first = &row;
      if (!by_name) break;
    }
    return first == nullptr ? 0 : (*first)[kId].AsInteger();
  }

  TQuireTable* table_ = nullptr;
  std::vector<std::array<Variant, kFieldCount>> rows_;
};

TEST_F(ValueTable, LocateAndLookupAnswerAsTheModelDoes) {
  std::mt19937 random(5);
  const int searches = std::getenv("JW_LONG_TESTS") != nullptr ? 5000 : 400;
  for (int search = 0; search < searches; ++search) {
    // One to three distinct fields in any order, values mostly taken from a
    // row so that most searches find something.
    std::vector<int> fields(kFieldCount);
    for (int f = 0; f < kFieldCount; ++f) fields[f] = f;
    std::shuffle(fields.begin(), fields.end(), random);
    fields.resize(random() % 3 + 1);
    const auto& source = rows_[random() % rows_.size()];
    std::vector<Variant> values;
    std::string names;
    for (int f : fields) {
      Variant value = random() % 10 < 7 ? source[f] : PoolValue(f, random);
      if (IsTextField(f) && !IsNullValue(value) && random() % 4 == 0) {
        // A prefix, with or without its '*'.
        std::string text = value.AsString();
        text = text.substr(0, random() % (text.size() + 1)) + (random() % 2 == 0 ? "*" : "");
        value = Variant(text);
      }
      values.push_back(value);
      names += (names.empty() ? "" : ";") + std::string(kFieldNames[f]);
    }
    TLocateOptions options;
    if (random() % 2 == 0) options.Include(loCaseInsensitive);
    if (random() % 2 == 0) options.Include(loPartialKey);
    const Variant key = values.size() == 1 ? values[0] : Variant::ArrayOf(values);
    const int32_t expected = ModelFind(fields, values, options);
    std::string trace = names + " =";
    for (const Variant& value : values) {
      trace += IsNullValue(value) ? " NULL" : " '" + value.AsString() + "'";
    }
    SCOPED_TRACE(trace + (options.Contains(loCaseInsensitive) ? " nocase" : "") +
                 (options.Contains(loPartialKey) ? " partial" : ""));
    const int32_t before = Id();
    if (search % 2 == 0) {
      ASSERT_EQ(table_->Locate(names, key, options), expected != 0);
      EXPECT_EQ(Id(), expected != 0 ? expected : before);
    } else {
      // Lookup searches without options and leaves the record in place.
      const Variant found = table_->Lookup(names, key, "ID");
      const int32_t exact = ModelFind(fields, values, {});
      EXPECT_EQ(VarIsNull(found) ? 0 : found.AsInteger(), exact);
      EXPECT_EQ(Id(), before);
      // The search moved the cursor underneath; the dataset moves on from
      // its own record.
      const auto after = std::find_if(rows_.begin(), rows_.end(), [&](const auto& row) {
        return row[kId].AsInteger() > before;
      });
      table_->Next();
      EXPECT_EQ(table_->Eof() ? 0 : Id(), after == rows_.end() ? 0 : (*after)[kId].AsInteger());
    }
  }
  // More searches through a temporary filter than a cursor holds filters:
  // each one went again, and none is left hiding records.
  for (int i = 0; i < 70; ++i) {
    table_->Locate("NOTE", Variant(i % 2 == 0 ? "memo" : "none"), {loCaseInsensitive});
  }
  std::vector<int32_t> ids;
  for (const auto& row : rows_) ids.push_back(row[kId].AsInteger());
  EXPECT_EQ(WalkForward(*table_, "ID"), ids);
  EXPECT_EQ(table_->RecordCount(), static_cast<int>(rows_.size()));
}

TEST_F(ValueTable, SwitchingTheIndexCancelsTheRangeBeforeTheMasterRangeReturns) {
  // The detail follows the master's CODE through either index over CODE.
  TQuireTable* detail = NewTable("values", "ByCode");
  detail->Open();
  TDataSource source(&form_);
  source.SetDataSet(table_);
  detail->SetMasterSource(&source);
  detail->SetMasterFields("CODE");
  int checked = 0;
  for (table_->First(); !table_->Eof(); table_->Next()) {
    const Variant code = table_->FieldByName("CODE")->Value();
    if (IsNullValue(code)) continue;
    std::vector<int32_t> expected;
    for (const auto& row : rows_) {
      if (!IsNullValue(row[kCode]) && VarCompare(row[kCode], code) == 0) {
        expected.push_back(row[kId].AsInteger());
      }
    }
    for (const char* index : {"ByCodeDesc", "ByCode"}) {
      SCOPED_TRACE(std::string(index) + ", CODE " + code.AsString());
      detail->SetIndexName(index);
      std::vector<int32_t> shown = WalkForward(*detail, "ID");
      std::sort(shown.begin(), shown.end());
      EXPECT_EQ(shown, expected);
      EXPECT_EQ(detail->RecordCount(), static_cast<int>(expected.size()));
    }
    ++checked;
  }
  EXPECT_GT(checked, 10);
  detail->SetMasterSource(nullptr);
  EXPECT_EQ(detail->RecordCount(), static_cast<int>(rows_.size()));
}

}  // namespace
}  // namespace jw
