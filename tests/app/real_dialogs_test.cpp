// The dialogs for real, offscreen, through the Qt dialog service: every
// control is there, visible and sized, the user's entries in the Qt widgets
// reach what the dialog stores, and OK and Cancel end the dialog as they
// should.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

#include "app/about_box.h"
#include "app/editor_form.h"
#include "app/margins_form.h"
#include "app/preferences_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {
namespace {

std::string Describe(TControl& control) {
  return std::string(typeid(control).name()) + " \"" + control.Caption() + "\"";
}

// Every control under root is visible and has a size; windowed ones have
// their shown widget at the control's size. Pages other than the active one
// are hidden with what they hold.
void ExpectAllShown(TWinControl& root) {
  for (int i = 0; i < root.ControlCount(); ++i) {
    TControl& control = *root.Controls(i);
    if (auto* sheet = dynamic_cast<TTabSheet*>(&control);
        sheet != nullptr && sheet->PageControl()->ActivePage() != sheet) {
      EXPECT_FALSE(sheet->Handle()->isVisible()) << Describe(control);
      continue;
    }
    EXPECT_TRUE(control.Visible()) << Describe(control);
    EXPECT_GT(control.Width(), 0) << Describe(control);
    EXPECT_GT(control.Height(), 0) << Describe(control);
    auto* windowed = dynamic_cast<TWinControl*>(&control);
    if (windowed == nullptr) continue;
    ASSERT_TRUE(windowed->HandleAllocated()) << Describe(control);
    EXPECT_TRUE(windowed->Handle()->isVisible()) << Describe(control);
    EXPECT_EQ(windowed->Handle()->size(), QSize(control.Width(), control.Height()))
        << Describe(control);
    ExpectAllShown(*windowed);
  }
}

void Press(TButton& button) {
  static_cast<QPushButton*>(button.Handle())->click();
}

// Runs act on the T shown next, once the event loop runs; a failed check
// still ends the dialog, with Cancel.
template <class T>
void WhenShown(std::function<void(T&)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    T* form = nullptr;
    for (int i = 0; i < Screen->FormCount() && form == nullptr; ++i)
      form = dynamic_cast<T*>(Screen->Forms(i));
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(form->Visible());
    act(*form);
    if (form->Modal() && form->ModalResult() == mrNone) form->SetModalResult(mrCancel);
  });
}

class RealDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDialogService(nullptr);
    ScrapSettings = TScrapSettings();
  }
  void TearDown() override { ScrapSettings = TScrapSettings(); }
};

TEST_F(RealDialogsTest, PreferencesShowEveryPageAndStoreTheWidgetsEntriesOnlyOnOk) {
  ScrapSettings.EmailLines[49] = "Zed|zed@example.org";
  WhenShown<TPrefForm>([](TPrefForm& form) {
    auto* tabs = form.PageControl1->Handle()->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Appearance");
    EXPECT_EQ(tabs->tabText(1), "Alarms");
    EXPECT_EQ(tabs->tabText(2), "Email");
    for (int page = 2; page >= 0; --page) {
      tabs->setCurrentIndex(page);
      ASSERT_EQ(form.PageControl1->ActivePageIndex(), page);
      ExpectAllShown(form);
    }

    EXPECT_EQ(form.AlarmBrowseBtn->Handle()->toolTip(), "Browse for sound file");
    EXPECT_EQ(form.SoundPlayBtn->Handle()->toolTip(), "Play sound");
    auto* grid = static_cast<QTableWidget*>(form.EmailGrid->Handle());
    EXPECT_EQ(grid->rowCount(), 50);
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Nickname");
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Email Address");
    EXPECT_EQ(grid->item(49, 0)->text(), "Zed");
    EXPECT_TRUE(grid->item(49, 1)->flags() & Qt::ItemIsEditable);
    grid->item(0, 0)->setText("Amy");
    grid->item(49, 1)->setText("zed@example.net");
    static_cast<QLineEdit*>(form.HostNameEdit->Handle())->setText("smtp.example.org");
    Press(*form.OKBtn);
  });
  EditPreferences();
  EXPECT_EQ(ScrapSettings.SMTPHostName, "smtp.example.org");
  EXPECT_EQ(ScrapSettings.EmailLines[0], "Amy|");
  EXPECT_EQ(ScrapSettings.EmailLines[49], "Zed|zed@example.net");

  const TScrapSettings before = ScrapSettings;
  WhenShown<TPrefForm>([](TPrefForm& form) {
    static_cast<QLineEdit*>(form.HostNameEdit->Handle())->setText("other.example.org");
    static_cast<QTableWidget*>(form.EmailGrid->Handle())->item(3, 0)->setText("Eve");
    Press(*form.CancelBtn);
  });
  EditPreferences();
  EXPECT_EQ(ScrapSettings, before);
}

TEST_F(RealDialogsTest, EditorMemoFillsTheFormAboveItsButtons) {
  std::string text = "first\rsecond";
  WhenShown<TEditorForm>([](TEditorForm& form) {
    ExpectAllShown(form);
    EXPECT_EQ(form.Caption(), "Jotterwick Editor");
    EXPECT_EQ(form.Memo1->Width(), form.ClientWidth());
    EXPECT_EQ(form.Memo1->Height(), form.ClientHeight() - form.Panel1->Height());
    auto* memo = static_cast<QPlainTextEdit*>(form.Memo1->Handle());
    EXPECT_EQ(memo->toPlainText(), "first\nsecond");
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    memo->setPlainText("typed\nby hand");
    Press(*form.OKBtn);
  });
  EditText(text);
  EXPECT_EQ(text, "typed\rby hand\r");

  WhenShown<TEditorForm>([](TEditorForm& form) {
    static_cast<QPlainTextEdit*>(form.Memo1->Handle())->setPlainText("lost");
    Press(*form.CancelBtn);
  });
  EditText(text);
  EXPECT_EQ(text, "typed\rby hand\r");
}

TEST_F(RealDialogsTest, MarginsOkReadsTheEditsAndCancelReturnsFalse) {
  TPaperMargins margins{1, 2, 3};
  WhenShown<TMarginForm>([](TMarginForm& form) {
    ExpectAllShown(form);
    EXPECT_EQ(form.BorderStyle(), TFormBorderStyle::bsDialog);
    static_cast<QLineEdit*>(form.TopEdit->Handle())->setText("30");
    Press(*form.OKBtn);
  });
  EXPECT_TRUE(EditMargins(margins));
  EXPECT_EQ(margins, (TPaperMargins{30, 2, 3}));

  WhenShown<TMarginForm>([](TMarginForm& form) {
    static_cast<QLineEdit*>(form.TopEdit->Handle())->setText("99");
    Press(*form.CancelBtn);
  });
  EXPECT_FALSE(EditMargins(margins));
  EXPECT_EQ(margins, (TPaperMargins{30, 2, 3}));
}

TEST_F(RealDialogsTest, AboutBoxShowsWithoutBlockingAndOkHidesIt) {
  std::unique_ptr<TAboutBox> about(MakeForm<TAboutBox>(nullptr));
  EXPECT_FALSE(about->Visible());
  about->Show();
  ExpectAllShown(*about);
  EXPECT_EQ(about->ProductName->Caption(), "Jotterwick");
  Press(*about->OKButton);
  EXPECT_FALSE(about->Visible());
  about->Show();
  EXPECT_TRUE(about->Visible());
}

}  // namespace
}  // namespace jw
