#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include "platform/gui/application.h"
#include "platform/gui/buttons.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/gui/keys.h"
#include "platform/gui/menus.h"
#include "platform/gui/radio_group.h"
#include "platform/gui/std_controls.h"

namespace jw {
namespace {

class Forms : public ::testing::Test {
 protected:
  void SetUp() override {
    auto scripted = std::make_unique<ScriptedDialogs>();
    dialogs_ = scripted.get();
    SetDialogService(std::move(scripted));
  }
  void TearDown() override { SetDialogService(nullptr); }

  ScriptedDialogs* dialogs_ = nullptr;
};

TEST_F(Forms, ScreenListsFormsFrontFirst) {
  auto* a = MakeForm<TForm>(Application);
  auto* b = MakeForm<TForm>(Application);
  auto* c = MakeForm<TForm>(Application);
  auto order = [] {
    std::vector<TCustomForm*> forms;
    for (int i = 0; i < Screen->FormCount(); ++i) forms.push_back(Screen->Forms(i));
    return forms;
  };
  a->Show();
  b->Show();
  c->Show();
  EXPECT_EQ(order(), (std::vector<TCustomForm*>{c, b, a}));
  a->BringToFront();
  EXPECT_EQ(order(), (std::vector<TCustomForm*>{a, c, b}));
  c->Hide();
  EXPECT_EQ(order(), (std::vector<TCustomForm*>{a, c, b}));
  b->Hide();
  b->Show();
  EXPECT_EQ(order(), (std::vector<TCustomForm*>{b, a, c}));
  delete a;
  EXPECT_EQ(order(), (std::vector<TCustomForm*>{b, c}));
  delete b;
  delete c;
  EXPECT_EQ(Screen->FormCount(), 0);
}

// A form shown already takes its place in the stack too.
TEST_F(Forms, ShowStackedPutsTheFirstAtTheBottomAndTheLastOnTop) {
  std::vector<std::unique_ptr<TForm>> forms;
  for (int i = 0; i < 3; ++i) forms.emplace_back(MakeForm<TForm>(nullptr));
  forms[0]->Show();
  forms[2]->Show();
  TCustomForm::ShowStacked({forms[2].get(), forms[1].get(), forms[0].get()});
  for (const auto& form : forms) EXPECT_TRUE(form->Visible());
  EXPECT_EQ(Screen->Forms(0), forms[0].get());
  EXPECT_EQ(Screen->Forms(1), forms[1].get());
  EXPECT_EQ(Screen->Forms(2), forms[2].get());
}

// A form built in two phases: components are loading while the constructor
// runs, Loaded reaches each in creation order, then OnCreate.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>& log, std::string name)
      : TComponent(owner), log_(log), name_(std::move(name)) {
    log_.push_back(name_ + (ComponentState().Contains(csLoading) ? " loading" : " not loading"));
  }
  void Loaded() override {
    TComponent::Loaded();
    log_.push_back(name_ + " loaded");
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

class TwoPhaseForm : public TForm {
 public:
  TwoPhaseForm(TComponent* owner, std::vector<std::string>& log) : TForm(owner) {
    new Probe(this, log, "first");
    new Probe(this, log, "second");
    OnCreate = [&log](TPersistent*) { log.push_back("OnCreate"); };
    OnDestroy = [&log](TPersistent*) { log.push_back("OnDestroy"); };
  }
};

TEST_F(Forms, TwoPhaseConstruction) {
  std::vector<std::string> log;
  auto* form = MakeForm<TwoPhaseForm>(Application, log);
  EXPECT_EQ(log, (std::vector<std::string>{"first loading", "second loading", "first loaded",
                                           "second loaded", "OnCreate"}));
  delete form;
  EXPECT_EQ(log.back(), "OnDestroy");
}

class Picture : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
};

void Press(QWidget* widget, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons,
           QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, buttons,
                    modifiers);
  QApplication::sendEvent(widget, &event);
}

TEST_F(Forms, HooksSeeMessagesAroundTheDefault) {
  auto* form = MakeForm<TForm>(Application);
  form->SetBounds(0, 0, 100, 80);
  auto* picture = new Picture(form);
  picture->SetParent(form);
  picture->SetAlign(TAlign::alClient);
  std::vector<std::string> log;
  picture->OnMouseDown = [&](TPersistent*, TMouseButton, TShiftState shift, int x, int y) {
    log.push_back("mouse down " + std::to_string(x) + "," + std::to_string(y) +
                  ((shift & ssLeft) ? " left" : "") + ((shift & ssShift) ? " shift" : ""));
  };
  auto hook = [&](std::string name, bool call_default) {
    return [&log, name, call_default](TMessage& m, const TWindowProc& previous) {
      if (m.Msg != WM_LBUTTONDOWN) {
        previous(m);
        return;
      }
      log.push_back(name + " before " + std::to_string(m.WParam) + " " +
                    std::to_string(LParamX(m)) + "," + std::to_string(LParamY(m)));
      if (call_default) previous(m);
      log.push_back(name + " after");
    };
  };
  const int inner = form->HookWindowProc(hook("inner", true));
  const int outer = form->HookWindowProc(hook("outer", true));
  form->Show();
  Press(form->Handle(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {7, 9},
        Qt::ShiftModifier);
  EXPECT_EQ(log,
            (std::vector<std::string>{"outer before 5 7,9", "inner before 5 7,9",
                                      "mouse down 7,9 left shift", "inner after", "outer after"}));
  Press(form->Handle(), QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, {7, 9});

  // A hook that does not call what it replaced cancels the default.
  log.clear();
  form->UnhookWindowProc(outer);
  const int blocker = form->HookWindowProc(hook("blocker", false));
  Press(form->Handle(), QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {3, 4});
  EXPECT_EQ(log, (std::vector<std::string>{"blocker before 1 3,4", "blocker after"}));
  form->UnhookWindowProc(blocker);
  form->UnhookWindowProc(inner);
  delete form;
}

TEST_F(Forms, DestroyMessageReachesHooksWhileTheFormIsWhole) {
  auto* form = MakeForm<TForm>(Application);
  form->Show();
  int destroys = 0;
  form->HookWindowProc([&](TMessage& m, const TWindowProc& previous) {
    if (m.Msg == WM_DESTROY) ++destroys;
    previous(m);
  });
  delete form;
  EXPECT_EQ(destroys, 1);
}

TEST_F(Forms, UserCloseArrivesAsSystemCommandAndHides) {
  auto* form = MakeForm<TForm>(Application);
  form->Show();
  std::vector<uintptr_t> commands;
  form->HookWindowProc([&](TMessage& m, const TWindowProc& previous) {
    if (m.Msg == WM_SYSCOMMAND) commands.push_back(m.WParam);
    previous(m);
  });
  TCloseAction seen = TCloseAction::caNone;
  form->OnClose = [&](TPersistent*, TCloseAction& action) { seen = action; };
  QCloseEvent close;
  QApplication::sendEvent(form->Handle(), &close);
  EXPECT_EQ(commands, std::vector<uintptr_t>{SC_CLOSE});
  EXPECT_EQ(seen, TCloseAction::caHide);
  EXPECT_FALSE(form->Visible());
  delete form;
}

TEST(KeyChars, ControlCharactersAndText) {
  struct Case {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    char32_t expected;
  };
  const Case cases[] = {
      {Qt::Key_A, Qt::ControlModifier, "\x01", 1},
      {Qt::Key_C, Qt::ControlModifier, "\x03", 3},
      {Qt::Key_F, Qt::ControlModifier, "\x06", 6},
      {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, "", 26},
      {Qt::Key_Backspace, Qt::NoModifier, "\b", 8},
      {Qt::Key_Return, Qt::NoModifier, "\r", 13},
      {Qt::Key_Enter, Qt::KeypadModifier, "\r", 13},
      {Qt::Key_Escape, Qt::NoModifier, "\x1b", 27},
      {Qt::Key_A, Qt::NoModifier, "a", U'a'},
      {Qt::Key_A, Qt::ShiftModifier, "A", U'A'},
      {Qt::Key_Eacute, Qt::NoModifier, "\xC3\xA9", U'\u00E9'},
      {Qt::Key_Space, Qt::NoModifier, " ", U' '},
      {Qt::Key_Shift, Qt::ShiftModifier, "", 0},
      {Qt::Key_F1, Qt::NoModifier, "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyPressChar(c.key, static_cast<int>(c.modifiers), c.text), c.expected) << c.text;
  }
}

TEST_F(Forms, MenuShortCutRunsOnceAndIsNoKeyPress) {
  auto* form = MakeForm<TForm>(Application);
  auto* picture = new Picture(form);
  picture->SetParent(form);
  auto* menu = new TPopupMenu(form);
  auto* font = new TMenuItem(form);
  font->SetCaption("Font...");
  font->SetShortCut(ShortCut('F', ssCtrl));
  EXPECT_EQ(font->ShortCut(), 16454);
  menu->Items().Add(font);
  picture->SetPopupMenu(menu);
  int clicks = 0;
  font->OnClick = [&](TPersistent*) { ++clicks; };
  std::vector<char32_t> keys;
  form->OnKeyPress = [&](TPersistent*, char32_t& key) { keys.push_back(key); };
  EXPECT_TRUE(form->HandleKey(Qt::Key_F, Qt::ControlModifier, "\x06"));
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(keys.empty());
  EXPECT_TRUE(form->HandleKey(Qt::Key_G, Qt::ControlModifier, "\x07"));
  EXPECT_EQ(keys, std::vector<char32_t>{7});
  delete form;
}

TEST_F(Forms, GuardShowsTheErrorCaptionedWithTheTitle) {
  Application->SetTitle("Jotterwick");
  CallGuarded([] { throw Exception("Paper not found"); });
  CallGuarded([] { throw EAbort("Operation aborted"); });
  CallGuarded([] { throw Exception("Ends with a stop."); });
  ASSERT_EQ(dialogs_->Calls().size(), 2u);
  EXPECT_EQ(dialogs_->Calls()[0].caption, "Jotterwick");
  EXPECT_EQ(dialogs_->Calls()[0].text, "Paper not found.");
  EXPECT_EQ(dialogs_->Calls()[0].type, TMsgDlgType::mtError);
  EXPECT_EQ(dialogs_->Calls()[0].buttons, mbOK);
  EXPECT_EQ(dialogs_->Calls()[1].text, "Ends with a stop.");
}

// Terminating cannot be undone, so this runs in a child process.
TEST_F(Forms, ClosingTheMainFormEndsTheRunAndLastWindowDoesNot) {
  EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
  EXPECT_EXIT(
      {
        auto* other = MakeForm<TForm>(Application);
        other->Show();
        other->Close();
        const bool other_ended_run = Application->Terminated();
        auto* form = Application->CreateForm<TForm>();
        const bool is_main = Application->MainForm() == form;
        form->Close();
        _exit(!other_ended_run && is_main && Application->Terminated() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Ending the application ends its loop at once, however many windows are
// open, and no window hears of it as a user's close. Runs in a child
// process because terminating cannot be undone.
TEST_F(Forms, TerminateEndsRunWithSeveralFormsVisible) {
  EXPECT_EXIT(
      {
        int closes = 0;
        auto* main_form = Application->CreateForm<TForm>();
        std::vector<TForm*> others;
        for (int i = 0; i < 3; ++i) others.push_back(MakeForm<TForm>(Application));
        for (TForm* form : others) {
          form->OnClose = [&](TPersistent*, TCloseAction&) { ++closes; };
          form->OnCloseQuery = [&](TPersistent*, bool&) { ++closes; };
          form->Show();
        }
        main_form->OnClose = [&](TPersistent*, TCloseAction&) { ++closes; };
        QTimer::singleShot(0, [] { Application->Terminate(); });
        // A loop that goes on would otherwise hang the test.
        QTimer::singleShot(30000, [] { _exit(2); });
        Application->Run();
        bool all_visible = main_form->Visible();
        for (TForm* form : others) all_visible = all_visible && form->Visible();
        _exit(closes == 0 && all_visible ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace jw

namespace jw {
namespace {

// While modal a form stays above the windows that stay on top (notes), and
// is as it was made again afterwards.
TEST_F(Forms, ShowModalRunsUntilAResultAndHides) {
  auto* form = MakeForm<TForm>(Application);
  bool above = false;
  form->OnShow = [form, &above](TPersistent*) {
    above = form->Handle()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    QTimer::singleShot(0, [form] { form->SetModalResult(mrOk); });
  };
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_TRUE(above);
  EXPECT_FALSE(form->Handle()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(form->Modal());
  // Close on a modal form answers Cancel.
  form->OnShow = [form](TPersistent*) { QTimer::singleShot(0, [form] { form->Close(); }); };
  EXPECT_EQ(form->ShowModal(), mrCancel);
  delete form;
}

TEST_F(Forms, ReleaseDeletesAfterTheCurrentEvent) {
  std::vector<std::string> log;
  auto* form = MakeForm<TwoPhaseForm>(Application, log);
  const int before = Screen->FormCount();
  form->Release();
  form->Release();
  EXPECT_EQ(Screen->FormCount(), before);
  Application->ProcessMessages();
  EXPECT_EQ(Screen->FormCount(), before - 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "OnDestroy"), 1);
}

// A click reaches its handler once Qt is done with the control, so the
// handler may free the control's form, as a dialog's button does: a push
// button and a radio button clicked, a check box clicked and toggled with the
// space bar. The handler sees the new state.
TEST_F(Forms, AClickHandlerMayFreeItsForm) {
  enum Way { kButton, kCheckBoxClick, kCheckBoxSpace, kRadioButton };
  for (const Way way : {kButton, kCheckBoxClick, kCheckBoxSpace, kRadioButton}) {
    SCOPED_TRACE(way);
    TForm* form = MakeForm<TForm>(nullptr);
    form->SetBounds(0, 0, 300, 120);
    TControl* control = nullptr;
    std::function<bool()> new_state = [] { return true; };
    if (way == kButton) {
      control = new TButton(form);
    } else if (way == kRadioButton) {
      auto* group = new TRadioGroup(form);
      group->Items().Add("One");
      group->Items().Add("Two");
      new_state = [group] { return group->ItemIndex() == 1; };
      control = group;
    } else {
      auto* box = new TCheckBox(form);
      box->SetCaption("Box");
      new_state = [box] { return box->Checked(); };
      control = box;
    }
    control->SetParent(form);
    control->SetBounds(8, 8, 200, 60);
    form->Show();
    int clicks = 0;
    control->OnClick = [&](TPersistent*) {
      ++clicks;
      EXPECT_TRUE(new_state());
      // This handler goes with the form: nothing of it is used after.
      TForm* doomed = form;
      form = nullptr;
      delete doomed;
    };
    QWidget* target = static_cast<TWinControl*>(control)->Handle();
    if (way == kRadioButton) target = target->findChildren<QRadioButton*>().at(1);
    if (way == kCheckBoxSpace) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
      QApplication::sendEvent(target, &press);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
      QApplication::sendEvent(target, &release);
    } else {
      // On the check box's and the radio button's indicator.
      const QPoint at = way == kButton ? target->rect().center() : QPoint(6, target->height() / 2);
      Press(target, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, at);
      Press(target, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, at);
    }
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(form, nullptr);
    delete form;
  }
}

// A form made before it shows brings up its controls with it, except those
// hidden; and over a control without a hint, the form's hint shows.
TEST_F(Forms, ControlsShowWithTheirFormAndShareItsHint) {
  std::unique_ptr<TForm> form(MakeForm<TForm>(nullptr));
  form->SetBounds(0, 0, 200, 100);
  form->SetHint("Alarm set for noon");
  auto* shown = new TPanel(form.get());
  shown->SetParent(form.get());
  shown->SetBounds(0, 0, 100, 100);
  shown->SetShowHint(true);
  auto* hidden = new TPanel(form.get());
  hidden->SetParent(form.get());
  hidden->SetBounds(100, 0, 100, 100);
  hidden->Hide();
  form->Show();
  EXPECT_TRUE(shown->Handle()->isVisible());
  EXPECT_FALSE(hidden->Handle()->isVisible());
  hidden->Show();
  EXPECT_TRUE(hidden->Handle()->isVisible());
  shown->Hide();
  EXPECT_FALSE(shown->Handle()->isVisible());
  shown->Show();

  QHelpEvent help(QEvent::ToolTip, QPoint(10, 10), form->Handle()->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(shown->Handle(), &help);
  EXPECT_EQ(QToolTip::text(), "Alarm set for noon");
  QToolTip::hideText();
}

TEST_F(Forms, ARadioGroupOneRowHighShowsItsButtonsWhole) {
  std::unique_ptr<TForm> form(MakeForm<TForm>(nullptr));
  form->SetBounds(0, 0, 329, 120);
  auto* group = new TRadioGroup(form.get());
  group->SetParent(form.get());
  group->SetBounds(8, 8, 313, 45);
  group->SetCaption("Alarm Status");
  group->SetColumns(2);
  group->Items().Add("Disabled");
  group->Items().Add("Enabled");
  form->Show();
  QApplication::processEvents();
  const auto buttons = group->Handle()->findChildren<QRadioButton*>();
  ASSERT_EQ(buttons.size(), 2);
  for (QRadioButton* button : buttons) {
    // The round indicator and the letters must fit in the button's height.
    const int indicator = button->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight);
    const int letters = button->fontMetrics().tightBoundingRect(button->text()).height();
    EXPECT_GE(button->height(), std::max(indicator, letters)) << button->text().toStdString();
    EXPECT_LE(button->geometry().bottom(), group->Handle()->height());
  }
}

}  // namespace
}  // namespace jw
