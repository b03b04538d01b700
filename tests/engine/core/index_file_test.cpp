// The index file: its header byte for byte, index descriptors and their
// limits, the file check, the page cache and free pages, the tree's
// structure through splits, merges and redistribution, corrupt files, and
// keys ordered by a table's locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/support/field_keys.h"
#include "engine/support/language_settings.h"
#include "tests/engine/core/index_file_verifier.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {
namespace {

std::vector<FieldDescriptor> Fields() {
  return {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 20),
          Field("K", kFldBytes, 99), Field("DOC", kFldBlob)};
}

void Verify(IndexTable& t, bool live = false) {
  t.WriteBack();
  const auto problems = VerifyIndexFile(t.IndexPath(), *t.data, live);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// ---- header ----

TEST(IndexFileHeader, NewFileIsOneHeaderPageLaidOutByteForByte) {
  IndexTable t(Fields());
  t.index->Close();
  const auto bytes = ReadWholeFile(t.IndexPath());
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(GetInt32(&bytes[0]), 1);  // the change counter moved once
  EXPECT_EQ(bytes[8], 4);
  EXPECT_EQ(GetInt32(&bytes[9]), 4096);
  EXPECT_EQ(bytes[13], 0);
  const uint8_t* status = &bytes[14 + 31 * 120];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(status), 12), "\x0bSys Deleted");
  EXPECT_EQ(GetInt16(status + 31), 5);
  EXPECT_EQ(status[36], 0);
  EXPECT_EQ(GetInt32(&bytes[3974]), 0);
  EXPECT_EQ(bytes[3979], 1);  // dirty when it was written
  EXPECT_TRUE(std::all_of(bytes.begin() + 3980, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(IndexFileHeader, DescriptorFieldsSitAtTheirOffsets) {
  IndexDescriptor d;
  d.Name = "ByName";
  d.KeyLength = 0x0102;
  d.Descending = 1;
  d.CaseInsensitive = 1;
  d.Unique = 1;
  d.Compression = 3;
  d.SegmentCount = 2;
  d.SegmentDescending[1] = 1;
  d.FieldNumbers = {2, 3};
  d.Root = 0x2000;
  d.FreeHead = 0x3000;
  uint8_t b[120];
  d.EncodeTo(b);
  EXPECT_EQ(b[0], 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 1), 6), "ByName");
  EXPECT_EQ(GetInt16(b + 31), 0x0102);
  EXPECT_EQ(std::vector<uint8_t>(b + 33, b + 38), (std::vector<uint8_t>{1, 1, 1, 3, 2}));
  EXPECT_EQ(b[38], 0);
  EXPECT_EQ(b[39], 1);
  EXPECT_EQ(GetInt16(b + 54), 2);
  EXPECT_EQ(GetInt16(b + 56), 3);
  EXPECT_EQ(GetInt32(b + 86), 0x2000);
  EXPECT_EQ(GetInt32(b + 90), 0x3000);
  IndexDescriptor back;
  ASSERT_TRUE(back.DecodeFrom(b));
  EXPECT_EQ(back.Name, "ByName");
  EXPECT_EQ(back.FieldNumbers, d.FieldNumbers);
  b[0] = 31;
  EXPECT_FALSE(back.DecodeFrom(b));
}

TEST(IndexFileHeader, EncryptedHeaderRoundTripsAndIsScrambledOnDisk) {
  IndexTable t(Fields(), 0, true);
  t.index->AddIndexDesc(Index("ByName", {2}));
  t.Reopen();
  EXPECT_EQ(t.index->IndexDesc(1).Name, "ByName");
  EXPECT_NE(ReadWholeFile(t.IndexPath())[8], 4);
}

// ---- descriptors ----

TEST(IndexDescriptors, LimitsNamesAndFieldTypes) {
  IndexTable t(Fields());
  auto& index = *t.index;
  EXPECT_EQ(kErrIndexNameMissing, ErrorCodeOf([&] { index.AddIndexDesc(Index("  ", {2})); }));
  EXPECT_EQ(kErrInvalidIndexName, ErrorCodeOf([&] { index.AddIndexDesc(Index("9x", {2})); }));
  EXPECT_EQ(kErrInvalidIndexFieldType,
            ErrorCodeOf([&] { index.AddIndexDesc(Index("ByDoc", {4})); }));
  EXPECT_EQ(kErrInvalidIndexField, ErrorCodeOf([&] { index.AddIndexDesc(Index("Bad", {9})); }));
  index.AddIndexDesc(Index("ByName", {2}, false));
  EXPECT_EQ(index.IndexDesc(1).KeyLength, 22 + 4);
  for (const char* same : {"BYNAME", "byname  ", " ByName"}) {
    EXPECT_EQ(kErrIndexExists, ErrorCodeOf([&] { index.AddIndexDesc(Index(same, {3})); })) << same;
  }
  for (int i = 2; i <= 30; ++i) index.AddIndexDesc(Index("I" + std::to_string(i), {3}));
  EXPECT_EQ(index.SecondaryCount(), 30);
  EXPECT_EQ(kErrIndexLimits, ErrorCodeOf([&] { index.AddIndexDesc(Index("I31", {3})); }));
  IndexDescriptor seventeen = Index("Wide", {});
  seventeen.SegmentCount = 17;
  EXPECT_EQ(kErrIndexLimits, ErrorCodeOf([&] { index.DefinePrimaryIndex(seventeen); }));
}

TEST(IndexDescriptors, OneFileWithThirtyOneSecondariesIsRefusedOnOpen) {
  IndexTable t(Fields());
  t.index->Close();
  auto bytes = ReadWholeFile(t.IndexPath());
  bytes[13] = 31;
  WriteWholeFile(t.IndexPath(), bytes);
  EXPECT_EQ(kErrIndexLimits, ErrorCodeOf([&] { t.index->Open(); }));
  EXPECT_FALSE(t.index->IsOpen());
}

TEST(IndexDescriptors, PrimaryIndexOnceAndNeverOnABlob) {
  IndexTable t(Fields());
  EXPECT_EQ(kErrInvalidIndexFieldType,
            ErrorCodeOf([&] { t.index->DefinePrimaryIndex(Index("", {4})); }));
  t.index->DefinePrimaryIndex(Index("", {1, 2}, false, 1));
  const IndexDescriptor& primary = t.index->IndexDesc(0);
  EXPECT_EQ(primary.Unique, 1);
  EXPECT_EQ(primary.KeyLength, 5 + 22);
  EXPECT_FALSE(t.index->NoPrimaryIndex());
  EXPECT_EQ(kErrPrimaryIndexExists,
            ErrorCodeOf([&] { t.index->DefinePrimaryIndex(Index("", {2})); }));
}

TEST(IndexDescriptors, RemovingMovesLaterSlotsDown) {
  IndexTable t(Fields());
  for (const char* name : {"A", "B", "C"}) t.index->AddIndexDesc(Index(name, {2}));
  t.index->RemoveIndexDesc(1, true);
  EXPECT_EQ(t.index->SecondaryCount(), 2);
  EXPECT_EQ(t.index->IndexDesc(1).Name, "B");
  EXPECT_EQ(t.index->IndexDesc(2).Name, "C");
  EXPECT_EQ(t.index->IndexDesc(3).Name, "A");
}

// ---- check ----

TEST(IndexFileCheck, SoundFilePassesAndEachBrokenRuleIsCaught) {
  struct Case {
    const char* what;
    int expected;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const int32_t slot1 = 14 + 120;
  const Case cases[] = {
      {"version", kErrWrongVersion, [](auto& b) { b[8] = 3; }},
      {"primary with a name", kErrHeaderCorrupt,
       [](auto& b) {
         b[14] = 1;
         b[15] = 'P';
       }},
      {"duplicate name", kErrHeaderCorrupt,
       [&](auto& b) { std::memcpy(&b[slot1 + 120], &b[slot1], 31); }},
      {"name not an identifier", kErrHeaderCorrupt, [&](auto& b) { b[slot1 + 1] = '1'; }},
      {"blob segment", kErrHeaderCorrupt, [&](auto& b) { PutInt16(&b[slot1 + 54], 4); }},
      {"stored key length", kErrHeaderCorrupt, [&](auto& b) { PutInt16(&b[slot1 + 31], 23); }},
      {"compression mode 4", kErrHeaderCorrupt, [&](auto& b) { b[slot1 + 36] = 4; }},
      {"root not aligned", kErrHeaderCorrupt, [&](auto& b) { PutInt32(&b[slot1 + 86], 4097); }},
      {"root at the end", kErrHeaderCorrupt, [&](auto& b) { PutInt32(&b[slot1 + 86], 8192); }},
      {"free head past the end", kErrHeaderCorrupt,
       [&](auto& b) { PutInt32(&b[slot1 + 90], 40960); }},
  };
  for (const Case& c : cases) {
    IndexTable t(Fields());
    t.index->DefinePrimaryIndex(Index("", {1}));
    t.index->AddIndexDesc(Index("ByName", {2}));
    t.index->AddIndexDesc(Index("ByK", {3}));
    KeyCursor& cursor = t.Use(1);
    TBTree(*t.index, cursor).Insert(MakeKey(1, 22, 22, 0).data(), 1);
    t.Reopen();
    ASSERT_EQ(0, ErrorCodeOf([&] { t.index->Check(); })) << c.what;
    t.index->Close();
    auto bytes = ReadWholeFile(t.IndexPath());
    c.damage(bytes);
    WriteWholeFile(t.IndexPath(), bytes);
    // Open already refuses what would make pages unreadable (a mode above 3).
    EXPECT_EQ(c.expected, ErrorCodeOf([&] {
                t.index->Open();
                t.index->Check();
              }))
        << c.what;
  }
}

TEST(IndexFileCheck, RootPageMustHaveARootType) {
  IndexTable t(Fields());
  t.index->DefinePrimaryIndex(IndexDescriptor());
  t.index->AddIndexDesc(Index("ByName", {2}));
  TBTree(*t.index, t.Use(1)).Insert(MakeKey(1, 22, 22, 0).data(), 1);
  t.Reopen();
  t.index->Close();
  auto bytes = ReadWholeFile(t.IndexPath());
  bytes[4096 + kPgType] = kPageLeaf;
  WriteWholeFile(t.IndexPath(), bytes);
  t.index->Open();
  EXPECT_EQ(kErrHeaderCorrupt, ErrorCodeOf([&] { t.index->Check(); }));
}

// ---- tree structure ----

class TreeStructure : public ::testing::Test {
 protected:
  TreeStructure() : t_(Fields()) {
    t_.index->DefinePrimaryIndex(IndexDescriptor());
    t_.index->AddIndexDesc(Index("ByK", {3}));  // 100-byte keys: 38 to a mode-0 leaf
    cursor_ = &t_.Use(1);
    tree_ = std::make_unique<TBTree>(*t_.index, *cursor_);
  }
  std::vector<uint8_t> Key(uint32_t v) { return MakeKey(v, 100, 100, 0); }
  void Insert(uint32_t v) { tree_->Insert(Key(v).data(), static_cast<int32_t>(v)); }
  void Delete(uint32_t v) { tree_->Delete(Key(v).data(), static_cast<int32_t>(v)); }
  TPage* Page(int32_t position) {
    TPage* page = nullptr;
    EXPECT_TRUE(t_.index->FetchPage(*cursor_, position, false, page));
    pinned_.push_back(page);
    return page;
  }
  void TearDown() override {
    for (TPage* p : pinned_) t_.index->ReleasePage(p);
  }
  // Points the next link of the page on disk at next and reopens the index.
  void LinkOnDisk(int32_t page, int32_t next) {
    t_.index->Close();
    auto bytes = ReadWholeFile(t_.IndexPath());
    PutInt32(&bytes[page + kPgNext], next);
    WriteWholeFile(t_.IndexPath(), bytes);
    t_.index->Open();
    cursor_ = &t_.Use(1);
  }

  IndexTable t_;
  KeyCursor* cursor_;
  std::unique_ptr<TBTree> tree_;
  std::vector<TPage*> pinned_;
};

TEST_F(TreeStructure, RootLeafOverflowsIntoTwoLeavesUnderANewRoot) {
  for (uint32_t v = 1; v <= 38; ++v) Insert(v);
  EXPECT_EQ(Page(t_.index->Root(1))->PageType(), kPageRootLeaf);
  Insert(39);
  TPage* root = Page(t_.index->Root(1));
  ASSERT_EQ(root->PageType(), kPageRoot);
  ASSERT_EQ(root->KeyCount(), 2);
  TPage* left = Page(root->Pointer(1));
  TPage* right = Page(root->Pointer(2));
  EXPECT_EQ(left->PageType(), kPageLeaf);
  EXPECT_EQ(right->PageType(), kPageLeaf);
  EXPECT_EQ(root->Count(1), 20);
  EXPECT_EQ(root->Count(2), 19);
  EXPECT_EQ(0, std::memcmp(root->Key(1), Key(1).data(), 100));
  EXPECT_EQ(0, std::memcmp(root->Key(2), Key(21).data(), 100));
  EXPECT_EQ(left->Next(), right->Position());
  EXPECT_EQ(right->Previous(), left->Position());
  TearDown();
  pinned_.clear();
  Verify(t_);
}

TEST_F(TreeStructure, SmallerKeyUpdatesEveryAncestorsFirstKey) {
  for (uint32_t v = 1000; v < 3000; v += 2) Insert(v);
  Insert(5);
  int32_t position = t_.index->Root(1);
  for (int depth = 0; depth < 8; ++depth) {
    TPage* page = Page(position);
    ASSERT_EQ(0, std::memcmp(page->Key(1), Key(5).data(), 100)) << "depth " << depth;
    if (page->IsLeaf()) break;
    position = page->Pointer(1);
  }
  TearDown();
  pinned_.clear();
  Verify(t_);
}

TEST_F(TreeStructure, EmptiedIndexFreesItsPageAndReusesIt) {
  Insert(7);
  const int32_t only = t_.index->Root(1);
  Delete(7);
  EXPECT_EQ(t_.index->Root(1), 0);
  EXPECT_EQ(t_.index->FreeHead(1), only);
  Verify(t_);
  Insert(8);
  EXPECT_EQ(t_.index->Root(1), only);
  EXPECT_EQ(t_.index->FreeHead(1), 0);
  EXPECT_EQ(t_.index->EndPosition(), only + 4096);
}

TEST_F(TreeStructure, RedistributesThenMergesAtHalfCapacity) {
  for (uint32_t v = 1; v <= 39; ++v) Insert(v);  // leaves of 20 and 19
  Delete(39);  // 18 left on the right: below 38 div 2, with 38 together: share
  TPage* root = Page(t_.index->Root(1));
  EXPECT_EQ(root->KeyCount(), 2);
  EXPECT_EQ(root->Count(1), 19);
  EXPECT_EQ(root->Count(2), 19);
  EXPECT_EQ(0, std::memcmp(root->Key(2), Key(20).data(), 100));
  TearDown();
  pinned_.clear();
  Verify(t_);
  Delete(38);  // 37 together: merge, and the root collapses onto the one leaf
  root = Page(t_.index->Root(1));
  EXPECT_EQ(root->PageType(), kPageRootLeaf);
  EXPECT_EQ(root->KeyCount(), 37);
  EXPECT_EQ(root->Previous(), 0);
  EXPECT_EQ(root->Next(), 0);
  TearDown();
  pinned_.clear();
  Verify(t_);
}

TEST_F(TreeStructure, MissingKeyRaises8965AndLeavesEveryCountRight) {
  for (uint32_t v = 1; v <= 200; ++v) Insert(v);
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { Delete(1000); }));
  // The key exists, but for another record.
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { tree_->Delete(Key(50).data(), 51); }));
  EXPECT_EQ(tree_->KeyCount(), 200);
  Verify(t_);
}

TEST_F(TreeStructure, DeleteOfADuplicateRemovesOnlyThatRecordsEntry) {
  // Equal keys spread over several leaves; each delete must find its own.
  for (int32_t r = 1; r <= 120; ++r) tree_->Insert(Key(42).data(), r);
  for (int32_t r = 120; r >= 1; r -= 3) {
    tree_->Delete(Key(42).data(), r);
    int32_t record = 0;
    std::vector<uint8_t> key(100);
    for (int64_t i = 1; i <= tree_->KeyCount(); ++i) {
      ASSERT_TRUE(tree_->Select(i, key.data(), record));
      ASSERT_NE(record, r);
    }
  }
  EXPECT_EQ(tree_->KeyCount(), 80);
  Verify(t_);
}

TEST_F(TreeStructure, PinnedCacheGrowsForTheMomentOutsideATransaction) {
  std::vector<TPage*> pages;
  for (int i = 0; i < 20; ++i) pages.push_back(t_.index->NewPage(*cursor_));
  EXPECT_EQ(t_.index->CachedPageCount(1), 20);
  EXPECT_EQ(t_.index->PageCacheCapacity(1), kPageCacheCapacity);
  t_.index->FlushPages(false);
  for (TPage* p : pages) t_.index->ReleasePage(p);
  t_.index->FlushPages(false);
  TPage* again = nullptr;
  ASSERT_TRUE(t_.index->FetchPage(*cursor_, pages[0]->Position(), false, again));
  t_.index->ReleasePage(again);
  EXPECT_LE(t_.index->CachedPageCount(1), kPageCacheCapacity);
}

TEST_F(TreeStructure, InsideATransactionAFullCacheGrowsBy64) {
  t_.table.in_transaction = true;
  std::vector<TPage*> pages;
  for (int i = 0; i < 16; ++i) pages.push_back(t_.index->NewPage(*cursor_));
  EXPECT_EQ(t_.index->PageCacheCapacity(1), kPageCacheCapacity + kPageCacheGrowth);
  for (TPage* p : pages) t_.index->ReleasePage(p);
  t_.table.in_transaction = false;
}

TEST_F(TreeStructure, FlushWritesSortedRunsInOneWriteEach) {
  for (uint32_t v = 1; v <= 200; ++v) Insert(v);
  t_.index->ResetCounts();
  t_.index->FlushPages(false);
  const int32_t pages = (t_.index->EndPosition() - 4096) / 4096;
  ASSERT_EQ(t_.index->writes, 1);
  EXPECT_EQ(t_.index->write_lengths[0], pages * 4096);
}

// ---- corrupt files ----

TEST_F(TreeStructure, CorruptLinksRaise8965WithoutHanging) {
  for (uint32_t v = 1; v <= 200; ++v) Insert(v);
  t_.Reopen();
  const auto good = ReadWholeFile(t_.IndexPath());
  const int32_t root = t_.index->Root(1);
  const int32_t end = t_.index->EndPosition();
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"child at the end position", [&](auto& b) { PutInt32(&b[root + kPgEntries + 100], end); }},
      {"child is the root itself", [&](auto& b) { PutInt32(&b[root + kPgEntries + 100], root); }},
      {"leaf key count 0x7FFF",
       [&](auto& b) { PutInt16(&b[GetInt32(&b[root + kPgEntries + 100]) + kPgKeyCount], 0x7FFF); }},
  };
  for (const Case& c : cases) {
    auto bytes = good;
    c.damage(bytes);
    t_.index->Close();
    WriteWholeFile(t_.IndexPath(), bytes);
    t_.index->Open();
    cursor_ = &t_.Use(1);
    TBTree tree(*t_.index, *cursor_);
    int32_t record = 0;
    EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { tree.Find(Key(3).data(), record); }))
        << c.what;
    EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { tree.Insert(Key(3).data(), 3); })) << c.what;
    EXPECT_FALSE(VerifyIndexFile(t_.IndexPath(), *t_.data, false).empty()) << c.what;
  }
}

TEST_F(TreeStructure, FreeListLinkingToItselfIsNotHandedOutTwice) {
  Insert(1);
  Delete(1);
  t_.Reopen();
  const int32_t page = t_.index->FreeHead(1);
  LinkOnDisk(page, page);
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { t_.index->NewPage(*cursor_); }));
}

// A free list that leads to a page still holding keys (here the live root
// leaf) must not hand it out: clearing it for reuse would lose its keys.
TEST_F(TreeStructure, FreeListLeadingToAPageWithKeysIsRefused) {
  for (uint32_t v = 1; v <= 39; ++v) Insert(v);  // two leaves under a root
  for (uint32_t v = 39; v > 10; --v) Delete(v);  // merged into one root leaf
  t_.Reopen();
  const int32_t head = t_.index->FreeHead(1);
  const int32_t live = t_.index->Root(1);
  ASSERT_NE(head, 0);
  LinkOnDisk(head, live);
  t_.index->ReleasePage(t_.index->NewPage(*cursor_));
  EXPECT_EQ(t_.index->FreeHead(1), live);
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { t_.index->NewPage(*cursor_); }));
  EXPECT_EQ(TBTree(*t_.index, *cursor_).KeyCount(), 10);
}

TEST_F(TreeStructure, ChangedFilesRestartTheWalkFromTheRoot) {
  for (uint32_t v = 1; v <= 200; ++v) Insert(v);
  t_.Reopen();
  cursor_ = &t_.Use(1);
  cursor_->changed = true;
  TPage* page = nullptr;
  EXPECT_FALSE(t_.index->FetchPage(*cursor_, t_.index->Root(1), false, page));
  EXPECT_EQ(page, nullptr);
  cursor_->changed = false;
  EXPECT_EQ(TBTree(*t_.index, *cursor_).CountBelow(Key(100).data()), 99);
}

// ---- locks ----

TEST(IndexFileLocks, WriterTakesTheRangeAndReadersOneByteBelowTheTop) {
  IndexTable t(Fields());
  ASSERT_TRUE(t.index->LockIndexWrite());
  ASSERT_TRUE(t.index->UnlockIndexWrite());
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(t.index->LockIndexRead());
    ASSERT_TRUE(t.index->UnlockIndexRead());
  }
  ASSERT_EQ(t.index->lock_calls[0].offset, 0x7FFF0000);
  EXPECT_EQ(t.index->lock_calls[0].length, 65535);
  for (size_t i = 2; i < t.index->lock_calls.size(); ++i) {
    const LockCall& call = t.index->lock_calls[i];
    EXPECT_EQ(call.length, 1);
    EXPECT_GE(call.offset, 0x7FFF0001);
    EXPECT_LE(call.offset, 0x7FFFFFFE);
  }
}

// ---- locale ----

std::vector<uint8_t> NameKey(const char* text, bool case_insensitive, uint16_t language) {
  char value[21] = {};
  std::strncpy(value, text, 20);
  std::vector<uint8_t> key(22, 0);
  key[0] = 1;
  BuildFieldKey(kFldString, 21, value, key.data(), 0, language, false, case_insensitive);
  return key;
}

std::vector<std::string> InIndexOrder(IndexTable& t, KeyCursor& cursor,
                                      const std::vector<std::string>& words) {
  TBTree tree(*t.index, cursor);
  for (size_t i = 0; i < words.size(); ++i) {
    tree.Insert(NameKey(words[i].c_str(), false, 0x0407).data(), static_cast<int32_t>(i + 1));
  }
  std::vector<std::string> order;
  std::vector<uint8_t> key(22);
  for (int64_t i = 1; i <= tree.KeyCount(); ++i) {
    int32_t record = 0;
    tree.Select(i, key.data(), record);
    order.push_back(words[record - 1]);
  }
  return order;
}

TEST(IndexLocale, GermanTableOrdersByTheCollator) {
  if (!IsKnownLanguage(0x0407, 0)) GTEST_SKIP() << "no German collation on this system";
  const std::vector<std::string> words = {"Zebra", "\xC4pfel", "apfel", "Bar", "\xD6l", "Ober"};
  IndexTable t(Fields(), 0x0407);
  t.index->DefinePrimaryIndex(IndexDescriptor());
  t.index->AddIndexDesc(Index("ByName", {2}));
  t.index->AddIndexDesc(Index("Down", {2}, true, 0, true));
  auto order = InIndexOrder(t, t.Use(1), words);
  std::vector<std::string> expected = words;
  std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
    return CompareLocaleStrings(0x0407, 0, a.c_str(), false, 0, b.c_str()) < 0;
  });
  EXPECT_EQ(order, expected);
  // Bytewise, "Zebra" would come before every lower-case and umlaut word.
  EXPECT_NE(order.front(), "Zebra");
  auto descending = InIndexOrder(t, t.Use(2), words);
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(descending, expected);
  Verify(t);
}

TEST(IndexLocale, CaseInsensitiveKeysAreEqual) {
  IndexTable t(Fields());
  t.index->DefinePrimaryIndex(IndexDescriptor());
  IndexDescriptor d = Index("NoCase", {2});
  d.CaseInsensitive = 1;
  t.index->AddIndexDesc(d);
  TBTree tree(*t.index, t.Use(1));
  tree.Insert(NameKey("Meier", true, 0).data(), 1);
  int32_t record = 0;
  EXPECT_TRUE(tree.Find(NameKey("MEIER", true, 0).data(), record));
  EXPECT_EQ(record, 1);
  EXPECT_TRUE(tree.Find(NameKey("meier", true, 0).data(), record));
  EXPECT_FALSE(tree.Find(NameKey("meyer", true, 0).data(), record));
}

}  // namespace
}  // namespace jw::test
