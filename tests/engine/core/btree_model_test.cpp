// The B-tree against a model: random inserts, deletes, lookups, ranks and
// selects by ordinal applied to an index and to a std::multiset, compared
// after every step, with the verifier run over the written file every
// 10,000 operations. The seed is printed; JW_LONG_TESTS=1 runs a million
// operations per compression mode.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

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

  void Run(int32_t operations) {
    TBTree tree(*table_.index, *cursor_);
    for (int32_t op = 1; op <= operations; ++op) {
      const uint32_t dice = rng_() % 100;
      // Grow towards a few thousand keys, then hover.
      const uint32_t insert_share = live_.size() < 3000 ? 60 : 45;
      if (dice < insert_share || live_.empty()) {
        Entry e{MakeKey(NextValue(), case_.image_length, key_length_, ++record_id_), record_id_};
        tree.Insert(e.key.data(), e.record);
        model_.insert(e);
        live_.push_back(e);
      } else if (dice < insert_share + 30) {
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
};

uint32_t Seed() {
  const char* fixed = std::getenv("JW_SEED");
  return fixed != nullptr ? static_cast<uint32_t>(std::strtoul(fixed, nullptr, 10))
                          : std::random_device{}();
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
    const uint32_t seed = Seed();
    SCOPED_TRACE(Describe(c) + ", seed " + std::to_string(seed) + " (JW_SEED)");
    ModelRun run(c, seed);
    run.Run(per_stream);
    if (HasFatalFailure()) return;
  }
}

TEST_P(BTreeModelTest, LongKeysMakeDeepTrees) {
  const uint8_t mode = GetParam();
  const uint32_t seed = Seed();
  // A 524-byte image and the record id: 528 bytes, seven keys to a page.
  const ModelCase c{mode, Stream::Random, false, 524};
  SCOPED_TRACE(Describe(c) + ", seed " + std::to_string(seed) + " (JW_SEED)");
  ModelRun run(c, seed);
  run.Run(LongTests() ? 100000 : 10000);
}

INSTANTIATE_TEST_SUITE_P(Modes, BTreeModelTest, ::testing::Values(0, 1, 2, 3));

}  // namespace
}  // namespace jw::test
