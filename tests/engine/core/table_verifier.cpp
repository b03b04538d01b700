#include "tests/engine/core/table_verifier.h"

#include <memory>
#include <set>

#include "engine/core/data_file.h"
#include "engine/core/index_file_format.h"
#include "engine/core/index_page.h"
#include "engine/core/table_files.h"
#include "engine/support/scrambler.h"
#include "tests/engine/core/blob_file_verifier.h"
#include "tests/engine/core/data_file_verifier.h"
#include "tests/engine/core/index_file_verifier.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

void AddAll(std::vector<std::string>& problems, const std::string& prefix,
            const std::vector<std::string>& found) {
  for (const std::string& text : found) problems.push_back(prefix + text);
}

// Which records are live, index 1..count, from the file's own bytes.
std::vector<bool> LiveRecords(const std::string& data_path, const TDataFile& data) {
  auto bytes = ReadWholeFile(data_path);
  const int32_t count = data.RecordCount();
  const int32_t size = data.RecordSize();
  std::vector<bool> live(count + 1, false);
  for (int32_t n = 1; n <= count; ++n) {
    const size_t at = data.DataStart() + static_cast<size_t>(n - 1) * size;
    if (at + size > bytes.size()) break;
    uint8_t* r = &bytes[at];
    if (data.Encrypted()) UnscrambleBuffer(r, size, kRecordSeed.K1, kRecordSeed.K2);
    live[n] = r[kRecStatus] == kRecordLive;
  }
  return live;
}

// The record numbers in the leaves of one index, leftmost leaf first.
// False when a page cannot be read; the index verifier names the fault.
bool LeafRecords(std::vector<uint8_t>& bytes, const TIndexFileHeader& header, int32_t slot,
                 bool encrypted, std::vector<int32_t>& records) {
  auto load = [&](int32_t position) -> std::unique_ptr<TPage> {
    if (!IsPagePosition(position, header.EndPosition) ||
        static_cast<size_t>(position) + kIndexPageSize > bytes.size()) {
      return nullptr;
    }
    std::vector<uint8_t> raw(bytes.begin() + position, bytes.begin() + position + kIndexPageSize);
    if (encrypted) UnscrambleBuffer(raw.data(), kIndexPageSize, kRecordSeed.K1, kRecordSeed.K2);
    auto page = std::make_unique<TPage>(nullptr);
    try {
      page->Assign(position, slot, header.Slots[slot]);
      page->DecodePage(raw.data(), false, header.EndPosition);
    } catch (const EQuireEngineError&) {
      return nullptr;
    }
    return page;
  };
  const int32_t page_count = header.EndPosition / kIndexPageSize;
  auto page = load(header.Slots[slot].Root);
  for (int32_t depth = 0; page != nullptr && !page->IsLeaf(); ++depth) {
    if (depth > page_count || page->KeyCount() == 0) return false;
    page = load(page->Pointer(1));
  }
  for (int32_t steps = 0; page != nullptr; ++steps) {
    if (steps > page_count) return false;
    for (int32_t k = 1; k <= page->KeyCount(); ++k) records.push_back(page->Pointer(k));
    if (page->Next() == 0) return true;
    page = load(page->Next());
  }
  return false;
}

void CrossCheckIndexes(const std::string& index_path, const std::vector<bool>& live, bool encrypted,
                       std::vector<std::string>& problems) {
  auto bytes = ReadWholeFile(index_path);
  if (bytes.size() < static_cast<size_t>(kIndexHeaderSize)) return;
  std::vector<uint8_t> head(bytes.begin(), bytes.begin() + kIndexHeaderSize);
  if (encrypted) UnscrambleBuffer(head.data(), kIndexHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  TIndexFileHeader h;
  if (!h.DecodeFrom(head.data()) || h.SecondaryCount > kMaxSecondaryIndexes) return;
  int32_t live_count = 0;
  for (size_t n = 1; n < live.size(); ++n) live_count += live[n] ? 1 : 0;
  if (h.LiveCount != live_count) {
    problems.push_back("table: index live count " + std::to_string(h.LiveCount) + ", data file " +
                       std::to_string(live_count) + " live records");
  }
  for (int32_t slot = 0; slot <= h.SecondaryCount; ++slot) {
    if ((slot == kPrimarySlot && h.NoPrimary != 0) || h.Slots[slot].Root == 0) continue;
    std::vector<int32_t> records;
    if (!LeafRecords(bytes, h, slot, encrypted, records)) continue;
    const std::string where = "table: slot " + std::to_string(slot) + " ";
    std::set<int32_t> seen;
    for (const int32_t n : records) {
      if (n < 1 || static_cast<size_t>(n) >= live.size() || !live[n]) {
        problems.push_back(where + "names record " + std::to_string(n) + ", not a live record");
      } else if (!seen.insert(n).second) {
        problems.push_back(where + "names record " + std::to_string(n) + " twice");
      }
    }
  }
}

}  // namespace

std::vector<std::string> VerifyTable(const std::string& data_path) {
  std::vector<std::string> problems;
  AddAll(problems, "data: ", VerifyDataFile(data_path));
  if (!problems.empty()) return problems;
  const TTableFileNames names = TableFileNames(data_path, kTableFileExts);
  FakeTable owner;
  TDataFile data(&owner);
  data.SetName(data_path);
  try {
    data.Open();
  } catch (const EQuireEngineError& e) {
    return {"data: does not open: " + e.Message()};
  }
  if (!FileExists(names.Index)) {
    problems.push_back("index: file missing");
  } else {
    AddAll(problems, "index: ", VerifyIndexFile(names.Index, data));
    CrossCheckIndexes(names.Index, LiveRecords(data_path, data), data.Encrypted(), problems);
  }
  if (data.BlobFieldCount() > 0) {
    if (!FileExists(names.Blob)) {
      problems.push_back("blob: file missing for " + std::to_string(data.BlobFieldCount()) +
                         " BLOB fields");
    } else {
      AddAll(problems, "blob: ", VerifyTableBlobs(data_path, names.Blob));
    }
  }
  return problems;
}

}  // namespace jw::test
