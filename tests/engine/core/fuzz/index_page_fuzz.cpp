// libFuzzer target: random bytes become the pages of an index (byte 0 picks
// the compression mode, uniqueness and the root), or, with bit 3 of byte 0, a
// sound tree is grown from the input and then damaged by the input's XOR
// patches. Each page is decoded on its own, re-encoded and searched; then the
// tree is walked, searched and changed through the index file. Only engine
// errors may come out, and a decoded page must encode to the same bytes twice.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/btree.h"
#include "engine/core/data_file.h"
#include "engine/core/index_file.h"
#include "engine/support/engine_errors.h"
#include "engine/support/records_bitmap.h"
#include "tests/engine/core/fuzz/fuzz_table.h"

namespace {

constexpr int32_t kMaxPages = 8;
// The indexed field: 8 bytes and its null byte.
constexpr int16_t kImageLength = 9;

class Cursor : public jw::TIndexCursor {
 public:
  explicit Cursor(jw::TIndexKeyOrder order) : order_(std::move(order)) {}
  int32_t IndexSlot() const override { return 1; }
  int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length) const override {
    return order_.Compare(a, b, length);
  }
  bool TableFilesChanged() override { return false; }

 private:
  jw::TIndexKeyOrder order_;
};

// The data file whose bytes field the index covers, made once.
jw::TDataFile& DataFile() {
  static jw::FuzzTable table(false);
  static const jw::FuzzFile scratch(".DAT");
  static std::unique_ptr<jw::TDataFile> file = [] {
    auto data = std::make_unique<jw::TDataFile>(&table);
    data->SetName(scratch.Path());
    jw::FieldDescriptor id;
    id.Name = "ID";
    id.Type = jw::kFldInteger;
    id.SubType = jw::kSubTypeAutoInc;
    jw::FieldDescriptor key;
    key.Name = "K";
    key.Type = jw::kFldBytes;
    key.Size = kImageLength - 1;
    data->InitHeader(0, 0, {id, key}, 0, "fuzz", "", false, 0, 0);
    data->WriteHeader(true, false);
    data->WriteFieldDescs();
    return data;
  }();
  return *file;
}

jw::IndexDescriptor Descriptor(uint8_t control, int32_t root, int32_t end) {
  jw::IndexDescriptor d;
  d.Name = "ByK";
  d.Compression = control & 3;
  d.Unique = (control & 4) != 0 ? 1 : 0;
  d.KeyLength = static_cast<int16_t>(kImageLength + (d.Unique != 0 ? 0 : jw::kRecordIdLength));
  d.SegmentCount = 1;
  d.FieldNumbers[0] = 2;
  d.Root = root;
  d.FreeHead = (control & 0x40) != 0 ? end - jw::kIndexPageSize : 0;
  return d;
}

// A decoded page re-encodes to bytes that decode and encode the same again.
void RoundTrip(const uint8_t* bytes, const jw::IndexDescriptor& d, int32_t position, int32_t end,
               const jw::TIndexCursor& cursor, const uint8_t* key,
               const jw::TRecordsBitmap& bitmap) {
  jw::TPage page(nullptr);
  page.Assign(position, 1, d);
  page.DecodePage(bytes, false, end);
  std::vector<uint8_t> first(jw::kIndexPageSize);
  std::vector<uint8_t> second(jw::kIndexPageSize);
  page.EncodePage(first.data());
  jw::TPage again(nullptr);
  again.Assign(position, 1, d);
  again.DecodePage(first.data(), false, end);
  again.EncodePage(second.data());
  if (first != second) std::abort();
  if (page.KeyCount() == 0) return;
  int64_t ordinal = 0;
  page.NavigateToKey(cursor, key, true, ordinal);
  page.RangeScan(cursor, key, key, true, ordinal);
  if (!page.IsLeaf()) return;
  int32_t steps = 0;
  page.SetNavigationPosition(0);
  page.WalkBitmap(cursor, bitmap, 1, key, steps);
  jw::TRecordsBitmap marked;
  marked.SetRecordCount(64);
  page.SetNavigationPosition(1);
  page.MarkBitmap(cursor, marked, nullptr);
}

void WalkTree(jw::TIndexFile& file, Cursor& cursor, const uint8_t* key, int32_t key_length,
              const jw::TRecordsBitmap& bitmap) {
  jw::TBTree tree(file, cursor);
  const int64_t count = tree.KeyCount();
  int32_t record = 0;
  tree.Find(key, record);
  tree.CountBelow(key);
  tree.CountNotAbove(key);
  tree.Navigate(key, false);
  tree.RangeScan(key, key, false);
  std::vector<uint8_t> found(key_length);
  for (int64_t n = 1; n <= std::min<int64_t>(count, 16); ++n) tree.Select(n, found.data(), record);
  tree.NextInBitmap(0, bitmap, 1, nullptr);
  tree.NextInBitmap(count + 1, bitmap, -1, key);
  jw::TRecordsBitmap marked;
  marked.SetRecordCount(64);
  tree.MarkRecords(1, marked, nullptr);
  tree.Insert(key, 7);
  tree.Delete(key, 7);
}

// Grows a sound tree of the index in file from the input: data[1] x 8 keys.
void GrowTree(jw::TIndexFile& file, Cursor& cursor, const uint8_t* data, size_t size,
              int32_t key_length) {
  jw::TBTree tree(file, cursor);
  const int32_t keys = 8 * data[1];
  std::vector<uint8_t> key(static_cast<size_t>(key_length), 0);
  for (int32_t n = 1; n <= keys; ++n) {
    key[0] = 1;
    // Neighbouring keys share prefixes and trailing zeros, as real keys do.
    key[1] = data[static_cast<size_t>(n) % size];
    key[2] = static_cast<uint8_t>(n >> 8);
    key[3] = static_cast<uint8_t>(n);
    tree.Insert(key.data(), n);
  }
  file.FlushPages(false);
  file.WriteHeader(true, false);
}

// XORs the input's (offset, offset, value) triples from data[2] on into bytes.
void Damage(std::vector<uint8_t>& bytes, const uint8_t* data, size_t size) {
  for (size_t i = 2; i + 2 < size; i += 3) {
    const size_t offset = jw::kIndexHeaderSize + ((data[i] << 8 | data[i + 1]) * 7) %
                                                     (bytes.size() - jw::kIndexHeaderSize);
    bytes[offset] ^= data[i + 2];
  }
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return bytes;
  uint8_t buffer[jw::kIndexPageSize];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  std::fclose(in);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t control = data[0];
  const size_t body = size - 1;
  const int32_t pages = static_cast<int32_t>(
      std::min<size_t>((body + jw::kIndexPageSize - 1) / jw::kIndexPageSize, kMaxPages));
  const int32_t end = jw::kIndexPageSize * (pages + 1);
  const int32_t root = jw::kIndexPageSize * (1 + ((control >> 4) & 3) % pages);
  std::vector<uint8_t> bytes(static_cast<size_t>(end), 0);
  std::memcpy(bytes.data() + jw::kIndexHeaderSize, data + 1,
              std::min<size_t>(body, bytes.size() - jw::kIndexHeaderSize));

  jw::TDataFile& data_file = DataFile();
  jw::TIndexFileHeader header;
  header.Version = jw::kIndexFormatVersion;
  header.EndPosition = end;
  header.SecondaryCount = 1;
  header.NoPrimary = 1;
  header.Slots[1] = Descriptor(control, (control & 0x80) != 0 ? 0 : root, end);
  header.Slots[jw::kStatusSlot].Name = jw::kStatusIndexName;
  header.Slots[jw::kStatusSlot].KeyLength = jw::kStatusKeyLength;
  header.EncodeTo(bytes.data());

  const jw::IndexDescriptor& d = header.Slots[1];
  // The search key and the visible records come from the input's tail.
  std::vector<uint8_t> key(static_cast<size_t>(d.KeyLength), 0);
  std::memcpy(key.data(), data + size - std::min<size_t>(size, key.size()),
              std::min<size_t>(size, key.size()));
  jw::TRecordsBitmap bitmap;
  bitmap.SetRecordCount(64);
  for (int32_t r = 1; r <= 64; ++r) {
    if ((data[static_cast<size_t>(r) % size] & 1) != 0) bitmap.SetBit(r);
  }

  jw::FuzzTable table(false);
  Cursor cursor(jw::TIndexKeyOrder::ForIndex(d, 1, data_file));
  for (int32_t p = 1; p <= pages; ++p) {
    try {
      RoundTrip(bytes.data() + static_cast<size_t>(p) * jw::kIndexPageSize, d,
                p * jw::kIndexPageSize, end, cursor, key.data(), bitmap);
    } catch (const jw::EQuireEngineError&) {
    }
  }

  static const jw::FuzzFile scratch(".IDX");
  const std::string& path = scratch.Path();
  if ((control & 8) != 0) {
    header.Slots[1].Root = 0;
    header.Slots[1].FreeHead = 0;
    header.EndPosition = jw::kIndexPageSize;
    bytes.assign(jw::kIndexHeaderSize, 0);
    header.EncodeTo(bytes.data());
    if (!scratch.Write(bytes)) return 0;
    {
      jw::TIndexFile grown(&table, &data_file);
      grown.SetName(path);
      grown.Open();
      GrowTree(grown, cursor, data, size, d.KeyLength);
    }
    bytes = ReadFile(path);
    if (bytes.size() > jw::kIndexHeaderSize) Damage(bytes, data, size);
  }
  if (!scratch.Write(bytes)) return 0;
  jw::TIndexFile file(&table, &data_file);
  file.SetName(path);
  try {
    file.Open();
    WalkTree(file, cursor, key.data(), d.KeyLength, bitmap);
    file.FlushPages(false);
  } catch (const jw::EQuireEngineError&) {
  }
  return 0;
}
