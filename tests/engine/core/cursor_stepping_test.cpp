// Walks in index order against a model while the index changes between the
// steps: through the walking cursor itself, through another cursor of this
// process and through another process. Each step must land on the key next
// to the one the cursor stood on, in the cursor's range, with its rank as
// the record number, as a fresh descent from the root would find it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/engine/core/cursor_test_table.h"
#include "tests/engine/core/index_test_table.h"
#include "tests/engine/core/table_ops.h"
#include "tests/engine/core/table_peer.h"

namespace jw::test {
namespace {

constexpr int32_t kName = 2;
constexpr int32_t kValue = 3;
constexpr uint8_t kByName = 1;

// A record of the model: its value (the unique primary key), its name (the
// non-unique secondary key, a few names for long runs of equal keys) and id.
struct Rec {
  int32_t value;
  std::string name;
  int32_t id;
};

using Model = std::map<int32_t, Rec>;

// A record's place in the cursor's index order.
std::tuple<std::string, int32_t, int32_t> OrderKey(const Rec& r, uint8_t index) {
  return index == kByName ? std::tuple(r.name, r.id, 0) : std::tuple(std::string(), r.value, 0);
}

// The values of the model's records in the index's order, within an
// optional range of values on the primary index.
std::vector<int32_t> Ordered(const Model& model, uint8_t index, bool ranged, int32_t low,
                             int32_t high) {
  std::vector<Rec> rows;
  for (const auto& [value, rec] : model) {
    if (!ranged || (value >= low && value <= high)) rows.push_back(rec);
  }
  std::sort(rows.begin(), rows.end(),
            [index](const Rec& a, const Rec& b) { return OrderKey(a, index) < OrderKey(b, index); });
  std::vector<int32_t> values;
  for (const Rec& r : rows) values.push_back(r.value);
  return values;
}

class Stepper {
 public:
  Stepper(TDataCursor& cursor, Model& model)
      : cursor_(cursor), model_(model), image_(static_cast<size_t>(cursor.GetRecordSize())) {}

  uint8_t index = 0;
  bool ranged = false;
  int32_t low = 0;
  int32_t high = 0;

  // The value of the cursor's record; nothing off the records.
  std::optional<int32_t> Current() {
    if (cursor_.GetCurrentRecord(image_.data()) != 0) return std::nullopt;
    return Value(image_);
  }

  // One step from where the cursor stands, checked against the model.
  void Step(bool forward, const std::string& context) {
    const std::optional<int32_t> before = Current();
    const bool before_first = !before && cursor_.Bof();
    const bool after_last = !before && cursor_.Eof();
    const std::vector<int32_t> order = Ordered(model_, index, ranged, low, high);
    // Where the expected record stands in order: the neighbour of the
    // record stood on, or the range's edge from before its first / after
    // its last record.
    int64_t expected = -1;
    if (before) {
      const auto at = std::find(order.begin(), order.end(), *before);
      ASSERT_NE(at, order.end()) << context << ": stands on " << *before << " outside the model";
      expected = (at - order.begin()) + (forward ? 1 : -1);
    } else if (before_first && forward) {
      expected = 0;
    } else if (after_last && !forward) {
      expected = static_cast<int64_t>(order.size()) - 1;
    } else {
      // Off the records with nowhere to step to from this side.
      return;
    }
    const int32_t result =
        forward ? cursor_.GetNextRecord(image_.data()) : cursor_.GetPriorRecord(image_.data());
    if (expected < 0 || expected >= static_cast<int64_t>(order.size())) {
      EXPECT_EQ(result, forward ? kErrEndOfFile : kErrBeginningOfFile) << context;
      return;
    }
    ASSERT_EQ(result, 0) << context;
    EXPECT_EQ(Value(image_), order[static_cast<size_t>(expected)]) << context;
    EXPECT_EQ(cursor_.GetRecNo(), expected + 1) << context;
    EXPECT_EQ(cursor_.GetRecordCount(), static_cast<int32_t>(order.size())) << context;
  }

  void ExpectOn(int32_t value, const std::string& context) {
    const std::vector<int32_t> order = Ordered(model_, index, ranged, low, high);
    const auto at = std::find(order.begin(), order.end(), value);
    ASSERT_NE(at, order.end()) << context;
    EXPECT_EQ(Current(), value) << context;
    EXPECT_EQ(cursor_.GetRecNo(), (at - order.begin()) + 1) << context;
  }

  void SetRange(int32_t from, int32_t to) {
    ranged = true;
    low = from;
    high = to;
    std::vector<uint8_t> a(image_.size()), b(image_.size());
    cursor_.SetFieldData(kValue, a.data(), false, &from);
    cursor_.SetFieldData(kValue, b.data(), false, &to);
    cursor_.SetRange(false, a.data(), 1, b.data(), 1);
  }
  void CancelRange() {
    ranged = false;
    cursor_.CancelRange();
  }

  int32_t Value(const std::vector<uint8_t>& image) {
    bool null = false;
    int32_t value = 0;
    cursor_.GetFieldData(kValue, image.data(), null, &value);
    return value;
  }

 private:
  TDataCursor& cursor_;
  Model& model_;
  std::vector<uint8_t> image_;
};

class CursorSteppingTest : public testing::Test {
 protected:
  TTableDefinition Definition() const {
    TTableDefinition d = SmallTableDefinition();
    d.Indexes.push_back(Index("ByName", {kName}, false));
    return d;
  }

  // A new record through the cursor; the model keeps it.
  void Insert(TDataCursor& cursor, int32_t value) {
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    cursor.InitRecord(image.data());
    const std::string name(1, static_cast<char>('A' + rng_() % 5));
    cursor.SetFieldData(kName, image.data(), false, name.c_str());
    cursor.SetFieldData(kValue, image.data(), false, &value);
    cursor.InsertRecord(image.data(), false);
    model_[value] = Rec{value, name, TDataCursor::GetRecordId(image.data())};
  }
  // A value no record holds.
  int32_t FreeValue() {
    for (;;) {
      const auto value = static_cast<int32_t>(rng_() % 1000000);
      if (!model_.contains(value)) return value;
    }
  }
  int32_t AnyValue() {
    auto it = model_.begin();
    std::advance(it, static_cast<long>(rng_() % model_.size()));
    return it->first;
  }
  // The cursor stands on the record of value (found by its primary key),
  // image its record.
  void SeekValue(TDataCursor& cursor, int32_t value, std::vector<uint8_t>& image) {
    cursor.InitRecord(image.data());
    cursor.SetFieldData(kValue, image.data(), false, &value);
    ASSERT_TRUE(cursor.SeekKey(false, image.data(), image.data(), 0, false, 1)) << value;
  }
  std::string Seed() const { return "seed " + std::to_string(seed_) + " (JW_SEED)"; }

  const uint32_t seed_ = TestSeed();
  std::mt19937 rng_{seed_};
  CursorDatabase db_;
  Model model_;
};

TEST_F(CursorSteppingTest, StepsFollowTheModelWhileThisProcessChangesTheIndexBetweenThem) {
  const int32_t records = LongTests() ? 4000 : 1500;
  const int32_t rounds = LongTests() ? 6000 : 1500;
  db_.Create("T", Definition());
  auto walker = db_.Open("T");
  auto other = db_.Open("T");
  for (int32_t i = 0; i < records; ++i) Insert(*other, FreeValue());
  Stepper stepper(*walker, model_);
  std::vector<uint8_t> image(static_cast<size_t>(walker->GetRecordSize()));
  bool forward = true;
  for (int32_t round = 0; round < rounds && !HasFatalFailure(); ++round) {
    const std::string context = Seed() + ", round " + std::to_string(round);
    const uint32_t choice = rng_() % 100;
    if (choice < 50) {
      // Runs of steps one way, turning now and then.
      if (rng_() % 8 == 0) forward = !forward;
      stepper.Step(forward, context);
    } else if (choice < 62) {
      // The walker's own insert leaves it on its record, at that record's
      // new rank.
      const bool by_walker = rng_() % 2 != 0;
      const std::optional<int32_t> stood = stepper.Current();
      Insert(by_walker ? *walker : *other, FreeValue());
      if (by_walker && stood) stepper.ExpectOn(*stood, context + ", after its insert");
    } else if (choice < 74 && model_.size() > 10) {
      // A delete by either cursor: the walker deletes the record it stands on.
      const bool by_walker = rng_() % 3 == 0;
      TDataCursor& cursor = by_walker ? *walker : *other;
      const std::optional<int32_t> current = stepper.Current();
      if (by_walker && !current) continue;
      const int32_t value = by_walker ? *current : AnyValue();
      if (!by_walker) SeekValue(cursor, value, image);
      if (by_walker) walker->GetCurrentRecord(image.data());
      cursor.DeleteRecord(image.data(), false);
      model_.erase(value);
    } else if (choice < 80) {
      // Another cursor moves a record's key elsewhere in both indexes.
      const int32_t value = AnyValue();
      SeekValue(*other, value, image);
      ASSERT_EQ(other->GetCurrentRecord(image.data(), true), 0) << context;
      const int32_t moved = FreeValue();
      const std::string name(1, static_cast<char>('A' + rng_() % 5));
      other->SetFieldData(kValue, image.data(), false, &moved);
      other->SetFieldData(kName, image.data(), false, name.c_str());
      other->ModifyRecord(image.data(), true, false);
      Rec rec = model_.at(value);
      model_.erase(value);
      model_[moved] = Rec{moved, name, rec.id};
    } else if (choice < 88) {
      // A jump: by record number, or by a primary key.
      if (stepper.index == kByName || rng_() % 2 == 0) {
        walker->SetRecNo(1 + static_cast<int32_t>(rng_() % (model_.size() + 2)));
      } else {
        // A key outside the walker's range leaves it at the range's edge.
        const int32_t value = AnyValue();
        walker->InitRecord(image.data());
        walker->SetFieldData(kValue, image.data(), false, &value);
        walker->SeekKey(false, image.data(), nullptr, 0, true, 1);
      }
    } else if (choice < 94) {
      // Another index, its range cancelled.
      stepper.index = stepper.index == 0 ? kByName : 0;
      walker->SetIndexByNumber(stepper.index);
      stepper.ranged = false;
    } else if (stepper.index == 0) {
      if (stepper.ranged && rng_() % 2 == 0) {
        stepper.CancelRange();
      } else {
        const int32_t a = FreeValue();
        const int32_t b = a + static_cast<int32_t>(rng_() % 200000);
        stepper.SetRange(a, b);
      }
    }
  }
}

TEST_F(CursorSteppingTest, StepsFollowTheModelWhileAnotherProcessChangesTheIndexBetweenThem) {
  const int32_t records = LongTests() ? 5000 : 1200;
  const int32_t rounds = LongTests() ? 3000 : 300;
  db_.Create("T", SmallTableDefinition());
  auto walker = db_.Open("T");
  for (int32_t i = 0; i < records; ++i) Insert(*walker, FreeValue());
  // The record numbers the other process deletes by.
  std::map<int32_t, int32_t> numbers;
  std::vector<uint8_t> image(static_cast<size_t>(walker->GetRecordSize()));
  walker->First();
  Stepper stepper(*walker, model_);
  while (walker->GetNextRecord(image.data()) == 0) {
    numbers[stepper.Value(image)] = walker->CurrentRecordNumber();
  }
  Peer peer;
  ASSERT_TRUE(peer.Ready());
  ASSERT_EQ(peer.Ask("open " + db_.dir.Path("") + " T"), "ok");
  walker->First();
  bool forward = true;
  for (int32_t round = 0; round < rounds && !HasFatalFailure(); ++round) {
    const std::string context = Seed() + ", round " + std::to_string(round);
    const uint32_t choice = rng_() % 100;
    if (choice < 30) {
      const int32_t value = FreeValue();
      const std::string answer = peer.Ask("insert " + std::to_string(value));
      ASSERT_EQ(answer.rfind("ok ", 0), 0u) << context << ": " << answer;
      numbers[value] = std::stoi(answer.substr(3));
      model_[value] = Rec{value, "", 0};
    } else if (choice < 55 && model_.size() > 10) {
      // Any record, the walker's own included.
      const int32_t value = AnyValue();
      ASSERT_EQ(
          peer.Ask("delete " + std::to_string(numbers.at(value)) + " " + std::to_string(value)),
          "ok")
          << context;
      numbers.erase(value);
      model_.erase(value);
    } else if (choice < 60) {
      stepper.SetRange(FreeValue() % 500000, 500000 + FreeValue() % 500000);
    } else if (choice < 63) {
      stepper.CancelRange();
    }
    // A few steps after each change, turning now and then.
    for (uint32_t k = rng_() % 4; k > 0; --k) {
      if (rng_() % 8 == 0) forward = !forward;
      stepper.Step(forward, context);
    }
  }
  EXPECT_EQ(peer.Ask("close"), "ok");
}

}  // namespace
}  // namespace jw::test
