#include "app/scrap_form.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include <gtest/gtest.h>
#include <QtCore/Qt>

#include "app/folders.h"
#include "app/settings.h"
#include "app/utf8_text.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

// Test papers live in the paper folder beside the test executable, under
// names no shipped paper has.
const char kRectPaper[] = "test-rect-200x300.bmp";
const char kSmallPaper[] = "test-small-100x80.bmp";
const char kWidePaper[] = "test-wide-5000x4.bmp";
const char kTinyPaper[] = "test-tiny-2x2.bmp";

// A white paper of the given size with a pure red border `border` wide.
void WritePaper(const std::string& name, int width, int height, int border) {
  TBitmap bitmap;
  bitmap.SetSize(width, height);
  bitmap.Canvas().Brush().SetColor(clRed);
  bitmap.Canvas().FillRect(Rect(0, 0, width, height));
  bitmap.Canvas().Brush().SetColor(clWhite);
  bitmap.Canvas().FillRect(Rect(border, border, width - border, height - border));
  bitmap.SaveToFile(PaperFolder() + name);
}

class ScrapFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(PaperFolder());
    WritePaper(kRectPaper, 200, 300, 4);
    WritePaper(kSmallPaper, 100, 80, 5);
    WritePaper(kWidePaper, 5000, 4, 0);
    WritePaper(kTinyPaper, 2, 2, 0);
  }
  static void TearDownTestSuite() {
    for (const char* name : {kRectPaper, kSmallPaper, kWidePaper, kTinyPaper})
      std::filesystem::remove(PaperFolder() + name);
  }

  void SetUp() override {
    ScrapSettings = TScrapSettings();
    ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
    form_.reset(MakeForm<TScrapForm>(nullptr));
  }
  void TearDown() override {
    form_.reset();
    SetDialogService(nullptr);
    ScrapSettings = TScrapSettings();
  }

  void UsePaper(const std::string& name) {
    form_->PaperFile = name;
    form_->ImageScale = 1.0;
    form_->RebuildShape();
  }
  std::vector<std::string> LineTexts() {
    std::vector<std::string> texts;
    for (const auto& line : form_->MessageLines()) texts.push_back(line.Text);
    return texts;
  }

  ScriptedDialogs* dialogs_ = nullptr;
  std::unique_ptr<TScrapForm> form_;
};

TEST_F(ScrapFormTest, ANewNoteStartsWithTheDefaults) {
  EXPECT_EQ(form_->Caption(), "Scrap");
  EXPECT_EQ(form_->BorderStyle(), TFormBorderStyle::bsNone);
  EXPECT_EQ(form_->ClientWidth(), 237);
  EXPECT_EQ(form_->ClientHeight(), 249);
  EXPECT_EQ(form_->Message, "");
  EXPECT_EQ(form_->ImageScale, 1.0);
  EXPECT_EQ(form_->FontDesc, "DejaVu Sans,12,0");
  EXPECT_EQ(form_->Canvas().Font().Name(), "DejaVu Sans");
  EXPECT_EQ(form_->sfImageForm1->Options(), ifUseWindowsDrag);
  EXPECT_EQ(form_->sfImageForm1->TransparentColor(), clRed);
  EXPECT_EQ(form_->sfImageForm1->PopupMenu(), form_->PopupMenu1);
}

TEST_F(ScrapFormTest, TheMenuListsEveryNoteCommandInOrder) {
  std::vector<std::string> captions;
  TMenuItem& items = form_->PopupMenu1->Items();
  for (int i = 0; i < items.Count(); ++i) captions.push_back(items.Items(i)->Caption());
  EXPECT_EQ(captions, (std::vector<std::string>{
                          "Font...", "Font Angle...", "-", "Change Paper...", "Enlarge", "Shrink",
                          "Stay On Top", "Set margins...", "-", "Text editor...", "Clear text",
                          "Delete scrap...", "-", "Set Alarm...", "-", "Email scrap..."}));
  EXPECT_EQ(form_->Font1->ShortCut(), 16454);
  EXPECT_EQ(form_->Clear1->ShortCut(), 16451);
}

TEST_F(ScrapFormTest, DragFrameOnlyTurnsWholeWindowDragOff) {
  ScrapSettings.DragFrameOnly = true;
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  EXPECT_EQ(form->sfImageForm1->Options(), 0);
}

TEST_F(ScrapFormTest, ClientSizeIsTheOutlinesBoxPlusTen) {
  UsePaper(kSmallPaper);
  ASSERT_TRUE(form_->ShapeRegion);
  EXPECT_EQ(form_->ShapeRegion->BoundingBox(), Rect(5, 5, 95, 75));
  EXPECT_EQ(form_->ClientWidth(), 100);
  EXPECT_EQ(form_->ClientHeight(), 80);
  ASSERT_TRUE(form_->WindowRegion());
  EXPECT_EQ(*form_->WindowRegion(), *form_->ShapeRegion);
}

TEST_F(ScrapFormTest, NotesOnOnePaperShareItsPixelsUntilTheFileChanges) {
  UsePaper(kSmallPaper);
  auto pixels = [](TScrapForm& form) {
    return form.sfImageForm1->Picture().Bitmap().Image().constBits();
  };
  std::unique_ptr<TScrapForm> same(MakeForm<TScrapForm>(nullptr));
  same->PaperFile = kSmallPaper;
  same->RebuildShape();
  EXPECT_EQ(pixels(*same), pixels(*form_));
  WritePaper(kSmallPaper, 100, 80, 9);
  std::unique_ptr<TScrapForm> changed(MakeForm<TScrapForm>(nullptr));
  changed->PaperFile = kSmallPaper;
  changed->RebuildShape();
  WritePaper(kSmallPaper, 100, 80, 5);
  EXPECT_NE(pixels(*changed), pixels(*form_));
  EXPECT_EQ(changed->ShapeRegion->BoundingBox(), Rect(9, 9, 91, 71));
}

TEST_F(ScrapFormTest, APaperNameInAnotherCaseIsFound) {
  UsePaper("TEST-SMALL-100X80.BMP");
  EXPECT_EQ(form_->ClientWidth(), 100);
}

TEST_F(ScrapFormTest, AMissingPaperRaisesAndChangesNothing) {
  UsePaper(kSmallPaper);
  form_->PaperFile = "no-such-paper.bmp";
  EXPECT_THROW(form_->RebuildShape(), Exception);
  EXPECT_EQ(form_->ClientWidth(), 100);
}

TEST_F(ScrapFormTest, ALongWordBreaksAtTheLastCharacterThatFits) {
  UsePaper(kRectPaper);
  form_->Message = std::string(60, 'W');
  const auto lines = form_->MessageLines();
  ASSERT_GE(lines.size(), 2u);
  // The outline's right edge is at 196; a line's end is tested where the
  // line is written plus its width.
  const TRect box = form_->ShapeRegion->BoundingBox();
  const std::string& first = lines[0].Text;
  ASSERT_FALSE(first.empty());
  EXPECT_LT(lines[0].X + form_->Canvas().TextWidth(first), box.Right);
  EXPECT_GE(lines[0].X + form_->Canvas().TextWidth(first + "W"), box.Right);
  std::string joined;
  for (const auto& line : lines) joined += line.Text;
  EXPECT_EQ(joined, form_->Message);
}

TEST_F(ScrapFormTest, WordsWrapAfterTheLastBlankAndNothingIsLost) {
  UsePaper(kRectPaper);
  form_->Message =
      "the quick brown fox jumps over the lazy dog, and then the quick brown fox "
      "jumps again over the lazy dog";
  const std::vector<std::string> lines = LineTexts();
  ASSERT_GE(lines.size(), 3u);
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 < lines.size()) {
      EXPECT_TRUE(lines[i].back() == ' ' || lines[i].back() == ',') << lines[i];
    }
    joined += lines[i];
  }
  EXPECT_EQ(joined, form_->Message);
}

TEST_F(ScrapFormTest, CarriageReturnsBreakLines) {
  UsePaper(kRectPaper);
  const struct {
    const char* message;
    std::vector<std::string> lines;
  } cases[] = {
      {"ab\rcd", {"ab", "cd"}},
      {"ab\r\rcd", {"ab", "", "cd"}},
      {"ab\r", {"ab"}},
      {"ab\rcd\r", {"ab", "cd"}},
      {"\r", {""}},
      {"", {}},
  };
  for (const auto& c : cases) {
    form_->Message = c.message;
    EXPECT_EQ(LineTexts(), c.lines) << c.message;
  }
}

TEST_F(ScrapFormTest, TheLineStepGrowsWithTheAngle) {
  UsePaper(kRectPaper);
  form_->Message = "a\rb";
  const int height = form_->Canvas().TextHeight("Mg");
  auto lines = form_->MessageLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].Y - lines[0].Y, height);
  form_->FontAngle = 45;
  lines = form_->MessageLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].Y - lines[0].Y, int(std::trunc(height / std::cos(std::numbers::pi / 4))));
}

TEST_F(ScrapFormTest, WrappingNeverSplitsACharacter) {
  UsePaper(kRectPaper);
  std::string message;
  for (int i = 0; i < 80; ++i) message += "\xC3\xA9";  // é
  form_->Message = message;
  const std::vector<std::string> lines = LineTexts();
  ASSERT_GE(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.size() % 2, 0u);
    EXPECT_EQ(CodePointEnds(line).size() * 2, line.size());
  }
}

TEST_F(ScrapFormTest, TheWalkStopsBelowTheNote) {
  UsePaper(kSmallPaper);
  form_->Message = std::string(500, '\r') + "x";
  const auto lines = form_->MessageLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_LE(lines.back().Y, form_->ClientHeight());
  EXPECT_LT(lines.size(), 20u);
}

TEST_F(ScrapFormTest, AngleEntriesAreWholeNumbersWithinFortyFive) {
  const struct {
    const char* entry;
    double angle;
  } cases[] = {{"60", 45}, {"-90", -45}, {"12.5", 0}, {" 30 ", 30}, {"abc", 0}};
  for (const auto& c : cases) {
    form_->FontAngle = 7;
    dialogs_->AnswerInput(std::string(c.entry));
    form_->FontAngle1Click(nullptr);
    EXPECT_EQ(form_->FontAngle, c.angle) << c.entry;
    EXPECT_EQ(form_->Canvas().Font().Orientation(), int(c.angle * 10)) << c.entry;
  }
  const DialogCall& call = dialogs_->Calls().back();
  EXPECT_EQ(call.caption, "Font Angle Dialog");
  EXPECT_EQ(call.text, "Enter the text angle in degrees (-45 to 45)");
  EXPECT_EQ(call.value, "7");
  form_->FontAngle = 12;
  dialogs_->AnswerInput(std::nullopt);
  form_->FontAngle1Click(nullptr);
  EXPECT_EQ(form_->FontAngle, 12);
}

TEST_F(ScrapFormTest, EnlargeThenShrinkReturnsToTheScale) {
  UsePaper(kSmallPaper);
  form_->Enlarge->Click();
  EXPECT_EQ(form_->ImageScale, 1.25);
  EXPECT_EQ(form_->sfImageForm1->Picture().Width(), 125);
  form_->Shrink1->Click();
  EXPECT_EQ(form_->ImageScale, 1.0);
  EXPECT_EQ(form_->sfImageForm1->Picture().Width(), 100);
  EXPECT_TRUE(form_->Visible());
}

TEST_F(ScrapFormTest, EnlargeAndShrinkStopAtTheSizeLimits) {
  UsePaper(kWidePaper);
  form_->Enlarge->Click();  // 6250
  form_->Enlarge->Click();  // 7812
  EXPECT_EQ(form_->ImageScale, 1.5625);
  form_->Enlarge->Click();  // 9765 would pass 8192
  EXPECT_EQ(form_->ImageScale, 1.5625);
  EXPECT_EQ(form_->sfImageForm1->Picture().Width(), 7812);
  UsePaper(kTinyPaper);
  for (int i = 0; i < 3; ++i) form_->Shrink1->Click();  // 1.6, 1.28, 1.02 pixels
  EXPECT_DOUBLE_EQ(form_->ImageScale, 0.512);
  form_->Shrink1->Click();  // 0.8 pixels would leave nothing
  EXPECT_DOUBLE_EQ(form_->ImageScale, 0.512);
  EXPECT_EQ(form_->sfImageForm1->Picture().Width(), 1);
}

TEST_F(ScrapFormTest, AStoredScaleBeyondTheLimitsIsBroughtBack) {
  form_->PaperFile = kWidePaper;
  form_->ImageScale = 100;
  form_->RebuildShape();
  EXPECT_LE(form_->sfImageForm1->Picture().Width(), kMaxScaledPaperSide);
  EXPECT_GE(form_->sfImageForm1->Picture().Height(), 1);
  form_->PaperFile = kTinyPaper;
  form_->ImageScale = 0.001;
  form_->RebuildShape();
  EXPECT_EQ(form_->sfImageForm1->Picture().Width(), 1);
}

TEST_F(ScrapFormTest, ChangePaperLooksInThePaperFolderByBareName) {
  UsePaper(kSmallPaper);
  form_->ImageScale = 1.25;
  dialogs_->AnswerOpenFile("/somewhere/else/" + std::string(kRectPaper));
  form_->SelectPaper1->Click();
  EXPECT_EQ(form_->PaperFile, kRectPaper);
  EXPECT_EQ(form_->ImageScale, 1.0);
  EXPECT_EQ(form_->ClientWidth(), 202);
  EXPECT_EQ(dialogs_->Calls().back().text, PaperFolder());
}

TEST_F(ScrapFormTest, APaperThatFailsToLoadKeepsTheOldOne) {
  UsePaper(kSmallPaper);
  form_->Enlarge->Click();
  const int width = form_->ClientWidth();
  const TRegion shape = *form_->ShapeRegion;
  dialogs_->AnswerOpenFile("/somewhere/else/missing.bmp");
  EXPECT_THROW(form_->SelectPaper1->Click(), Exception);
  EXPECT_EQ(form_->PaperFile, kSmallPaper);
  EXPECT_EQ(form_->ImageScale, 1.25);
  EXPECT_EQ(form_->ClientWidth(), width);
  EXPECT_EQ(*form_->ShapeRegion, shape);
}

TEST_F(ScrapFormTest, TypingAppendsAndBackspaceRemovesOneCharacter) {
  for (char32_t key : {U'h', U'\u00E9', U'l', U'l', U'o'}) form_->FormKeyPress(nullptr, key);
  EXPECT_EQ(form_->Message, "h\xC3\xA9llo");
  char32_t backspace = 8;
  form_->FormKeyPress(nullptr, backspace);
  EXPECT_EQ(form_->Message, "h\xC3\xA9ll");
  for (int i = 0; i < 2; ++i) form_->FormKeyPress(nullptr, backspace);
  EXPECT_EQ(form_->Message, "h\xC3\xA9");
  form_->FormKeyPress(nullptr, backspace);
  EXPECT_EQ(form_->Message, "h");
  for (int i = 0; i < 2; ++i) form_->FormKeyPress(nullptr, backspace);
  EXPECT_EQ(form_->Message, "");
  char32_t enter = 13;
  form_->FormKeyPress(nullptr, enter);
  EXPECT_EQ(form_->Message, "\r");
}

TEST_F(ScrapFormTest, MenuShortCutsRunOnceAndDoNotType) {
  form_->Message = "abc";
  EXPECT_TRUE(form_->HandleKey(Qt::Key_C, Qt::ControlModifier, "\x03"));
  EXPECT_EQ(form_->Message, "");
  dialogs_->AnswerFont(false);
  EXPECT_TRUE(form_->HandleKey(Qt::Key_F, Qt::ControlModifier, "\x06"));
  EXPECT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(form_->Message, "");
}

TEST_F(ScrapFormTest, AnAcceptedFontBecomesTheDescriptionAndKeepsTheAngle) {
  form_->FontAngle = 30;
  dialogs_->AnswerFont(true, [](TFont& font) {
    font.SetName("DejaVu Serif");
    font.SetSize(20);
    font.SetColor(clBlue);
    font.SetStyle(fsItalic);
  });
  form_->Font1Click(nullptr);
  EXPECT_EQ(dialogs_->Calls().back().value, "DejaVu Sans,12,0");
  EXPECT_EQ(form_->FontDesc, "DejaVu Serif,20,16711680,fsItalic");
  EXPECT_EQ(form_->Canvas().Font().Name(), "DejaVu Serif");
  EXPECT_EQ(form_->Canvas().Font().Orientation(), 300);
  dialogs_->AnswerFont(false);
  form_->Font1Click(nullptr);
  EXPECT_EQ(form_->FontDesc, "DejaVu Serif,20,16711680,fsItalic");
}

// Exposes the window parameters the note asks for.
class ParamsScrapForm : public TScrapForm {
 public:
  using TScrapForm::TScrapForm;
  TCreateParams Params() {
    TCreateParams params;
    CreateParams(params);
    return params;
  }
};

TEST_F(ScrapFormTest, CreateOnTopIsChosenWhenTheWindowIsCreated) {
  CreateOnTop = true;
  std::unique_ptr<ParamsScrapForm> on_top(MakeForm<ParamsScrapForm>(nullptr));
  CreateOnTop = false;
  std::unique_ptr<ParamsScrapForm> normal(MakeForm<ParamsScrapForm>(nullptr));
  EXPECT_NE(on_top->Params().ExStyle & WS_EX_TOPMOST, 0u);
  EXPECT_EQ(normal->Params().ExStyle & WS_EX_TOPMOST, 0u);
}

}  // namespace
}  // namespace jw
