#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "engine/core/data_file.h"
#include "engine/core/index_file_format.h"
#include "engine/core/index_page.h"
#include "engine/core/key_compare.h"
#include "engine/core/table_verify.h"
#include "engine/support/scrambler.h"

namespace jw {
namespace {

class TreeVerifier {
 public:
  TreeVerifier(std::vector<uint8_t>& bytes, const TIndexFileHeader& header, bool encrypted,
               TVerifyReport& problems)
      : bytes_(bytes), header_(header), encrypted_(encrypted), problems_(problems) {}

  // The decoded page, or nullptr (with a problem noted) when it cannot be read.
  std::unique_ptr<TPage> Load(int32_t position, int32_t slot) {
    if (!IsPagePosition(position, header_.EndPosition) ||
        static_cast<size_t>(position) + kIndexPageSize > bytes_.size()) {
      Note(slot, "link to " + std::to_string(position) + " is no page of the file");
      return nullptr;
    }
    std::vector<uint8_t> raw(bytes_.begin() + position, bytes_.begin() + position + kIndexPageSize);
    if (encrypted_) UnscrambleBuffer(raw.data(), kIndexPageSize, kRecordSeed.K1, kRecordSeed.K2);
    auto page = std::make_unique<TPage>(nullptr);
    try {
      page->Assign(position, slot, header_.Slots[slot]);
      page->DecodePage(raw.data(), false, header_.EndPosition);
    } catch (const EQuireEngineError&) {
      Note(slot, "page " + std::to_string(position) + " does not decode");
      return nullptr;
    }
    return page;
  }

  bool Claim(int32_t position, const std::string& what) {
    auto [it, added] = owners_.emplace(position, what);
    if (!added) Note(-1, "page " + std::to_string(position) + " is " + it->second + " and " + what);
    return added;
  }

  // Returns the keys in the slot's tree. A page is claimed before its
  // children are read, so a link back up the tree ends the walk.
  int64_t VerifyTree(int32_t slot, const TIndexKeyOrder& order) {
    const IndexDescriptor& d = header_.Slots[slot];
    const int32_t l = d.KeyLength;
    auto root = Load(d.Root, slot);
    if (root == nullptr) return 0;
    if (!root->IsRoot()) Note(slot, "root page has type " + std::to_string(root->PageType()));
    if (root->KeyCount() == 0) Note(slot, "root page without keys");
    const int64_t total = root->TotalKeys();
    std::vector<std::unique_ptr<TPage>> level;
    level.push_back(std::move(root));
    for (int32_t depth = 0; !level.empty(); ++depth) {
      if (depth > 64) {
        Note(slot, "tree deeper than 64 levels");
        break;
      }
      std::vector<std::unique_ptr<TPage>> below;
      for (size_t i = 0; i < level.size(); ++i) {
        TPage& page = *level[i];
        const std::string where = "page " + std::to_string(page.Position());
        if (!Claim(page.Position(), "in tree " + std::to_string(slot))) return total;
        if (depth > 0 && page.IsRoot()) Note(slot, where + " below the root has a root type");
        if (page.IsLeaf() != level[0]->IsLeaf()) {
          Note(slot, where + " mixes leaves and inner pages");
        }
        if (depth > 0 && page.KeyCount() == 0) Note(slot, where + " without keys");
        for (int32_t k = 2; k <= page.KeyCount(); ++k) {
          if (order.Compare(page.Key(k - 1), page.Key(k), l) > 0) {
            Note(slot, where + " keys out of order at " + std::to_string(k));
          }
        }
        const int32_t expected_previous = i == 0 ? 0 : level[i - 1]->Position();
        const int32_t expected_next = i + 1 == level.size() ? 0 : level[i + 1]->Position();
        if (page.Previous() != expected_previous) Note(slot, where + " previous link");
        if (page.Next() != expected_next) Note(slot, where + " next link");
        if (i > 0 && level[i - 1]->KeyCount() > 0 && page.KeyCount() > 0 &&
            order.Compare(level[i - 1]->Key(level[i - 1]->KeyCount()), page.Key(1), l) > 0) {
          Note(slot, where + " sorts before its previous sibling");
        }
        if (page.IsLeaf()) continue;
        for (int32_t k = 1; k <= page.KeyCount(); ++k) {
          auto child = Load(page.Pointer(k), slot);
          if (child == nullptr) return total;
          const std::string entry = where + " entry " + std::to_string(k);
          if (child->KeyCount() > 0 && std::memcmp(child->Key(1), page.Key(k), l) != 0) {
            Note(slot, entry + " key differs from its child's first key");
          }
          if (child->TotalKeys() != page.Count(k)) {
            Note(slot, entry + " counts " + std::to_string(page.Count(k)) + ", child holds " +
                           std::to_string(child->TotalKeys()));
          }
          below.push_back(std::move(child));
        }
      }
      level = std::move(below);
    }
    return total;
  }

  void VerifyFreeList(int32_t slot) {
    int32_t link = header_.Slots[slot].FreeHead;
    const int64_t limit = header_.EndPosition / kIndexPageSize;
    for (int64_t steps = 0; link != 0; ++steps) {
      if (steps > limit) {
        Note(slot, "free list loops");
        return;
      }
      auto page = Load(link, slot);
      if (page == nullptr) return;
      if (!Claim(link, "free in slot " + std::to_string(slot))) return;
      if (page->KeyCount() != 0) Note(slot, "free page " + std::to_string(link) + " holds keys");
      link = page->Next();
    }
  }

  // Every page of the file lies in one tree or one free list: a page in
  // none is lost to the file for good.
  void VerifyCensus() {
    for (int32_t position = kIndexPageSize; position < header_.EndPosition;
         position += kIndexPageSize) {
      if (owners_.count(position) == 0) {
        Note(-1, "page " + std::to_string(position) + " is in no tree and no free list");
      }
    }
  }

  // The record numbers in the leaves of the slot's tree, leftmost leaf
  // first; false when a page cannot be read.
  bool LeafRecords(int32_t slot, std::vector<int32_t>& records) {
    const int32_t page_count = header_.EndPosition / kIndexPageSize;
    auto page = Load(header_.Slots[slot].Root, slot);
    for (int32_t depth = 0; page != nullptr && !page->IsLeaf(); ++depth) {
      if (depth > page_count || page->KeyCount() == 0) return false;
      page = Load(page->Pointer(1), slot);
    }
    for (int32_t steps = 0; page != nullptr; ++steps) {
      if (steps > page_count) return false;
      for (int32_t k = 1; k <= page->KeyCount(); ++k) records.push_back(page->Pointer(k));
      if (page->Next() == 0) return true;
      page = Load(page->Next(), slot);
    }
    return false;
  }

  void Note(int32_t slot, const std::string& text) {
    problems_.push_back(
        {kErrIndexPagesCorrupt, (slot >= 0 ? "slot " + std::to_string(slot) + ": " : "") + text});
  }

 private:
  std::vector<uint8_t>& bytes_;
  const TIndexFileHeader& header_;
  bool encrypted_;
  TVerifyReport& problems_;
  std::map<int32_t, std::string> owners_;
};

// The header when the bytes hold one that decodes, unscrambled in place.
bool DecodeHeader(std::vector<uint8_t>& bytes, bool encrypted, TIndexFileHeader& h) {
  if (bytes.size() < static_cast<size_t>(kIndexHeaderSize)) return false;
  if (encrypted) UnscrambleBuffer(bytes.data(), kIndexHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  return h.DecodeFrom(bytes.data());
}

}  // namespace

TVerifyReport VerifyIndexFileBytes(std::vector<uint8_t> bytes, const TDataFileImage& data,
                                   const std::string& table_name, bool check_live_count) {
  TVerifyReport problems;
  if (bytes.size() < static_cast<size_t>(kIndexHeaderSize)) {
    return {{kErrHeaderCorrupt, "file shorter than its header"}};
  }
  const bool encrypted = data.Header.Encrypted != 0;
  TIndexFileHeader h;
  if (!DecodeHeader(bytes, encrypted, h))
    return {{kErrHeaderCorrupt, "index name longer than its room"}};
  if (h.Version != kIndexFormatVersion)
    problems.push_back({kErrWrongVersion, "format version not 4"});
  if (h.SecondaryCount > kMaxSecondaryIndexes) {
    problems.push_back({kErrIndexLimits, "more than 30 secondary indexes"});
    return problems;
  }
  if (h.EndPosition < kIndexPageSize || h.EndPosition % kIndexPageSize != 0) {
    problems.push_back({kErrHeaderCorrupt, "end position " + std::to_string(h.EndPosition)});
    return problems;
  }
  if (bytes.size() < static_cast<size_t>(h.EndPosition)) {
    problems.push_back({kErrHeaderCorrupt, "file ends before its end position"});
  }
  TreeVerifier verifier(bytes, h, encrypted, problems);
  const auto field_by_number = [&](int32_t number) { return data.FieldByNumber(number); };
  for (int32_t slot = 0; slot < kIndexSlotCount; ++slot) {
    if (slot > h.SecondaryCount && slot != kStatusSlot) continue;
    const IndexDescriptor& d = h.Slots[slot];
    if (slot == kPrimarySlot && h.NoPrimary != 0) continue;
    int64_t keys = 0;
    if (d.Root != 0) {
      try {
        keys = verifier.VerifyTree(
            slot, TIndexKeyOrder::ForIndex(d, slot, field_by_number, data.Header.LanguageId,
                                           data.Header.SortId, table_name));
      } catch (const EQuireEngineError&) {
        problems.push_back(
            {kErrInvalidIndexField,
             "slot " + std::to_string(slot) + ": index names a field the table does not have"});
      }
    }
    verifier.VerifyFreeList(slot);
    if (check_live_count && slot != kStatusSlot && keys != h.LiveCount) {
      verifier.Note(slot, "holds " + std::to_string(keys) + " keys, live count " +
                              std::to_string(h.LiveCount));
    }
  }
  // A dropped index leaves its free pages with its descriptor in the first
  // unused slot, for the next index added.
  for (int32_t slot = h.SecondaryCount + 1; slot <= kMaxSecondaryIndexes; ++slot) {
    verifier.VerifyFreeList(slot);
  }
  verifier.VerifyCensus();
  return problems;
}

TVerifyReport VerifyIndexAgainstRecords(std::vector<uint8_t> bytes, const TDataFileImage& data) {
  TVerifyReport problems;
  TIndexFileHeader h;
  const bool encrypted = data.Header.Encrypted != 0;
  if (!DecodeHeader(bytes, encrypted, h) || h.SecondaryCount > kMaxSecondaryIndexes)
    return problems;
  int32_t live_count = 0;
  for (int32_t n = 1; n <= data.RecordCount(); ++n) live_count += data.Live(n) ? 1 : 0;
  if (h.LiveCount != live_count) {
    problems.push_back({kErrIndexPagesCorrupt, "index live count " + std::to_string(h.LiveCount) +
                                                   ", data file " + std::to_string(live_count) +
                                                   " live records"});
  }
  // Unreadable pages are the index checks' to report; here they end the walk.
  TVerifyReport page_faults;
  TreeVerifier reader(bytes, h, encrypted, page_faults);
  for (int32_t slot = 0; slot <= h.SecondaryCount; ++slot) {
    if ((slot == kPrimarySlot && h.NoPrimary != 0) || h.Slots[slot].Root == 0) continue;
    std::vector<int32_t> records;
    if (!reader.LeafRecords(slot, records)) continue;
    const std::string where = "slot " + std::to_string(slot) + " names record ";
    std::set<int32_t> seen;
    for (const int32_t n : records) {
      if (!data.Live(n)) {
        problems.push_back(
            {kErrIndexPagesCorrupt, where + std::to_string(n) + ", not a live record"});
      } else if (!seen.insert(n).second) {
        problems.push_back({kErrIndexPagesCorrupt, where + std::to_string(n) + " twice"});
      }
    }
  }
  return problems;
}

}  // namespace jw
