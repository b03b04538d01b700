// The order in which the dataset calls its handlers and slots, the failed
// open, the error events of the edit cycle, and what a data link hears.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "array_data_set.h"
#include "platform/db/data_link.h"
#include "platform/db/data_source.h"
#include "platform/db/field.h"

namespace jw {
namespace {

using Log = std::vector<std::string>;

std::unique_ptr<TArrayDataSet> MakeDataSet(int records) {
  auto dataset =
      std::make_unique<TArrayDataSet>(nullptr, std::vector<ArrayFieldSpec>{{"Value", ftInteger}});
  for (int i = 0; i < records; ++i) dataset->AddRecord();
  return dataset;
}

void LogHandlers(TArrayDataSet& dataset) {
  auto log = [&dataset](const char* name) {
    return [&dataset, name](TDataSet*) { dataset.log.push_back(name); };
  };
  dataset.BeforeOpen = log("BeforeOpen");
  dataset.AfterOpen = log("AfterOpen");
  dataset.BeforeClose = log("BeforeClose");
  dataset.AfterClose = log("AfterClose");
  dataset.BeforeInsert = log("BeforeInsert");
  dataset.AfterInsert = log("AfterInsert");
  dataset.BeforeEdit = log("BeforeEdit");
  dataset.AfterEdit = log("AfterEdit");
  dataset.BeforePost = log("BeforePost");
  dataset.AfterPost = log("AfterPost");
  dataset.BeforeCancel = log("BeforeCancel");
  dataset.AfterCancel = log("AfterCancel");
  dataset.BeforeDelete = log("BeforeDelete");
  dataset.AfterDelete = log("AfterDelete");
  dataset.BeforeScroll = log("BeforeScroll");
  dataset.AfterScroll = log("AfterScroll");
  dataset.OnNewRecord = log("OnNewRecord");
}

TEST(DataSetEventsTest, HandlersAndSlotsRunInTheirOrder) {
  auto dataset = MakeDataSet(3);
  LogHandlers(*dataset);
  auto set_value = [&] { dataset->FieldByName("Value")->SetAsInteger(7); };
  const struct {
    const char* name;
    std::function<void()> action;
    Log expected;
  } cases[] = {
      {"open",
       [&] { dataset->Open(); },
       {"BeforeOpen", "InternalOpen", "AfterOpen", "AfterScroll"}},
      {"next", [&] { dataset->Next(); }, {"BeforeScroll", "AfterScroll"}},
      {"last", [&] { dataset->Last(); }, {"BeforeScroll", "AfterScroll"}},
      {"edit", [&] { dataset->Edit(); }, {"BeforeEdit", "InternalEdit", "AfterEdit"}},
      {"post edit",
       [&] {
         set_value();
         dataset->Post();
       },
       {"BeforePost", "InternalPost", "AfterPost"}},
      {"insert",
       [&] { dataset->Insert(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {"cancel", [&] { dataset->Cancel(); }, {"BeforeCancel", "InternalCancel", "AfterCancel"}},
      {"append",
       [&] { dataset->Append(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {"scroll posts a changed record",
       [&] {
         set_value();
         dataset->Prior();
       },
       {"BeforePost", "InternalPost", "AfterPost", "BeforeScroll", "AfterScroll"}},
      {"scroll cancels an unchanged record",
       [&] {
         dataset->Edit();
         dataset->log.clear();
         dataset->First();
       },
       {"BeforeCancel", "InternalCancel", "AfterCancel", "BeforeScroll", "AfterScroll"}},
      {"delete",
       [&] { dataset->Delete(); },
       {"BeforeDelete", "BeforeScroll", "InternalDelete", "AfterDelete", "AfterScroll"}},
      {"close", [&] { dataset->Close(); }, {"BeforeClose", "InternalClose", "AfterClose"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dataset->log.clear();
    c.action();
    EXPECT_EQ(dataset->log, c.expected);
  }
  EXPECT_EQ(dataset->StoredCount(), 3);  // three, one appended, one deleted
}

TEST(DataSetEventsTest, FailedOpenEndsInactiveWithTheCursorClosed) {
  auto dataset = MakeDataSet(2);
  LogHandlers(*dataset);
  dataset->fail_open = true;
  try {
    dataset->Open();
    FAIL() << "the open succeeded";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "The array cannot be opened");
  }
  EXPECT_EQ(dataset->State(), dsInactive);
  EXPECT_FALSE(dataset->Active());
  EXPECT_EQ(dataset->close_cursor_calls, 1);
  EXPECT_EQ(dataset->log, (Log{"BeforeOpen", "InternalOpen", "InternalClose"}));

  dataset->fail_open = false;
  dataset->Open();
  EXPECT_EQ(dataset->RecordCount(), 2);
  EXPECT_EQ(dataset->FieldCount(), 1);
}

TEST(DataSetEventsTest, ActiveSetWhileLoadingOpensInLoaded) {
  TComponent form(nullptr);
  TLoadingScope scope(form);
  auto* dataset = new TArrayDataSet(&form, {{"Value", ftInteger}});
  dataset->AddRecord();
  dataset->Open();
  EXPECT_FALSE(dataset->Active());
  EXPECT_TRUE(dataset->log.empty());
  scope.End();
  EXPECT_TRUE(dataset->Active());
  EXPECT_EQ(dataset->log, (Log{"InternalOpen"}));
}

TEST(DataSetEventsTest, PostErrorEventFailsAbortsOrRetries) {
  auto dataset = MakeDataSet(1);
  dataset->Open();
  std::vector<std::string> errors;
  TDataAction answer = daFail;
  dataset->OnPostError = [&](TDataSet*, EDatabaseError& error, TDataAction& action) {
    errors.push_back(error.Message());
    action = answer;
  };
  dataset->Edit();
  dataset->FieldByName("Value")->SetAsInteger(5);

  dataset->post_failures = 1;
  EXPECT_THROW(dataset->Post(), EDatabaseError);
  EXPECT_EQ(dataset->State(), dsEdit);

  answer = daAbort;
  dataset->post_failures = 1;
  EXPECT_THROW(dataset->Post(), EAbort);
  EXPECT_EQ(dataset->State(), dsEdit);

  answer = daRetry;
  dataset->post_failures = 2;
  dataset->log.clear();
  dataset->Post();
  EXPECT_EQ(dataset->State(), dsBrowse);
  EXPECT_EQ(dataset->log, (Log{"InternalPost", "InternalPost", "InternalPost"}));
  EXPECT_EQ(errors, Log(4, "The array refuses the record"));
  EXPECT_EQ(dataset->FieldByName("Value")->AsInteger(), 5);
}

class RecordingLink : public TDataLink {
 public:
  Log heard;

 protected:
  void ActiveChanged() override { heard.push_back(Active() ? "active" : "inactive"); }
  void CheckBrowseMode() override { heard.push_back("check"); }
  void DataSetChanged() override { heard.push_back("changed"); }
  void DataSetScrolled(int distance) override {
    heard.push_back("scrolled " + std::to_string(distance));
  }
  void EditingChanged() override { heard.push_back(Editing() ? "editing" : "browsing"); }
  void RecordChanged(TField* field) override {
    heard.push_back("record " + (field != nullptr ? field->FieldName() : std::string("-")));
  }
  void UpdateData() override { heard.push_back("update"); }
};

TEST(DataSetEventsTest, DataLinkHearsEventsExceptWhileControlsAreDisabled) {
  auto dataset = MakeDataSet(4);
  TDataSource source(nullptr);
  source.SetDataSet(dataset.get());
  RecordingLink link;
  link.SetDataSource(&source);
  const struct {
    const char* name;
    std::function<void()> action;
    Log expected;
  } cases[] = {
      {"open", [&] { dataset->Open(); }, {"active"}},
      {"next", [&] { dataset->Next(); }, {"check", "scrolled -1"}},
      {"edit", [&] { dataset->Edit(); }, {"check", "editing", "record -"}},
      {"set a value", [&] { dataset->FieldByName("Value")->SetAsInteger(3); }, {"record Value"}},
      {"post", [&] { dataset->Post(); }, {"update", "check", "browsing", "changed"}},
      {"disabled moves and edits",
       [&] {
         dataset->DisableControls();
         dataset->Next();
         dataset->Prior();
         dataset->Edit();
         dataset->FieldByName("Value")->SetAsInteger(4);
         dataset->Post();
       },
       {}},
      {"enabled again", [&] { dataset->EnableControls(); }, {"changed"}},
      {"state changed while disabled",
       [&] {
         dataset->DisableControls();
         dataset->Edit();
         dataset->EnableControls();
       },
       {"editing", "changed"}},
      {"disabled source",
       [&] {
         source.SetEnabled(false);
         dataset->Cancel();
       },
       {"inactive", "browsing"}},
      {"enabled source", [&] { source.SetEnabled(true); }, {"active"}},
      {"close", [&] { dataset->Close(); }, {"inactive"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    link.heard.clear();
    c.action();
    EXPECT_EQ(link.heard, c.expected);
  }
}

// A detail dataset: its master source is the one whose dataset it follows.
class TDetailDataSet : public TArrayDataSet {
 public:
  TDetailDataSet() : TArrayDataSet(nullptr, {{"Value", ftInteger}}) {}
  TDataSource* master = nullptr;
  TDataSource* GetDataSource() const override { return master; }
};

TEST(DataSetEventsTest, LinkedToFollowsMasterSourcesUpward) {
  TDetailDataSet top, middle, bottom;
  TDataSource top_source(nullptr), middle_source(nullptr), bottom_source(nullptr);
  top_source.SetDataSet(&top);
  middle_source.SetDataSet(&middle);
  bottom_source.SetDataSet(&bottom);
  middle.master = &top_source;
  bottom.master = &middle_source;
  // Making top follow bottom's source would close a loop; the reverse not.
  EXPECT_TRUE(top.IsLinkedTo(&bottom_source));
  EXPECT_TRUE(bottom.IsLinkedTo(&bottom_source));
  EXPECT_FALSE(bottom.IsLinkedTo(&top_source));
  // A loop elsewhere ends the walk.
  top.master = &middle_source;
  TDetailDataSet outsider;
  EXPECT_FALSE(outsider.IsLinkedTo(&bottom_source));
}

}  // namespace
}  // namespace jw
