// The record buffer ring against a model: random sequences of moves and
// edits on an array dataset, for window sizes 1 to 8, compared after every
// step with a vector of records, a current position and the BOF/EOF flags.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "array_data_set.h"
#include "platform/db/data_link.h"
#include "platform/db/data_source.h"
#include "platform/db/field.h"
#include "platform/db/scalar_fields.h"

namespace jw {
namespace {

class WindowLink : public TDataLink {};

// The dataset as a user sees it: records in order, the current one, the
// flags, and the record being edited or inserted.
struct Model {
  struct Rec {
    int32_t id;
    int32_t value;
  };
  enum class Mode { kBrowse, kEdit, kInsert };
  enum class Place { kBefore, kEnd, kFront };

  std::vector<Rec> records;
  int current = 0;
  bool bof = true;
  bool eof = true;
  Mode mode = Mode::kBrowse;
  int32_t pending = 0;
  Place place = Place::kFront;
  int32_t before_id = 0;
  int32_t next_id = 1;

  bool Empty() const { return records.empty(); }
  int IndexOf(int32_t id) const {
    for (int i = 0; i < static_cast<int>(records.size()); ++i) {
      if (records[i].id == id) return i;
    }
    return -1;
  }
  // After a re-read around a position: flags clear unless nothing is left.
  void Settle(int position) {
    if (Empty()) {
      current = 0;
      bof = eof = true;
      return;
    }
    current = std::clamp(position, 0, static_cast<int>(records.size()) - 1);
    bof = eof = false;
  }
  void Post() {
    if (mode == Mode::kEdit) {
      records[current].value = pending;
      Settle(current);
    } else {
      int index = 0;
      if (place == Place::kBefore) index = IndexOf(before_id);
      if (place == Place::kEnd) index = static_cast<int>(records.size());
      records.insert(records.begin() + index, {next_id++, pending});
      Settle(index);
    }
    mode = Mode::kBrowse;
  }
  void Cancel() {
    if (mode == Mode::kInsert && place == Place::kBefore) Settle(IndexOf(before_id));
    if (mode == Mode::kInsert && place == Place::kEnd) Settle(static_cast<int>(records.size()) - 1);
    if (mode == Mode::kInsert && place == Place::kFront) Settle(0);
    if (mode == Mode::kEdit) Settle(current);
    mode = Mode::kBrowse;
  }
  // Every operation but Post, Cancel and Delete first ends an edit; the
  // tests always change a value, so that edit is posted.
  void CheckBrowse() {
    if (mode != Mode::kBrowse) Post();
  }
  void StartInsert(int32_t value) {
    mode = Mode::kInsert;
    pending = value;
    if (Empty()) {
      place = Place::kFront;
    } else {
      place = Place::kBefore;
      before_id = records[current].id;
    }
  }
};

void CheckAgainstModel(TArrayDataSet& dataset, const Model& model) {
  TField* value = dataset.FieldByName("Value");
  switch (model.mode) {
    case Model::Mode::kInsert:
      ASSERT_EQ(dataset.State(), dsInsert);
      ASSERT_EQ(value->AsInteger(), model.pending);
      ASSERT_EQ(dataset.RecNo(), -1);
      return;
    case Model::Mode::kEdit:
      ASSERT_EQ(dataset.State(), dsEdit);
      ASSERT_EQ(value->AsInteger(), model.pending);
      return;
    case Model::Mode::kBrowse:
      break;
  }
  ASSERT_EQ(dataset.State(), dsBrowse);
  ASSERT_EQ(dataset.RecordCount(), static_cast<int>(model.records.size()));
  ASSERT_EQ(dataset.Bof(), model.bof);
  ASSERT_EQ(dataset.Eof(), model.eof);
  ASSERT_EQ(dataset.IsEmpty(), model.Empty());
  if (model.Empty()) return;
  const Model::Rec& rec = model.records[model.current];
  ASSERT_EQ(TArrayDataSet::IdOf(dataset.GetBookmark()), rec.id);
  ASSERT_EQ(value->AsInteger(), rec.value);
  ASSERT_EQ(dataset.FieldByName("Twice")->AsInteger(), rec.value * 2);
  ASSERT_EQ(dataset.RecNo(), model.current + 1);
  // The window holds consecutive records around the active one.
  const std::vector<int32_t> window = dataset.WindowIds();
  ASSERT_LE(static_cast<int>(window.size()), dataset.BufferCount());
  const int first = model.current - dataset.WindowActive();
  ASSERT_GE(first, 0);
  for (int i = 0; i < static_cast<int>(window.size()); ++i) {
    ASSERT_LT(first + i, static_cast<int>(model.records.size()));
    ASSERT_EQ(window[i], model.records[first + i].id) << "window slot " << i;
  }
  const int expected_window = std::min<int>(dataset.BufferCount(), model.records.size());
  ASSERT_EQ(static_cast<int>(window.size()), expected_window);
}

void RunSequence(int buffer_count, uint32_t seed) {
  std::mt19937 random(seed);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };

  TArrayDataSet dataset(nullptr, {{"Value", ftInteger}});
  auto* twice = new TIntegerField(&dataset);
  twice->SetFieldName("Twice");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&dataset);
  auto* value_field = new TIntegerField(&dataset);
  value_field->SetFieldName("Value");
  value_field->SetDataSet(&dataset);
  dataset.OnCalcFields = [&](TDataSet*) { twice->SetAsInteger(value_field->AsInteger() * 2); };
  Model model;
  const int initial = pick(0, 6);
  for (int i = 0; i < initial; ++i) {
    const int32_t id = dataset.AddRecord();
    const int32_t number = pick(-50, 50);
    dataset.SetRecordField(
        i, 0,
        {reinterpret_cast<const uint8_t*>(&number), reinterpret_cast<const uint8_t*>(&number) + 4});
    model.records.push_back({id, number});
  }
  model.next_id = initial + 1;
  TDataSource source(nullptr);
  source.SetDataSet(&dataset);
  WindowLink link;
  link.SetDataSource(&source);
  link.SetBufferCount(buffer_count);

  dataset.Open();
  model.Settle(0);
  model.bof = true;
  model.eof = model.Empty();
  ASSERT_NO_FATAL_FAILURE(CheckAgainstModel(dataset, model));

  for (int step = 0; step < 60; ++step) {
    const int op = pick(0, 13);
    SCOPED_TRACE("step " + std::to_string(step) + " operation " + std::to_string(op));
    const int32_t number = pick(-1000, 1000);
    switch (op) {
      case 0:
        dataset.First();
        model.CheckBrowse();
        model.current = 0;
        model.bof = true;
        model.eof = model.Empty();
        break;
      case 1:
        dataset.Last();
        model.CheckBrowse();
        model.current = std::max(0, static_cast<int>(model.records.size()) - 1);
        model.eof = true;
        model.bof = model.Empty();
        break;
      case 2:
      case 3:
      case 4: {
        const int distance = op == 2 ? 1 : op == 3 ? -1 : pick(-5, 5);
        const int moved = dataset.MoveBy(distance);
        model.CheckBrowse();
        int expected_moved = 0;
        if ((distance > 0 && !model.eof) || (distance < 0 && !model.bof)) {
          model.bof = model.eof = false;
          const int last = static_cast<int>(model.records.size()) - 1;
          const int target = model.current + distance;
          const int reached = std::clamp(target, 0, last);
          expected_moved = reached - model.current;
          model.current = reached;
          model.eof = target > last;
          model.bof = target < 0;
        }
        ASSERT_EQ(moved, expected_moved);
        break;
      }
      case 5:
        dataset.Insert();
        dataset.FieldByName("Value")->SetAsInteger(number);
        model.CheckBrowse();
        model.StartInsert(number);
        break;
      case 6:
        dataset.Append();
        dataset.FieldByName("Value")->SetAsInteger(number);
        model.CheckBrowse();
        model.mode = Model::Mode::kInsert;
        model.place = Model::Place::kEnd;
        model.pending = number;
        break;
      case 7:
        dataset.Edit();
        dataset.FieldByName("Value")->SetAsInteger(number);
        if (model.mode != Model::Mode::kBrowse) {
          model.pending = number;
        } else if (model.Empty()) {
          model.StartInsert(number);
        } else {
          model.mode = Model::Mode::kEdit;
          model.pending = number;
        }
        break;
      case 8:
        if (model.mode == Model::Mode::kBrowse) {
          EXPECT_THROW(dataset.Post(), EDatabaseError);
        } else {
          dataset.Post();
          model.Post();
        }
        break;
      case 9:
        dataset.Cancel();
        if (model.mode != Model::Mode::kBrowse) model.Cancel();
        break;
      case 10:
        if (model.mode == Model::Mode::kInsert) {
          dataset.Delete();
          model.Cancel();
        } else if (model.Empty()) {
          EXPECT_THROW(dataset.Delete(), EDatabaseError);
        } else {
          dataset.Delete();
          model.records.erase(model.records.begin() + model.current);
          model.mode = Model::Mode::kBrowse;
          model.Settle(model.current);
        }
        break;
      case 11: {
        model.CheckBrowse();
        if (model.Empty()) {
          dataset.CheckBrowseMode();
          break;
        }
        const int index = pick(0, static_cast<int>(model.records.size()) - 1);
        dataset.GotoBookmark(TArrayDataSet::BookmarkOf(model.records[index].id));
        model.Settle(index);
        break;
      }
      case 12:
        model.CheckBrowse();
        dataset.CheckBrowseMode();
        if (model.Empty()) break;
        dataset.UpdateCursorPos();
        dataset.Resync(pick(0, 1) ? TResyncMode{rmExact, rmCenter} : TResyncMode{});
        model.Settle(model.current);
        break;
      case 13:
        // A new window size keeps the active record and what fits around it.
        if (model.mode == Model::Mode::kBrowse) link.SetBufferCount(pick(1, 8));
        break;
    }
    ASSERT_NO_FATAL_FAILURE(CheckAgainstModel(dataset, model));
  }
  dataset.Close();
}

TEST(DataSetModelTest, BufferRingFollowsAVectorModelForEveryWindowSize) {
  const bool long_run = std::getenv("JW_LONG_TESTS") != nullptr;
  const int sequences = long_run ? 250 : 25;  // per window size; 2,000 in all on a long run
  std::random_device device;
  const uint32_t base_seed = device();
  for (int buffer_count = 1; buffer_count <= 8; ++buffer_count) {
    for (int i = 0; i < sequences; ++i) {
      const uint32_t seed = base_seed + buffer_count * 100003u + i;
      SCOPED_TRACE("buffer count " + std::to_string(buffer_count) + ", seed " +
                   std::to_string(seed));
      RunSequence(buffer_count, seed);
      if (testing::Test::HasFatalFailure() || testing::Test::HasNonfatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace jw
