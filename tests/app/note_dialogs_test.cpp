// The note window's text editor and margins commands, through the scripted
// dialog service.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/editor_form.h"
#include "app/margins_form.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/dialogs_scripted.h"
#include "tests/app/scripted_dialogs_test.h"

namespace jw {
namespace {

class NoteDialogsTest : public ScriptedDialogsTest {
 protected:
  void SetUp() override {
    ScriptedDialogsTest::SetUp();
    had_ini_ = std::filesystem::exists(IniFileName());
    note_.reset(MakeForm<TScrapForm>(nullptr));
  }
  void TearDown() override {
    note_.reset();
    ScriptedDialogsTest::TearDown();
    if (!had_ini_) std::filesystem::remove(IniFileName());
  }

  // Runs the editor on text, lets edit change the memo, and answers result.
  std::string EditedText(std::string text, TModalResult result,
                         const std::string* typed = nullptr) {
    std::string shown;
    dialogs_->AnswerForm<TEditorForm>([&](TEditorForm& form) {
      shown = form.Memo1->Text();
      if (typed != nullptr) form.Memo1->SetText(*typed);
      return result;
    });
    EditText(text);
    shown_ = shown;
    return text;
  }

  std::unique_ptr<TScrapForm> note_;
  std::string shown_;
  bool had_ini_ = false;
};

TEST_F(NoteDialogsTest, EditorEndsEveryLineWithCrAndCancelKeepsTheText) {
  struct Case {
    std::string text;
    std::string shown;
    std::string result;
  };
  const Case cases[] = {
      {"one", "one", "one\r"},
      {"", "", ""},
      {"a\rb\nc\r\nd", "a\nb\nc\nd", "a\rb\rc\rd\r"},
      {"end\r", "end\n", "end\r"},
      {"two\r\rgap", "two\n\ngap", "two\r\rgap\r"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EditedText(c.text, mrOk), c.result) << c.text;
    EXPECT_EQ(shown_, c.shown) << c.text;
  }
  const std::string typed = "new\nlines";
  EXPECT_EQ(EditedText("old", mrOk, &typed), "new\rlines\r");
  EXPECT_EQ(EditedText("old\nkept", mrCancel, &typed), "old\nkept");

  // The note's "Text editor..." command edits the note's own text.
  note_->Message = "note";
  dialogs_->AnswerForm<TEditorForm>([&](TEditorForm& form) {
    form.Memo1->SetText("changed");
    return mrOk;
  });
  note_->Editor1->Click();
  EXPECT_EQ(note_->Message, "changed\r");
}

TEST_F(NoteDialogsTest, MarginEntriesAreWholeNumbersOrZeroAndCancelChangesNothing) {
  note_->PaperFile = "note-dialogs-test.bmp";
  note_->TopMargin = 1;
  note_->LeftMargin = 2;
  note_->RightMargin = 3;
  dialogs_->AnswerForm<TMarginForm>([](TMarginForm& form) {
    EXPECT_EQ(form.Caption(), "Margin Settings");
    EXPECT_EQ(form.TopEdit->Text(), "1");
    EXPECT_EQ(form.LeftEdit->Text(), "2");
    EXPECT_EQ(form.RightEdit->Text(), "3");
    form.TopEdit->SetText(" 12 ");
    form.LeftEdit->SetText("12ab");
    form.RightEdit->SetText("-7");
    return mrOk;
  });
  note_->Setmargins1->Click();
  EXPECT_EQ(note_->TopMargin, 12);
  EXPECT_EQ(note_->LeftMargin, 0);
  EXPECT_EQ(note_->RightMargin, -7);
  EXPECT_EQ(ReadPaperMargins("note-dialogs-test.bmp"), (TPaperMargins{12, 0, -7}));

  dialogs_->AnswerForm<TMarginForm>([](TMarginForm& form) {
    form.TopEdit->SetText("40");
    return mrCancel;
  });
  TPaperMargins margins{5, 6, 7};
  EXPECT_FALSE(EditMargins(margins));
  EXPECT_EQ(margins, (TPaperMargins{5, 6, 7}));
  dialogs_->AnswerForm<TMarginForm>([](TMarginForm& form) {
    form.TopEdit->SetText("40");
    return mrCancel;
  });
  note_->Setmargins1->Click();
  EXPECT_EQ(note_->TopMargin, 12);
  EXPECT_EQ(ReadPaperMargins("note-dialogs-test.bmp"), (TPaperMargins{12, 0, -7}));

  // Entries beyond the bound are kept to it, in the note and in the file.
  dialogs_->AnswerForm<TMarginForm>([](TMarginForm& form) {
    form.TopEdit->SetText("2147483647");
    form.LeftEdit->SetText("-100000000");
    form.RightEdit->SetText("32768");
    return mrOk;
  });
  note_->Setmargins1->Click();
  const TPaperMargins bounded{kMaxPaperMargin, -kMaxPaperMargin, kMaxPaperMargin};
  EXPECT_EQ((TPaperMargins{note_->TopMargin, note_->LeftMargin, note_->RightMargin}), bounded);
  EXPECT_EQ(ReadPaperMargins("note-dialogs-test.bmp"), bounded);
  EXPECT_EQ(dialogs_->PendingAnswers(), 0);
}

}  // namespace
}  // namespace jw
