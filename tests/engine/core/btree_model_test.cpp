// The B-tree against a model: random inserts, deletes, lookups, ranks,
// selects by ordinal, navigations, range scans and walks over record bitmaps
// applied to an index and to a std::multiset, compared after every step,
// with the verifier run over the written file every 10,000 operations. The seed is printed;
// JW_LONG_TESTS=1 runs a million operations per compression mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <set>

#include "engine/core/btree_build.h"
#include "engine/support/records_bitmap.h"
#include "tests/engine/core/index_file_verifier.h"
#include "tests/engine/core/index_test_table.h"

namespace jw::test {
namespace {

enum class Stream { Ascending, Descending, Random, Duplicates };

struct Entry {
  std::vector<uint8_t> key;
  int32_t record;
};

// Equal keys keep their order of insertion, as in the tree.
struct ByKey {
  bool operator()(const Entry& a, const Entry& b) const {
    return std::memcmp(a.key.data(), b.key.data(), a.key.size()) < 0;
  }
};

struct ModelCase {
  uint8_t compression;
  Stream stream;
  bool unique;
  int32_t image_length;  // bytes field size + 1
};

std::string Describe(const ModelCase& c) {
  static const char* streams[] = {"ascending", "descending", "random", "duplicates"};
  return "mode " + std::to_string(c.compression) + ", " + streams[static_cast<int>(c.stream)] +
         (c.unique ? ", unique" : ", non-unique") + ", image " + std::to_string(c.image_length);
}

// An id and bytes fields whose slots add up to image_length.
std::vector<FieldDescriptor> Fields(int32_t image_length) {
  std::vector<FieldDescriptor> fields{Field("ID", kFldInteger, 0, kSubTypeAutoInc)};
  for (int32_t left = image_length; left > 0;) {
    const int32_t slot = std::min(left, 251);
    fields.push_back(
        Field("K" + std::to_string(fields.size()), kFldBytes, static_cast<uint8_t>(slot - 1)));
    left -= slot;
  }
  return fields;
}

class ModelRun {
 public:
  ModelRun(const ModelCase& c, uint32_t seed)
      : case_(c), table_(Fields(c.image_length)), rng_(seed) {
    std::vector<int16_t> segments;
    for (int16_t n = 2; n <= table_.data->FieldCount(); ++n) segments.push_back(n);
    table_.index->DefinePrimaryIndex(IndexDescriptor());
    table_.index->AddIndexDesc(Index("ByK", segments, c.unique, c.compression));
    cursor_ = &table_.Use(1);
    key_length_ = table_.index->IndexDesc(1).KeyLength;
  }

  uint32_t NextValue() {
    ++counter_;
    switch (case_.stream) {
      case Stream::Ascending:
        return counter_;
      case Stream::Descending:
        return 0x7FFFFFFF - counter_;
      case Stream::Random:
        return rng_() % 1000000;
      case Stream::Duplicates:
        return rng_() % 16;
    }
    return 0;
  }

  // A key to search for: half of the time one the index holds.
  std::vector<uint8_t> Probe() {
    if (rng_() % 2 == 0 && !live_.empty()) return live_[rng_() % live_.size()].key;
    return MakeKey(NextValue(), case_.image_length, key_length_,
                   static_cast<int32_t>(rng_() % (record_id_ + 1)));
  }

  // Keys below the probe, and whether one equals it.
  std::pair<int64_t, bool> Place(const std::vector<uint8_t>& key) const {
    const auto it = model_.lower_bound(Entry{key, 0});
    const bool equal = it != model_.end() && it->key == key;
    return {std::distance(model_.begin(), it), equal};
  }

  // The entries of the index in key order.
  std::vector<const Entry*> Ordered() const {
    std::vector<const Entry*> entries;
    entries.reserve(model_.size());
    for (const Entry& e : model_) entries.push_back(&e);
    return entries;
  }

  // Shows a random share of the records (all, about one in 64, or none).
  void RefreshVisible() {
    const uint32_t density = std::array<uint32_t, 3>{1, 64, 0}[rng_() % 3];
    visible_.SetRecordCount(record_id_ + 1);
    visible_.ClearAll();
    for (int32_t r = 1; r <= record_id_; ++r) {
      if (density != 0 && rng_() % density == 0) visible_.SetBit(r);
    }
  }

  void CheckSearches(TBTree& tree, int32_t op) {
    CheckSearches(tree, Probe(), rng_() % 2 == 0, op);
  }

  void CheckSearches(TBTree& tree, const std::vector<uint8_t>& key, bool flag, int32_t op) {
    const auto [below, equal] = Place(key);
    const int64_t n = static_cast<int64_t>(model_.size());
    const TKeyPosition navigated = tree.Navigate(key.data(), flag);
    ASSERT_EQ(navigated.Found, equal) << "navigation at operation " << op;
    ASSERT_EQ(navigated.Ordinal, equal || flag ? below + 1 : below)
        << "navigation (after " << flag << ") at operation " << op;
    auto upper = Probe();
    if (std::memcmp(upper.data(), key.data(), key.size()) < 0) upper = key;
    const TKeyPosition scanned = tree.RangeScan(key.data(), upper.data(), flag);
    ASSERT_EQ(scanned.Found, equal) << "range scan at operation " << op;
    const int64_t expected = n == 0  ? 0
                             : equal ? below + 1
                             : flag  ? std::min(below + 1, n)
                                     : std::max<int64_t>(below, 1);
    ASSERT_EQ(scanned.Ordinal, expected)
        << "range scan (strict " << flag << ") at operation " << op;
    // Navigating after the key also tells where the key at the ordinal
    // stands: the model's first entry not below the key, from which a step
    // along the leaves reaches the entry behind it. The search starts from
    // the root, or from the spot of another key, near it or anywhere (its
    // own leaf answers when that leaf brackets the key). Answered from a
    // spot below it, the records ahead are those as many steps on again.
    const auto at = model_.lower_bound(Entry{key, 0});
    for (const bool from_spot : {false, true}) {
      TLeafSpot spot;
      std::vector<uint8_t> spot_key(static_cast<size_t>(key_length_));
      int64_t start = 0;
      if (from_spot && n > 0) {
        start = rng_() % 2 == 0 ? below - 1 + static_cast<int64_t>(rng_() % 5)
                                : 1 + static_cast<int64_t>(rng_() % n);
        start = std::clamp<int64_t>(start, 1, n);
        int32_t record = 0;
        ASSERT_TRUE(tree.Select(start, spot_key.data(), record, &spot));
      }
      std::array<int32_t, 3> coming_records{};
      const int32_t stride = 1 + static_cast<int32_t>(rng_() % 3);
      const TKeyPosition placed =
          tree.Navigate(key.data(), true, &spot, spot_key.data(), coming_records, stride);
      ASSERT_EQ(placed.Found, equal) << "placed navigation at operation " << op;
      ASSERT_EQ(placed.Ordinal, below + 1) << "placed navigation at operation " << op;
      for (size_t k = 0; k < coming_records.size(); ++k) {
        if (coming_records[k] == 0) continue;
        const int64_t step = below + 1 - start;
        const int64_t coming = below + 1 + static_cast<int64_t>(k + 1) * stride * step;
        ASSERT_TRUE(start != 0 && step > 0 && coming <= n)
            << "record ahead without a step up at operation " << op;
        ASSERT_EQ(coming_records[k], std::next(at, coming - below - 1)->record)
            << "record ahead at operation " << op;
      }
      if (at == model_.end()) {
        ASSERT_EQ(spot.Ordinal, 0) << "spot past the last key at operation " << op;
        continue;
      }
      ASSERT_EQ(spot.Ordinal, below + 1) << "spot at operation " << op;
      ASSERT_EQ(spot.RecordNumber, at->record) << "spot record at operation " << op;
      ASSERT_EQ(spot_key, at->key) << "spot key at operation " << op;
      std::vector<uint8_t> next_key(static_cast<size_t>(key_length_));
      int32_t next_record = 0;
      std::array<int32_t, 1> ahead{};
      const auto next = std::next(at);
      ASSERT_EQ(tree.StepAlong(spot, 1, next_key.data(), next_record, ahead, 1),
                next != model_.end())
          << "step from the spot at operation " << op;
      if (next == model_.end()) continue;
      ASSERT_EQ(next_record, next->record) << "step from the spot at operation " << op;
      ASSERT_EQ(spot.Ordinal, below + 2) << "step from the spot at operation " << op;
    }
  }

  void CheckBitmapWalks(TBTree& tree, int32_t op) {
    const auto ordered = Ordered();
    const int64_t start = static_cast<int64_t>(rng_() % (ordered.size() + 2));
    CheckBitmapWalks(tree, ordered, start, rng_() % 2 == 0 ? 1 : -1, op);
  }

  void CheckBitmapWalks(TBTree& tree, const std::vector<const Entry*>& ordered, int64_t start,
                        int direction, int32_t op) {
    const int64_t n = static_cast<int64_t>(ordered.size());
    const auto end = Probe();
    const uint8_t* end_key = rng_() % 2 == 0 ? end.data() : nullptr;
    auto beyond = [&](int64_t j) {
      if (end_key == nullptr) return false;
      const int c = std::memcmp(ordered[j - 1]->key.data(), end_key, key_length_);
      return direction == 1 ? c > 0 : c < 0;
    };
    int64_t expected = 0;
    for (int64_t j = start + direction; j >= 1 && j <= n && !beyond(j); j += direction) {
      if (visible_.IsSet(ordered[j - 1]->record)) {
        expected = j;
        break;
      }
    }
    ASSERT_EQ(tree.NextInBitmap(start, visible_, direction, end_key), expected)
        << "walk from " << start << " direction " << direction << " at operation " << op;

    TRecordsBitmap marked;
    marked.SetRecordCount(record_id_ + 1);
    tree.MarkRecords(start, marked, end.data());
    TRecordsBitmap model;
    model.SetRecordCount(record_id_ + 1);
    for (int64_t j = std::max<int64_t>(start, 1);
         j <= n && std::memcmp(ordered[j - 1]->key.data(), end.data(), key_length_) <= 0; ++j) {
      model.SetBit(ordered[j - 1]->record);
    }
    for (int32_t r = 1; r <= record_id_; ++r) {
      ASSERT_EQ(marked.IsSet(r), model.IsSet(r))
          << "marking record " << r << " at operation " << op;
    }
  }

  void InsertRandom(TBTree& tree) {
    Entry e{MakeKey(NextValue(), case_.image_length, key_length_, ++record_id_), record_id_};
    // On a unique index every other insert is the checking one: it refuses
    // exactly the keys the model holds, and a refusal changes nothing (the
    // comparisons after it would see any change).
    if (case_.unique && rng_() % 2 == 0) {
      const bool held = model_.count(e) != 0;
      ASSERT_EQ(tree.InsertUnique(e.key.data(), e.record), !held) << "key held: " << held;
      if (held) return;
    } else {
      tree.Insert(e.key.data(), e.record);
    }
    model_.insert(e);
    live_.push_back(e);
  }

  void DeleteRandom(TBTree& tree) {
    const size_t pick = rng_() % live_.size();
    const Entry e = live_[pick];
    live_[pick] = live_.back();
    live_.pop_back();
    tree.Delete(e.key.data(), e.record);
    auto [first, last] = model_.equal_range(e);
    for (auto it = first; it != last; ++it) {
      if (it->record == e.record) {
        model_.erase(it);
        break;
      }
    }
  }

  // Inserts and deletes while the cursor reports a change of the files at
  // the k-th page read of each operation, k going round 1 to 6, so that the
  // report meets each read of a split, a merge and a redistribution in
  // turn. Every key must stay reachable in order and the file sound.
  void RunWithChangeReports(int32_t operations) {
    TBTree tree(*table_.index, *cursor_);
    for (int32_t op = 1; op <= operations; ++op) {
      cursor_->change_checks = 0;
      cursor_->change_at = 1 + op % 6;
      // Grow towards enough keys that compressed leaves outnumber the page
      // cache, so that splits and merges read pages from the file.
      const uint32_t insert_share = live_.size() < 12000 ? 75 : 45;
      if (rng_() % 100 < insert_share || live_.empty()) {
        InsertRandom(tree);
      } else {
        DeleteRandom(tree);
      }
      cursor_->change_at = 0;
      if (op % 1000 != 0 && op != operations) continue;
      ASSERT_EQ(tree.KeyCount(), static_cast<int64_t>(model_.size())) << "at operation " << op;
      int64_t ordinal = 0;
      std::vector<uint8_t> key(key_length_);
      for (const Entry& expected : model_) {
        int32_t record = 0;
        ASSERT_TRUE(tree.Select(++ordinal, key.data(), record)) << "at operation " << op;
        ASSERT_EQ(key, expected.key) << "key " << ordinal << " at operation " << op;
      }
      Verify(op);
    }
  }

  // Fills the empty index bottom-up with count keys of the stream, handed
  // over in key order, and checks every key by its ordinal and the file.
  void Build(int32_t count) {
    std::vector<Entry> entries;
    for (int32_t i = 0; i < count; ++i) {
      entries.push_back(
          Entry{MakeKey(NextValue(), case_.image_length, key_length_, ++record_id_), record_id_});
    }
    std::stable_sort(entries.begin(), entries.end(), ByKey());
    {
      TBTreeBuilder builder(*table_.index, *cursor_);
      for (const Entry& e : entries) {
        builder.Add(e.key.data(), e.record);
        model_.insert(e);
        live_.push_back(e);
      }
      builder.Finish();
    }
    TBTree tree(*table_.index, *cursor_);
    ASSERT_EQ(tree.KeyCount(), count);
    std::vector<uint8_t> key(key_length_);
    for (int32_t ordinal = 1; ordinal <= count; ++ordinal) {
      int32_t record = 0;
      ASSERT_TRUE(tree.Select(ordinal, key.data(), record));
      ASSERT_EQ(key, entries[ordinal - 1].key) << "key " << ordinal;
      ASSERT_EQ(record, entries[ordinal - 1].record) << "key " << ordinal;
    }
    Verify(0);
  }

  void Run(int32_t operations) {
    TBTree tree(*table_.index, *cursor_);
    for (int32_t op = 1; op <= operations; ++op) {
      if (op % 500 == 1) RefreshVisible();
      const uint32_t dice = rng_() % 100;
      // Grow towards a few thousand keys, then hover.
      const uint32_t insert_share = live_.size() < 3000 ? 60 : 45;
      if (dice < insert_share || live_.empty()) {
        InsertRandom(tree);
      } else if (dice < insert_share + 30) {
        DeleteRandom(tree);
      } else if (dice < insert_share + 40) {
        const Entry probe{MakeKey(NextValue(), case_.image_length, key_length_,
                                  static_cast<int32_t>(rng_() % (record_id_ + 1))),
                          0};
        int32_t record = 0;
        const bool found = tree.Find(probe.key.data(), record);
        auto [first, last] = model_.equal_range(probe);
        ASSERT_EQ(found, first != last) << "lookup at operation " << op;
        if (found) {
          bool among = false;
          for (auto it = first; it != last; ++it) among |= it->record == record;
          ASSERT_TRUE(among) << "lookup gave another key's record at operation " << op;
        }
      } else if (dice < insert_share + 48) {
        const Entry probe = rng_() % 2 == 0 || live_.empty()
                                ? Entry{MakeKey(NextValue(), case_.image_length, key_length_, 7), 0}
                                : live_[rng_() % live_.size()];
        ASSERT_EQ(tree.CountBelow(probe.key.data()),
                  std::distance(model_.begin(), model_.lower_bound(probe)))
            << "rank at operation " << op;
        ASSERT_EQ(tree.CountNotAbove(probe.key.data()),
                  std::distance(model_.begin(), model_.upper_bound(probe)))
            << "rank at operation " << op;
      } else if (dice < insert_share + 53) {
        CheckSearches(tree, op);
        if (::testing::Test::HasFatalFailure()) return;
      } else if (dice < insert_share + 55) {
        CheckBitmapWalks(tree, op);
        if (::testing::Test::HasFatalFailure()) return;
      } else if (!model_.empty()) {
        const int64_t ordinal = 1 + static_cast<int64_t>(rng_() % model_.size());
        std::vector<uint8_t> key(key_length_);
        int32_t record = 0;
        ASSERT_TRUE(tree.Select(ordinal, key.data(), record));
        const Entry& expected = *std::next(model_.begin(), ordinal - 1);
        ASSERT_EQ(key, expected.key) << "select at operation " << op;
        ASSERT_EQ(record, expected.record) << "select at operation " << op;
      }
      ASSERT_EQ(tree.KeyCount(), static_cast<int64_t>(model_.size())) << "at operation " << op;
      if (op % 10000 == 0) Verify(op);
    }
    // Emptied again, the index is a root of 0 with its pages on the free list.
    while (!live_.empty()) {
      tree.Delete(live_.back().key.data(), live_.back().record);
      live_.pop_back();
    }
    model_.clear();
    ASSERT_EQ(table_.index->Root(1), 0);
    ASSERT_NE(table_.index->FreeHead(1), 0);
    Verify(operations + 1);
  }

  // Fills the index with count keys, then searches for every key it holds
  // and for a key in every gap between two of them, so that every leaf's
  // edges are met, and walks the bitmap from every few ordinals.
  void SweepGaps(int32_t count) {
    TBTree tree(*table_.index, *cursor_);
    std::vector<std::vector<uint8_t>> probes;
    for (int32_t i = 1; i <= count; ++i) {
      const uint32_t value = 2 * NextValue();
      Entry e{MakeKey(value, case_.image_length, key_length_, ++record_id_), record_id_};
      tree.Insert(e.key.data(), e.record);
      model_.insert(e);
      probes.push_back(e.key);
      probes.push_back(MakeKey(value + 1, case_.image_length, key_length_, 0));
    }
    for (const auto& key : probes) {
      for (const bool flag : {false, true}) {
        CheckSearches(tree, key, flag, 0);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    RefreshVisible();
    const auto ordered = Ordered();
    for (int64_t start = 0; start <= count + 1; start += 7) {
      for (const int direction : {1, -1}) {
        CheckBitmapWalks(tree, ordered, start, direction, 0);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }

  void Verify(int32_t op) {
    table_.index->SetLiveCount(static_cast<int32_t>(model_.size()));
    table_.WriteBack();
    const auto problems = VerifyIndexFile(table_.IndexPath(), *table_.data);
    ASSERT_TRUE(problems.empty()) << problems.front() << " after operation " << op;
  }

 private:
  ModelCase case_;
  IndexTable table_;
  KeyCursor* cursor_ = nullptr;
  std::mt19937 rng_;
  int32_t key_length_ = 0;
  uint32_t counter_ = 0;
  int32_t record_id_ = 0;
  std::multiset<Entry, ByKey> model_;
  std::vector<Entry> live_;
  TRecordsBitmap visible_;
};

// Runs body over a fresh index for the case, with its seed printed on failure.
template <class Body>
void RunSeeded(const ModelCase& c, Body body) {
  const uint32_t seed = TestSeed();
  SCOPED_TRACE(Describe(c) + ", seed " + std::to_string(seed) + " (JW_SEED)");
  ModelRun run(c, seed);
  body(run);
}

class BTreeModelTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(BTreeModelTest, MatchesMultisetForEveryKeyStream) {
  const uint8_t mode = GetParam();
  // A million operations per mode in the long run, 50,000 otherwise.
  const int32_t per_stream = LongTests() ? 250000 : 12500;
  const ModelCase cases[] = {
      {mode, Stream::Ascending, false, 21},
      {mode, Stream::Descending, true, 21},
      {mode, Stream::Random, false, 9},
      // Equal keys with different records: only a unique index lets the
      // same key image in more than once.
      {mode, Stream::Duplicates, true, 21},
  };
  for (const ModelCase& c : cases) {
    RunSeeded(c, [&](ModelRun& run) { run.Run(per_stream); });
    if (HasFatalFailure()) return;
  }
}

TEST_P(BTreeModelTest, LongKeysMakeDeepTrees) {
  // A 524-byte image and the record id: 528 bytes, seven keys to a page.
  RunSeeded({GetParam(), Stream::Random, false, 524},
            [](ModelRun& run) { run.Run(LongTests() ? 100000 : 10000); });
}

// An index built bottom-up from sorted keys, from empty through one leaf
// to trees five levels deep, holds them in order and takes inserts,
// deletes (merging its underfull last pages) and searches like one built
// key by key, down to empty again.
TEST_P(BTreeModelTest, BottomUpBuildMatchesTheModelAndTakesChanges) {
  const uint8_t mode = GetParam();
  const ModelCase cases[] = {{mode, Stream::Random, false, 9},
                             {mode, Stream::Duplicates, true, 21},
                             {mode, Stream::Random, false, 524}};
  for (const ModelCase& c : cases) {
    for (const int32_t count : {0, 1, c.image_length > 100 ? 3000 : 12000}) {
      RunSeeded(c, [&](ModelRun& run) {
        run.Build(count);
        if (!HasFatalFailure()) run.Run(2000);
      });
      if (HasFatalFailure()) return;
    }
  }
}

TEST_P(BTreeModelTest, SearchesAndWalksMeetEveryLeafEdge) {
  const uint8_t mode = GetParam();
  for (const ModelCase& c :
       {ModelCase{mode, Stream::Random, false, 9}, ModelCase{mode, Stream::Ascending, true, 252}}) {
    RunSeeded(c, [](ModelRun& run) { run.SweepGaps(LongTests() ? 20000 : 800); });
    if (HasFatalFailure()) return;
  }
}

TEST_P(BTreeModelTest, ChangeReportedInsideASplitOrMergeLosesNoKey) {
  RunSeeded({GetParam(), Stream::Random, false, 21},
            [](ModelRun& run) { run.RunWithChangeReports(LongTests() ? 200000 : 20000); });
}

INSTANTIATE_TEST_SUITE_P(Modes, BTreeModelTest, ::testing::Values(0, 1, 2, 3));

}  // namespace
}  // namespace jw::test
