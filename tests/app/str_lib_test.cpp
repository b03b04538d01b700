#include "app/str_lib.h"

#include <gtest/gtest.h>

#include "platform/gui/dialogs_scripted.h"
#include "platform/os/shell.h"

namespace jw {
namespace {

// Restores the unit-wide delimiters, which other tests (DescToFont) change.
class TokenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = TokenDelimiters();
    SetTokenDelimiters(" ");
  }
  void TearDown() override { SetTokenDelimiters(saved_); }

 private:
  std::string saved_;
};

TEST(TrimBlanksTest, RemovesOnlyTheBlankCharacter) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

TEST(StrToIntOrZeroTest, ReadsTrimmedWholeNumbersAndZeroOtherwise) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"12", 12},
      {"  12  ", 12},
      {"-45", -45},
      {"+7", 7},
      {"60", 60},
      {"12abc", 0},
      {"12.5", 0},
      {"", 0},
      {"   ", 0},
      {"abc", 0},
      {"2147483647", 2147483647},
      {"2147483648", 0},
      {"-2147483648", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToIntOrZero(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(TokenTest, NextTokenSkipsLeadingDelimitersAndEatsOneAfter) {
  std::string text = "  one two  three";
  EXPECT_EQ(NextToken(text), "one");
  EXPECT_EQ(text, "two  three");
  EXPECT_EQ(NextToken(text), "two");
  EXPECT_EQ(text, " three");
  EXPECT_EQ(NextToken(text), "three");
  EXPECT_EQ(text, "");
  EXPECT_EQ(NextToken(text), "");
}

TEST_F(TokenTest, NthTokenCountsFromOneAndStopsAtAnEmptyToken) {
  EXPECT_EQ(NthToken("a b c", 1), "a");
  EXPECT_EQ(NthToken("a b c", 3), "c");
  EXPECT_EQ(NthToken("a b c", 4), "");
  EXPECT_EQ(NthToken("a b c", 0), "");
  EXPECT_EQ(NthToken("a b c", -1), "");
  SetTokenDelimiters(",");
  EXPECT_EQ(NthToken(",,Arial,,,12,255", 2), "12");
  EXPECT_EQ(NthToken("Arial 12,255", 1), "Arial 12");
}

TEST(ReplaceFirstTest, ReplacesOnlyTheFirstOccurrence) {
  std::string line = "Ann|ann@x.org|spare";
  ReplaceFirst(line, "|", "    (");
  EXPECT_EQ(line, "Ann    (ann@x.org|spare");
  std::string none = "no bar";
  ReplaceFirst(none, "|", "X");
  EXPECT_EQ(none, "no bar");
}

class RecordingOpener : public ShellOpener {
 public:
  explicit RecordingOpener(bool succeed, std::vector<std::string>& opened)
      : succeed_(succeed), opened_(opened) {}
  bool Open(const std::string& path) override {
    opened_.push_back(path);
    return succeed_;
  }

 private:
  bool succeed_;
  std::vector<std::string>& opened_;
};

// Puts scripted dialogs and a recording opener in place for one test.
class ShellAndQuestionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
  }
  void TearDown() override {
    SetDialogService(nullptr);
    SetShellOpener(nullptr);
  }
  void UseOpener(bool succeed) {
    SetShellOpener(std::make_unique<RecordingOpener>(succeed, opened_));
  }

  ScriptedDialogs* dialogs_ = nullptr;
  std::vector<std::string> opened_;
};

TEST_F(ShellAndQuestionTest, OpenWithShellSaysNothingWhenTheFileOpens) {
  UseOpener(true);
  OpenWithShell("/opt/jw/jotterwick.HLP");
  EXPECT_EQ(opened_, std::vector<std::string>{"/opt/jw/jotterwick.HLP"});
  EXPECT_TRUE(dialogs_->Calls().empty());
}

TEST_F(ShellAndQuestionTest, OpenWithShellReportsAFileItCannotOpen) {
  UseOpener(false);
  OpenWithShell("/opt/jw/jotterwick.HLP");
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].text, "Problem opening file /opt/jw/jotterwick.HLP");
}

TEST_F(ShellAndQuestionTest, ConfirmYesNoIsTrueOnlyForYes) {
  dialogs_->AnswerMessage(mrYes);
  dialogs_->AnswerMessage(mrNo);
  dialogs_->AnswerMessage(mrCancel);
  EXPECT_TRUE(ConfirmYesNo("Are you sure you want to delete this message?"));
  EXPECT_FALSE(ConfirmYesNo("Again?"));
  EXPECT_FALSE(ConfirmYesNo("Closed?"));
  ASSERT_EQ(dialogs_->Calls().size(), 3u);
  const DialogCall& call = dialogs_->Calls()[0];
  EXPECT_EQ(call.text, "Are you sure you want to delete this message?");
  EXPECT_EQ(call.type, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(call.buttons, mbYes | mbNo);
}

}  // namespace
}  // namespace jw
