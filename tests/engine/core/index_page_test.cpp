// Index pages on disk: the head and entry layouts of every compression mode
// byte for byte, encode/decode round trips over key lengths and key shapes,
// and corrupt pages that must raise 8965 without reading out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "engine/core/data_file_format.h"
#include "engine/core/index_page.h"
#include "engine/core/key_compare.h"
#include "engine/core/record_order.h"
#include "engine/support/key_images.h"
#include "engine/support/records_bitmap.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

constexpr int32_t kEnd = 64 * kIndexPageSize;

IndexDescriptor Desc(int16_t key_length, uint8_t compression, bool unique) {
  IndexDescriptor d;
  d.KeyLength = key_length;
  d.Compression = compression;
  d.Unique = unique ? 1 : 0;
  return d;
}

std::unique_ptr<TPage> Leaf(int16_t key_length, uint8_t compression, bool unique) {
  auto page = std::make_unique<TPage>(nullptr);
  page->Assign(2 * kIndexPageSize, 1, Desc(key_length, compression, unique));
  page->SetPageType(kPageLeaf);
  return page;
}

std::vector<uint8_t> Encoded(const TPage& page) {
  std::vector<uint8_t> bytes(kIndexPageSize);
  page.EncodePage(bytes.data());
  return bytes;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
}

// ---- layouts ----

TEST(IndexPageLayout, HeadAndModeZeroLeafEntries) {
  auto page = Leaf(5, 0, true);
  page->SetPrevious(4096);
  page->SetNext(3 * 4096);
  const uint8_t a[5] = {1, 'a', 'b', 0, 0};
  const uint8_t b[5] = {1, 'a', 'c', 0, 0};
  page->InsertAt(1, a, 7, 1);
  page->InsertAt(2, b, 0x01020304, 1);
  const auto bytes = Encoded(*page);
  EXPECT_EQ(Slice(bytes, 0, 13), Bytes({2, 2, 0, 0x00, 0x10, 0, 0, 0x00, 0x30, 0, 0, 0, 0}));
  EXPECT_EQ(Slice(bytes, 13, 18),
            Bytes({1, 'a', 'b', 0, 0, 7, 0, 0, 0, 1, 'a', 'c', 0, 0, 4, 3, 2, 1}));
  EXPECT_EQ(bytes[31], 0);
}

TEST(IndexPageLayout, InnerEntriesCarryChildAndCount) {
  auto page = Leaf(3, 2, true);
  page->SetPageType(kPageRoot);
  const uint8_t k[3] = {1, 9, 0};
  page->InsertAt(1, k, 5 * 4096, 300);
  const auto bytes = Encoded(*page);
  // Inner pages are never compressed and keep used bytes 0.
  EXPECT_EQ(Slice(bytes, 0, 13), Bytes({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Slice(bytes, 13, 11), Bytes({1, 9, 0, 0x00, 0x50, 0, 0, 0x2C, 0x01, 0, 0}));
}

TEST(IndexPageLayout, ModeOneStoresSharedPrefix) {
  auto page = Leaf(4, 1, true);
  const uint8_t a[4] = {1, 'x', 'y', 'z'};
  const uint8_t b[4] = {1, 'x', 'q', 'z'};
  page->InsertAt(1, a, 1, 1);
  page->InsertAt(2, b, 2, 1);
  const auto bytes = Encoded(*page);
  // First entry: P 0 and the whole key; second: P 2 and bytes 2..3.
  EXPECT_EQ(Slice(bytes, 11, 2), Bytes({18, 0}));
  EXPECT_EQ(Slice(bytes, 13, 18),
            Bytes({0, 0, 1, 'x', 'y', 'z', 1, 0, 0, 0, 2, 0, 'q', 'z', 2, 0, 0, 0}));
}

TEST(IndexPageLayout, ModeTwoStripsZerosBeforeTheRecordId) {
  auto unique = Leaf(6, 2, true);
  const uint8_t zeros[6] = {0, 0, 0, 0, 0, 0};
  unique->InsertAt(1, zeros, 9, 1);
  auto bytes = Encoded(*unique);
  // An all-zero key stores T = L and no key bytes.
  EXPECT_EQ(unique->StrippedZeros(1), 6);
  EXPECT_EQ(Slice(bytes, 11, 10), Bytes({6, 0, 6, 0, 9, 0, 0, 0, 0, 0}));

  auto non_unique = Leaf(9, 2, false);
  const uint8_t key[9] = {1, 'k', 0, 0, 0, 0x80, 0, 0, 5};
  non_unique->InsertAt(1, key, 5, 1);
  bytes = Encoded(*non_unique);
  EXPECT_EQ(non_unique->StrippedZeros(1), 3);
  EXPECT_EQ(Slice(bytes, 11, 14), Bytes({12, 0, 3, 0, 1, 'k', 0x80, 0, 0, 5, 5, 0, 0, 0}));
}

TEST(IndexPageLayout, ModeThreeCapsPrefixAt255AndKeepsShortRemaindersWhole) {
  auto page = Leaf(300, 3, true);
  std::vector<uint8_t> a(300, 'a');
  std::vector<uint8_t> b = a;
  b[299] = 'b';
  page->InsertAt(1, a.data(), 1, 1);
  page->InsertAt(2, b.data(), 2, 1);
  EXPECT_EQ(page->SharedPrefix(2), 255);
  auto bytes = Encoded(*page);
  const size_t second = 13 + 2 + 300 + 4;
  EXPECT_EQ(Slice(bytes, second, 2), Bytes({255, 0}));

  // L - P below 5 on a non-unique key: no zeros are stripped.
  auto short_rest = Leaf(8, 3, false);
  const uint8_t c[8] = {1, 'a', 'b', 'c', 0x80, 0, 0, 1};
  const uint8_t d[8] = {1, 'a', 'b', 'c', 0x80, 0, 0, 2};
  short_rest->InsertAt(1, c, 1, 1);
  short_rest->InsertAt(2, d, 2, 1);
  EXPECT_EQ(short_rest->SharedPrefix(2), 7);
  EXPECT_EQ(short_rest->StrippedZeros(2), 0);
  bytes = Encoded(*short_rest);
  EXPECT_EQ(Slice(bytes, 13 + 2 + 8 + 4, 7), Bytes({7, 0, 2, 2, 0, 0, 0}));
}

// ---- round trips ----

struct RoundTripCase {
  int16_t key_length;
  bool unique;
  const char* shape;  // "random", "zeros", "prefix"
};

class PageRoundTrip : public ::testing::TestWithParam<std::tuple<int, RoundTripCase>> {};

TEST_P(PageRoundTrip, DecodeGivesBackEveryEntry) {
  const auto mode = static_cast<uint8_t>(std::get<0>(GetParam()));
  const RoundTripCase c = std::get<1>(GetParam());
  std::mt19937 rng(c.key_length * 31 + mode);
  auto page = Leaf(c.key_length, mode, c.unique);
  std::vector<std::vector<uint8_t>> keys;
  for (int32_t i = 0; i < 2000; ++i) {
    std::vector<uint8_t> key(c.key_length, 0);
    const std::string shape = c.shape;
    if (shape == "random") {
      for (auto& byte : key) byte = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng());
    } else if (shape == "prefix") {
      std::fill(key.begin(), key.end() - std::min<int>(c.key_length, 3), 'p');
      key[c.key_length - 1] = static_cast<uint8_t>(i);
    }
    if (!c.unique) EncodeIntKey(i + 1, key.data() + c.key_length - kRecordIdLength);
    keys.push_back(key);
  }
  // Keys of one length: byte order is memcmp order.
  std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
    return std::memcmp(a.data(), b.data(), a.size()) < 0;
  });
  for (const auto& key : keys) {
    page->InsertAt(page->KeyCount() + 1, key.data(), page->KeyCount() + 1, 1);
    if (page->Overflowing()) {
      page->RemoveAt(page->KeyCount());
      break;
    }
  }
  ASSERT_GT(page->KeyCount(), 0);
  const auto bytes = Encoded(*page);
  auto decoded = Leaf(c.key_length, mode, c.unique);
  decoded->DecodePage(bytes.data(), false, kEnd);
  ASSERT_EQ(decoded->KeyCount(), page->KeyCount());
  EXPECT_EQ(decoded->UsedBytes(), page->UsedBytes());
  EXPECT_EQ(GetInt16(bytes.data() + kPgUsed), mode == 0 ? 0 : page->UsedBytes());
  for (int32_t i = 1; i <= page->KeyCount(); ++i) {
    ASSERT_EQ(0, std::memcmp(decoded->Key(i), page->Key(i), c.key_length)) << "entry " << i;
    ASSERT_EQ(decoded->Pointer(i), page->Pointer(i));
  }
  EXPECT_EQ(Encoded(*decoded), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndKeys, PageRoundTrip,
    ::testing::Combine(
        ::testing::Values(0, 1, 2, 3),
        ::testing::Values(RoundTripCase{5, true, "random"}, RoundTripCase{9, false, "random"},
                          RoundTripCase{21, true, "zeros"}, RoundTripCase{21, false, "zeros"},
                          RoundTripCase{252, true, "prefix"}, RoundTripCase{524, true, "prefix"},
                          RoundTripCase{528, false, "prefix"},
                          RoundTripCase{528, false, "random"})));

// ---- corrupt pages ----

std::vector<uint8_t> ValidLeaf(uint8_t mode) {
  auto page = Leaf(6, mode, true);
  for (int i = 1; i <= 3; ++i) {
    const uint8_t key[6] = {1, 'k', static_cast<uint8_t>(i), 0, 0, 0};
    page->InsertAt(i, key, i, 1);
  }
  page->SetNext(3 * 4096);
  return Encoded(*page);
}

int DecodeError(const std::vector<uint8_t>& bytes, uint8_t mode, int16_t key_length = 6) {
  auto page = Leaf(key_length, mode, true);
  return ErrorCodeOf([&] { page->DecodePage(bytes.data(), false, kEnd); });
}

TEST(IndexPageCorruption, BadHeadsRaise8965) {
  struct Case {
    const char* what;
    uint8_t mode;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"key count 0x7FFF", 0, [](auto& b) { PutInt16(&b[kPgKeyCount], 0x7FFF); }},
      {"negative key count", 1, [](auto& b) { PutInt16(&b[kPgKeyCount], -1); }},
      {"used bytes 5000", 1, [](auto& b) { PutInt16(&b[kPgUsed], 5000); }},
      {"used bytes on a mode-0 leaf", 0, [](auto& b) { PutInt16(&b[kPgUsed], 30); }},
      {"page type 9", 0, [](auto& b) { b[kPgType] = 9; }},
      {"next links to itself", 0, [](auto& b) { PutInt32(&b[kPgNext], 2 * 4096); }},
      {"previous at the end position", 0, [](auto& b) { PutInt32(&b[kPgPrevious], kEnd); }},
      {"next not aligned", 0, [](auto& b) { PutInt32(&b[kPgNext], 4097); }},
      {"prefix longer than the key", 1, [](auto& b) { PutInt16(&b[kPgEntries + 12], 7); }},
      {"first entry with a prefix", 1, [](auto& b) { PutInt16(&b[kPgEntries], 1); }},
      {"zeros longer than the key", 2, [](auto& b) { PutInt16(&b[kPgEntries], 9); }},
      {"mode 3 prefix and zeros past the key", 3, [](auto& b) { b[kPgEntries + 1] = 7; }},
      {"entries past the used bytes", 2, [](auto& b) { PutInt16(&b[kPgUsed], 10); }},
      {"record number 0", 0, [](auto& b) { PutInt32(&b[kPgEntries + 6], 0); }},
  };
  for (const Case& c : cases) {
    auto bytes = ValidLeaf(c.mode);
    ASSERT_EQ(DecodeError(bytes, c.mode), 0) << c.what;
    c.damage(bytes);
    EXPECT_EQ(DecodeError(bytes, c.mode), kErrIndexPagesCorrupt) << c.what;
  }
}

TEST(IndexPageCorruption, InnerChildMustBeAPageInsideTheFile) {
  auto page = Leaf(4, 0, true);
  page->SetPageType(kPageRoot);
  const uint8_t key[4] = {1, 2, 3, 4};
  page->InsertAt(1, key, 4096, 3);
  const auto good = Encoded(*page);
  for (const int32_t child : {kEnd, 0, 2 * 4096, 4096 + 1, kEnd + 4096}) {
    auto bytes = good;
    PutInt32(&bytes[kPgEntries + 4], child);
    EXPECT_EQ(DecodeError(bytes, 0, 4), kErrIndexPagesCorrupt) << child;
  }
  auto bytes = good;
  PutInt32(&bytes[kPgEntries + 8], 0);
  EXPECT_EQ(DecodeError(bytes, 0, 4), kErrIndexPagesCorrupt) << "child count 0";
  EXPECT_EQ(DecodeError(good, 0, 4), 0);
}

TEST(IndexPageCorruption, EncodingACompressedLeafPastItsRoomRaises) {
  auto page = Leaf(500, 1, true);
  std::vector<uint8_t> key(500, 0);
  for (int i = 0; i < 9; ++i) {
    key[0] = static_cast<uint8_t>(i + 1);
    page->InsertAt(i + 1, key.data(), i + 1, 1);
  }
  ASSERT_TRUE(page->Overflowing());
  std::vector<uint8_t> bytes(kIndexPageSize);
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { page->EncodePage(bytes.data()); }));
}

struct Bytewise : TIndexCursor {
  int32_t IndexSlot() const override { return 1; }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t n) const override {
    return std::memcmp(a, b, n) < 0 ? -1 : std::memcmp(a, b, n) > 0 ? 1 : 0;
  }
  bool TableFilesChanged() override { return false; }
};

TEST(IndexPageSearch, SearchOnAPageWithoutKeysRaises) {
  auto page = Leaf(4, 0, true);
  Bytewise cursor;
  const uint8_t key[4] = {1, 0, 0, 0};
  int64_t ordinal = 0;
  EXPECT_EQ(kErrIndexPagesCorrupt, ErrorCodeOf([&] { page->DescendLookup(cursor, key); }));
  EXPECT_EQ(kErrIndexPagesCorrupt,
            ErrorCodeOf([&] { page->NavigateToKey(cursor, key, true, ordinal); }));
  EXPECT_EQ(kErrIndexPagesCorrupt,
            ErrorCodeOf([&] { page->RangeScan(cursor, key, key, false, ordinal); }));
}

// A leaf holding the keys 10, 20, 30 with the records 1, 2, 3.
std::unique_ptr<TPage> TensLeaf() {
  auto page = Leaf(1, 0, true);
  for (uint8_t i = 1; i <= 3; ++i) {
    const uint8_t key = static_cast<uint8_t>(10 * i);
    page->InsertAt(i, &key, i, 1);
  }
  return page;
}

TEST(IndexPageSearch, NavigationAndRangeScanStopWhereTheFlagsSay) {
  struct Case {
    uint8_t key;
    bool flag;
    bool navigated;  // NavigateToKey with after = flag
    int32_t navigation_position;
    bool scanned;  // RangeScan from key to 255, strict = flag
    int32_t scan_position;
  };
  const Case cases[] = {
      {20, false, true, 2, true, 2},   {20, true, true, 2, true, 2},
      {25, false, false, 2, false, 2}, {25, true, false, 3, false, 3},
      {5, false, false, 0, false, 1},  {5, true, false, 1, false, 1},
      {35, false, false, 3, false, 3}, {35, true, false, 4, false, 3},
  };
  Bytewise cursor;
  const uint8_t upper = 255;
  for (const Case& c : cases) {
    auto page = TensLeaf();
    int64_t ordinal = 100;
    EXPECT_EQ(page->NavigateToKey(cursor, &c.key, c.flag, ordinal), c.navigated) << int(c.key);
    EXPECT_EQ(page->NavigationPosition(), c.navigation_position) << int(c.key) << " " << c.flag;
    EXPECT_EQ(ordinal, 100 + std::max(c.navigation_position - 1, 0)) << int(c.key);
    ordinal = 100;
    EXPECT_EQ(page->RangeScan(cursor, &c.key, &upper, c.flag, ordinal), c.scanned) << int(c.key);
    EXPECT_EQ(page->NavigationPosition(), c.scan_position) << int(c.key) << " " << c.flag;
    EXPECT_EQ(ordinal, 100 + c.scan_position - 1) << int(c.key);
  }
}

TEST(IndexPageSearch, BitmapWalksStopAtSetRecordsPageEdgesAndTheEndKey) {
  Bytewise cursor;
  TRecordsBitmap bitmap;
  bitmap.SetRecordCount(8);
  bitmap.SetBit(3);
  auto page = TensLeaf();
  int32_t steps = 0;
  page->SetNavigationPosition(0);
  EXPECT_EQ(page->WalkBitmap(cursor, bitmap, 1, nullptr, steps), TWalkStop::Found);
  EXPECT_EQ(page->NavigationPosition(), 3);
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(page->WalkBitmap(cursor, bitmap, 1, nullptr, steps), TWalkStop::PageEnd);
  EXPECT_EQ(page->NavigationPosition(), 4);
  EXPECT_EQ(steps, 3);
  const uint8_t end = 20;
  steps = 0;
  page->SetNavigationPosition(0);
  EXPECT_EQ(page->WalkBitmap(cursor, bitmap, 1, &end, steps), TWalkStop::RangeEnd);
  EXPECT_EQ(page->NavigationPosition(), 3);
  EXPECT_EQ(steps, 2);
  // Backward the end key is the range's start.
  steps = 0;
  page->SetNavigationPosition(4);
  EXPECT_EQ(page->WalkBitmap(cursor, bitmap, -1, &end, steps), TWalkStop::Found);
  EXPECT_EQ(page->NavigationPosition(), 3);

  TRecordsBitmap marked;
  marked.SetRecordCount(8);
  page->SetNavigationPosition(2);
  EXPECT_EQ(page->MarkBitmap(cursor, marked, &end), TWalkStop::RangeEnd);
  EXPECT_FALSE(marked.IsSet(1));
  EXPECT_TRUE(marked.IsSet(2));
  EXPECT_FALSE(marked.IsSet(3));
  EXPECT_EQ(page->MarkBitmap(cursor, marked, nullptr), TWalkStop::PageEnd);
  EXPECT_TRUE(marked.IsSet(3));
}

TEST(IndexPageSearch, PagesOrderInTheCacheByPosition) {
  TPage low(nullptr);
  TPage high(nullptr);
  low.Assign(4096, 1, Desc(4, 0, true));
  high.Assign(3 * 4096, 1, Desc(4, 0, true));
  EXPECT_EQ(CompareCacheObjects(&low, &high), -1);
  EXPECT_EQ(CompareCacheObjects(&high, &low), 1);
  EXPECT_EQ(CompareCacheNumber(&high, 3 * 4096), 0);
}

}  // namespace
}  // namespace jw::test
