// Seeks, ranges, bookmarks, going to another cursor's record and clones, on
// a small table of ten codes and duplicate names, and partial seeks in a
// table of a locale; and a cursor's return to its record after another
// writer's change.
#include <gtest/gtest.h>

#include "engine/core/filter.h"
#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kName = 2;
constexpr int32_t kCode = 3;
constexpr uint8_t kByName = 1;
constexpr uint8_t kCodeDown = 2;

const char* const kNames[] = {"apple", "apple",  "banana", "berry", "cherry",
                              "apple", "banana", "date",   "fig",   "grape"};

TTableDefinition Definition(int16_t language_id = 0) {
  TTableDefinition d;
  d.Fields = {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 10),
              Field("CODE", kFldInteger)};
  d.Indexes = {Index("", {kCode}), Index("ByName", {kName}, false),
               Index("CodeDown", {kCode}, true, 0, true)};
  d.LanguageId = language_id;
  return d;
}

class CursorKeysTest : public testing::Test {
 protected:
  CursorKeysTest() {
    db_.Create("K", Definition());
    {
      TableLoader loader(db_.directory, "K");
      for (int32_t i = 0; i < 10; ++i) numbers_.push_back(Add(loader, kNames[i], (i + 1) * 10));
    }
    cursor_ = db_.Open("K");
    image_.assign(static_cast<size_t>(cursor_->GetRecordSize()), 0);
  }

  static int32_t Add(TableLoader& loader, const std::string& name, int32_t code) {
    auto image = loader.Image();
    PutString(loader.Data(), image, kName, name);
    PutInt(loader.Data(), image, kCode, code);
    return loader.Insert(image);
  }

  // A record image with the code (and name) to seek.
  std::vector<uint8_t> With(int32_t code, const std::string& name = "") {
    std::vector<uint8_t> image(static_cast<size_t>(cursor_->GetRecordSize()), 0);
    cursor_->SetFieldData(kCode, image.data(), false, &code);
    cursor_->SetFieldData(kName, image.data(), false, name.c_str());
    return image;
  }
  int32_t Code(const uint8_t* image) {
    bool null = false;
    int32_t code = 0;
    cursor_->GetFieldData(kCode, image, null, &code);
    return code;
  }
  int32_t CurrentCode(TDataCursor& cursor) {
    return cursor.GetCurrentRecord(image_.data()) == 0 ? Code(image_.data()) : 0;
  }
  int32_t CurrentCode() { return CurrentCode(*cursor_); }
  std::vector<int32_t> Codes(TDataCursor& cursor) {
    std::vector<int32_t> codes;
    cursor.First();
    while (cursor.GetNextRecord(image_.data()) == 0) codes.push_back(Code(image_.data()));
    return codes;
  }
  std::vector<uint8_t> Bookmark() {
    std::vector<uint8_t> bookmark(static_cast<size_t>(cursor_->GetBookmarkSize()));
    cursor_->GetBookmark(bookmark.data());
    return bookmark;
  }

  CursorDatabase db_;
  std::vector<int32_t> numbers_;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<uint8_t> image_;
};

TEST_F(CursorKeysTest, SeeksFindExactNearestAndPartialKeys) {
  EXPECT_TRUE(cursor_->SeekKey(false, With(30).data(), image_.data(), 0, false, 0));
  EXPECT_EQ(Code(image_.data()), 30);
  EXPECT_FALSE(cursor_->SeekKey(false, With(35).data(), nullptr, 0, false, 0));
  EXPECT_EQ(CurrentCode(), 30) << "no match without nearest leaves the cursor";
  EXPECT_FALSE(cursor_->SeekKey(false, With(35).data(), nullptr, 0, true, 0));
  EXPECT_EQ(CurrentCode(), 40);
  EXPECT_FALSE(cursor_->SeekKey(false, With(1000).data(), nullptr, 0, true, 0));
  EXPECT_EQ(CurrentCode(), 100) << "beyond the last key lands on the last record";
  EXPECT_FALSE(cursor_->Eof());

  cursor_->SetIndexByName("byname");
  // All fields of a non-unique index still find the first duplicate.
  EXPECT_TRUE(cursor_->SeekKey(false, With(0, "apple").data(), nullptr, 0, false, 1));
  EXPECT_EQ(CurrentCode(), 10);
  EXPECT_TRUE(cursor_->SeekKey(false, With(0, "bert").data(), nullptr, 3, false, 0));
  EXPECT_EQ(CurrentCode(), 40) << "the first name that starts with \"ber\"";
  EXPECT_FALSE(cursor_->SeekKey(false, With(0, "bz").data(), nullptr, 2, false, 0));
  EXPECT_EQ(CurrentCode(), 50) << "the nearest name after \"bz\"";

  cursor_->SetIndexByNumber(kCodeDown);
  EXPECT_FALSE(cursor_->SeekKey(false, With(35).data(), nullptr, 0, true, 0));
  EXPECT_EQ(CurrentCode(), 30) << "the next key of a descending index is the lower code";
  cursor_->SetIndexByNumber(kNaturalOrder);
  EXPECT_FALSE(cursor_->SeekKey(false, With(30).data(), nullptr, 0, false, 0));
}

TEST_F(CursorKeysTest, RangesWithOneBoundAndOnADescendingIndex) {
  cursor_->SetRange(false, With(70).data(), 0, nullptr, 0);
  EXPECT_EQ(Codes(*cursor_), (std::vector<int32_t>{70, 80, 90, 100}));
  cursor_->SetRange(false, nullptr, 0, With(25).data(), 0);
  EXPECT_EQ(Codes(*cursor_), (std::vector<int32_t>{10, 20}));
  cursor_->SetIndexByNumber(kCodeDown);
  EXPECT_FALSE(cursor_->RangeActive()) << "a new index drops the range";
  cursor_->SetRange(false, With(70).data(), 0, With(30).data(), 0);
  EXPECT_EQ(Codes(*cursor_), (std::vector<int32_t>{70, 60, 50, 40, 30}));
  cursor_->SetRange(false, nullptr, 0, With(80).data(), 0);
  EXPECT_EQ(Codes(*cursor_), (std::vector<int32_t>{100, 90, 80}));
  // A seek outside the range stays inside it.
  EXPECT_FALSE(cursor_->SeekKey(false, With(10).data(), nullptr, 0, true, 0));
  EXPECT_EQ(CurrentCode(), 80);
  cursor_->SetIndexByName("ByName");
  cursor_->SetRange(false, With(0, "banana").data(), 1, With(0, "banana").data(), 1);
  EXPECT_EQ(Codes(*cursor_), (std::vector<int32_t>{30, 70}));
}

TEST_F(CursorKeysTest, BookmarksReturnToTheirRecordOrTheNextOne) {
  for (const uint8_t index : {uint8_t{0}, kByName, kCodeDown, kNaturalOrder}) {
    SCOPED_TRACE("index " + std::to_string(index));
    cursor_->SetIndexByNumber(index);
    cursor_->SetRecNo(4);
    const int32_t code = CurrentCode();
    const std::vector<uint8_t> fourth = Bookmark();
    cursor_->SetRecNo(5);
    const std::vector<uint8_t> fifth = Bookmark();
    EXPECT_EQ(cursor_->CompareBookmarks(fourth.data(), fifth.data()), -1);
    EXPECT_EQ(cursor_->CompareBookmarks(fifth.data(), fourth.data()), 1);
    EXPECT_EQ(cursor_->CompareBookmarks(fifth.data(), fifth.data()), 0);
    cursor_->First();
    EXPECT_TRUE(cursor_->GotoBookmark(fourth.data(), false, false));
    EXPECT_EQ(CurrentCode(), code);
    EXPECT_EQ(cursor_->GetRecNo(), 4);
  }
  cursor_->SetIndexByNumber(0);
  cursor_->SetRecNo(4);
  const std::vector<uint8_t> deleted = Bookmark();
  {
    TableLoader loader(db_.directory, "K");
    loader.Delete(numbers_[3]);
  }
  cursor_->First();
  EXPECT_FALSE(cursor_->GotoBookmark(deleted.data(), false, false));
  EXPECT_EQ(CurrentCode(), 50);
}

TEST_F(CursorKeysTest, AnotherCursorsRecordAndClonesAreFoundInAnyOrder) {
  auto other = db_.Open("K", true);
  other->SetRecNo(7);
  for (const uint8_t index : {uint8_t{0}, kByName, kCodeDown, kNaturalOrder}) {
    cursor_->SetIndexByNumber(index);
    EXPECT_EQ(cursor_->GotoCursorRecord(*other), 0);
    EXPECT_EQ(CurrentCode(), 70);
  }
  other->First();
  EXPECT_EQ(cursor_->GotoCursorRecord(*other), kErrRecordNotFound);

  cursor_->SetIndexByName("ByName");
  cursor_->SetRange(false, With(0, "b").data(), 0, With(0, "d").data(), 0);
  cursor_->SetRecNo(2);
  auto clone = cursor_->Clone();
  EXPECT_EQ(clone->IndexName(), "ByName");
  EXPECT_EQ(clone->GetRecNo(), 2);
  EXPECT_EQ(CurrentCode(*clone), CurrentCode());
  EXPECT_EQ(clone->GetRecordCount(), cursor_->GetRecordCount());
  EXPECT_EQ(Codes(*clone), Codes(*cursor_));
}

TEST_F(CursorKeysTest, ClonesShowTheirSourcesFiltersAndSeekOnlyWhatTheyShow) {
  // CODE > 20, then a restricting callback that hides 70; a third filter
  // stays inactive and would hide all but 10.
  const auto not_seventy = [](void* cursor, const uint8_t* image, int32_t) {
    bool null = false;
    int32_t code = 0;
    static_cast<TDataCursor*>(cursor)->GetFieldData(kCode, image, null, &code);
    return code != 70;
  };
  TCursorFilterOptions restricting;
  restricting.Restricting = true;
  TFilter* above = cursor_->AddFilter("CODE > 20", nullptr, nullptr, nullptr, {});
  TFilter* callback = cursor_->AddFilter(nullptr, nullptr, not_seventy, cursor_.get(), restricting);
  cursor_->AddFilter("CODE = 10", nullptr, nullptr, nullptr, {});
  cursor_->ActivateFilter(above);
  cursor_->ActivateFilter(callback);
  const auto seek = [&](TDataCursor& cursor, int32_t code, const std::string& name, bool nearest) {
    const std::vector<uint8_t> key = With(code, name);
    return cursor.SeekKey(false, key.data(), nullptr, 0, nearest, 1);
  };
  for (const uint8_t index : {uint8_t{0}, kByName, kNaturalOrder}) {
    SCOPED_TRACE(static_cast<int>(index));
    cursor_->SetIndexByNumber(index);
    cursor_->SetRecNo(2);
    auto clone = cursor_->Clone();
    EXPECT_EQ(clone->GetRecordCount(), 7);
    EXPECT_EQ(CurrentCode(*clone), CurrentCode());
    EXPECT_EQ(Codes(*clone), Codes(*cursor_));
    // A seek finds only what the clone shows, and its source can go there.
    if (index == kByName) {
      EXPECT_TRUE(seek(*clone, 0, "apple", false));
      EXPECT_EQ(CurrentCode(*clone), 60) << "the first apple shown";
      EXPECT_EQ(cursor_->GotoCursorRecord(*clone), 0);
    } else if (index == 0) {
      EXPECT_FALSE(seek(*clone, 70, "", false)) << "hidden by the callback";
      EXPECT_FALSE(seek(*clone, 20, "", false)) << "hidden by CODE > 20";
      EXPECT_FALSE(seek(*clone, 15, "", true));
      EXPECT_EQ(CurrentCode(*clone), 30);
    }
    // Each cursor's filters are its own.
    clone->DeactivateFilter(nullptr);
    EXPECT_EQ(clone->GetRecordCount(), 10);
    EXPECT_EQ(cursor_->GetRecordCount(), 7);
  }
}

TEST_F(CursorKeysTest, AnotherWritersInsertMovesTheRecordNumberNotTheRecord) {
  cursor_->SetRecNo(5);
  EXPECT_EQ(CurrentCode(), 50);
  {
    TableLoader loader(db_.directory, "K");
    Add(loader, "kiwi", 5);
  }
  EXPECT_EQ(cursor_->GetRecNo(), 6);
  EXPECT_EQ(CurrentCode(), 50);
  EXPECT_EQ(cursor_->GetRecordCount(), 11);
}

TEST_F(CursorKeysTest, ACopyOfTheCurrentRecordTakesItsIdOnlyWhenAsked) {
  std::vector<uint8_t> copy(image_.size(), 0xAB);
  cursor_->SetRecNo(3);
  const int32_t id =
      cursor_->GetCurrentRecord(image_.data()) == 0 ? TDataCursor::GetRecordId(image_.data()) : -1;
  ASSERT_EQ(cursor_->CopyCurrentRecord(copy.data()), 0);
  EXPECT_EQ(Code(copy.data()), 30);
  EXPECT_EQ(TDataCursor::GetRecordId(copy.data()), 0);
  EXPECT_EQ(copy[kRecStatus], 0);
  cursor_->Close(false);
  cursor_->SetKeepAutoInc(true);
  cursor_->Open();
  cursor_->SetRecNo(3);
  ASSERT_EQ(cursor_->CopyCurrentRecord(copy.data()), 0);
  EXPECT_EQ(TDataCursor::GetRecordId(copy.data()), id);
  cursor_->SetRange(false, With(500).data(), 0, nullptr, 0);
  EXPECT_EQ(cursor_->CopyCurrentRecord(copy.data()), kErrNoCurrentRecord);
}

TEST(CursorLocaleKeys, ALocaleTableSortsAndSeeksByItsCollation) {
  CursorDatabase db;
  db.Create("L", Definition(0x0409));
  {
    TableLoader loader(db.directory, "L");
    int32_t code = 0;
    for (const char* name : {"Cherry", "banana", "apple", "Berry", "blueberry"}) {
      auto image = loader.Image();
      PutString(loader.Data(), image, kName, name);
      PutInt(loader.Data(), image, kCode, ++code);
      loader.Insert(image);
    }
  }
  auto cursor = db.Open("L");
  cursor->SetIndexByName("ByName");
  std::vector<uint8_t> image(static_cast<size_t>(cursor->GetRecordSize()));
  const auto name = [&] {
    bool null = false;
    char text[16] = {};
    cursor->GetFieldData(kName, image.data(), null, text);
    return std::string(text);
  };
  std::vector<std::string> names;
  cursor->First();
  while (cursor->GetNextRecord(image.data()) == 0) names.push_back(name());
  EXPECT_EQ(names, (std::vector<std::string>{"apple", "banana", "Berry", "blueberry", "Cherry"}));
  std::vector<uint8_t> key(static_cast<size_t>(cursor->GetRecordSize()));
  cursor->SetFieldData(kName, key.data(), false, "bl");
  EXPECT_TRUE(cursor->SeekKey(false, key.data(), image.data(), 2, false, 0));
  EXPECT_EQ(name(), "blueberry");
  cursor->SetFieldData(kName, key.data(), false, "Be");
  EXPECT_TRUE(cursor->SeekKey(false, key.data(), image.data(), 2, false, 0));
  EXPECT_EQ(name(), "Berry");
}

}  // namespace
}  // namespace jw::test
