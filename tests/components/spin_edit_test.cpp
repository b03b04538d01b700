#include "components/spin_edit.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QWidget>
#include <limits>
#include <memory>

#include "components/kit_application.h"
#include "platform/gui/beep.h"
#include "platform/gui/buttons.h"

namespace jw {
namespace {

class SpinForm : public TForm {
 public:
  explicit SpinForm(TComponent* owner) : TForm(owner) {
    Spin = new TKitSpinEdit(this);
    Spin->SetParent(this);
    Ok = new TButton(this);
    Ok->SetParent(this);
    Ok->SetTop(40);
    Ok->SetDefault(true);
    Ok->SetModalResult(mrOk);
  }
  TKitSpinEdit* Spin;
  TButton* Ok;
};

class SpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KitApplication().TimerPool().SetManualTicks(true);
    previous_ = SetBeeper([this] { ++beeps_; });
    form_.reset(MakeForm<SpinForm>(nullptr));
    form_->Show();
  }
  void TearDown() override {
    form_.reset();
    SetBeeper(previous_);
    KitApplication().TimerPool().SetManualTicks(false);
  }
  TKitSpinEdit& Spin() { return *form_->Spin; }
  void Key(int qt_key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, qt_key, Qt::NoModifier, text);
    QApplication::sendEvent(Spin().Handle(), &press);
  }

  TBeeper previous_;
  int beeps_ = 0;
  std::unique_ptr<SpinForm> form_;
};

TEST_F(SpinEditTest, RefusedCharactersBeepAndLeaveTheText) {
  Spin().SetText("12");
  for (const char* typed : {".", "a"}) {
    Key(typed[0] == '.' ? Qt::Key_Period : Qt::Key_A, typed);
  }
  EXPECT_EQ(beeps_, 2);
  EXPECT_EQ(Spin().Text(), "12");
  Key(Qt::Key_End);
  Key(Qt::Key_5, "5");
  EXPECT_EQ(Spin().Text(), "125");
}

TEST_F(SpinEditTest, ValueClampsOnWriteUnlessTheLimitsAreEqual) {
  Spin().SetMinValue(-45);
  Spin().SetMaxValue(45);
  Spin().SetValue(50);
  EXPECT_EQ(Spin().Text(), "45");
  Spin().SetValue(-50);
  EXPECT_EQ(Spin().Text(), "-45");
  Spin().SetMinValue(45);  // not below MaxValue: ignored
  EXPECT_EQ(Spin().MinValue(), -45);
}

TEST_F(SpinEditTest, TextReadsWithSuffixAndFallsBackToMinValue) {
  struct Row {
    std::string suffix, text;
    int value;
    std::string text_after;
  };
  const Row rows[] = {
      {" s", "12 s", 12, "12 s"},
      {" s", "abc", 3, "3 s"},
      {" s", "1-2", 3, "3 s"},
      {"", "-", 3, "3"},
      {"", "", 3, ""},
      {"", "x7", 3, "3"},
      {"", "250", 250, "250"},
      {" s", "+8 s", 8, "+8 s"},
      // A suffix with digits or signs of its own is not read as the number.
      {" x2", "12 x2", 12, "12 x2"},
      {"+1", "-5+1", -5, "-5+1"},
      {" x2", "7", 7, "7 x2"},
  };
  for (const Row& row : rows) {
    TKitSpinEdit spin(nullptr);
    spin.SetMinValue(3);
    spin.SetSuffix(row.suffix);
    spin.SetText(row.text);
    EXPECT_EQ(spin.Value(), row.value) << row.text;
    EXPECT_EQ(spin.Text(), row.text_after) << row.text;
  }
}

TEST_F(SpinEditTest, KeysStepAndReadOnlyRefuses) {
  Spin().SetValue(20);
  Key(Qt::Key_Up);
  EXPECT_EQ(Spin().Value(), 21);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Spin().Value(), 11);
  Spin().SetReadOnly(true);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Spin().Value(), 11);
  EXPECT_EQ(beeps_, 0);
  Key(Qt::Key_Up);
  EXPECT_EQ(Spin().Value(), 11);
  EXPECT_EQ(beeps_, 1);
}

TEST_F(SpinEditTest, StepsStopAtTheEndsOfTheIntegerRange) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  Spin().SetMaxValue(kMax);
  Spin().SetMinValue(kMin);
  Spin().SetValue(kMax);
  Key(Qt::Key_Up);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Spin().Value(), kMax);
  Spin().SetValue(kMin);
  Key(Qt::Key_Down);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Spin().Value(), kMin);
  Spin().SetLineSize(kMin);
  Key(Qt::Key_Down);
  EXPECT_EQ(Spin().Value(), 0);
  Key(Qt::Key_Down);
  EXPECT_EQ(Spin().Value(), kMax);
}

// Text that is pasted (by key or from the context menu), dropped or
// committed by an input method keeps to the typing rules.
TEST_F(SpinEditTest, EveryWayTextEntersKeepsToTheTypingRules) {
  QWidget* edit = Spin().Handle();
  auto paste_from_menu = [&] {
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(3, 3),
                              edit->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(edit, &request);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    QAction* paste = nullptr;
    for (QAction* action : menu->actions()) {
      if (action->text().startsWith("&Paste")) paste = action;
    }
    ASSERT_NE(paste, nullptr);
    paste->trigger();
    menu->close();
  };
  auto drop = [&](const QString& text) {
    QMimeData data;
    data.setText(text);
    const QPointF middle(edit->width() / 2.0, edit->height() / 2.0);
    QDragEnterEvent enter(middle.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    QDropEvent event(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &event);
  };
  auto commit = [&](const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(edit, &event);
  };

  Spin().SetText("12");
  QGuiApplication::clipboard()->setText("3a");
  paste_from_menu();
  EXPECT_EQ(Spin().Text(), "123");
  QGuiApplication::clipboard()->setText("4");
  QKeyEvent ctrl_v(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, "\x16");
  QApplication::sendEvent(edit, &ctrl_v);
  EXPECT_EQ(Spin().Text(), "1234");
  drop("5.x6");
  EXPECT_EQ(Spin().Text(), "123456");
  commit(QString::fromUtf8("7\u00e98"));
  EXPECT_EQ(Spin().Text(), "12345678");
  EXPECT_EQ(beeps_, 3);

  Spin().SetEditorEnabled(false);
  Spin().SetText("12");
  QGuiApplication::clipboard()->setText("abc");
  paste_from_menu();
  drop("9");
  commit("9");
  EXPECT_EQ(Spin().Text(), "12");
}

TEST_F(SpinEditTest, ReturnPressesTheDefaultButtonAndIsSwallowed) {
  int clicks = 0;
  form_->Ok->OnClick = [&](TPersistent*) { ++clicks; };
  int form_keys = 0;
  form_->OnKeyPress = [&](TPersistent*, char32_t&) { ++form_keys; };
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(Spin().Handle(), &press);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(form_->ModalResult(), mrOk);
  EXPECT_EQ(form_keys, 0);
  EXPECT_TRUE(press.isAccepted());
}

TEST_F(SpinEditTest, PressOnTheLowerRightHalfStepsDownAtOnceAndRepeatsOnThePool) {
  Spin().SetValue(50);
  TKitSpinButton& button = Spin().Button();
  const int side = button.Width();
  ASSERT_GT(side, 4);
  EXPECT_EQ(button.HitTest(side - 2, side - 2), 2);
  EXPECT_EQ(button.HitTest(1, 1), 1);
  button.MouseDown(TMouseButton::mbLeft, 0, side - 2, side - 2);
  EXPECT_EQ(Spin().Value(), 49);
  EXPECT_EQ(button.State(), 2);

  TKitTimerPool& pool = KitApplication().TimerPool();
  TKitTimerItem* item = KitApplication().GetTimerItem(button.TimerIdent());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Interval(), 300);
  // The first repeat comes on a pool tick that is a multiple of six (300 ms),
  // the next ones every second tick (100 ms).
  std::vector<int> steps_on;
  for (int i = 0; i < 12; ++i) {
    const int tick = pool.TickCounter();
    const int before = Spin().Value();
    pool.TimerTick();
    if (Spin().Value() != before) steps_on.push_back(tick);
  }
  ASSERT_FALSE(steps_on.empty());
  EXPECT_EQ(steps_on[0] % 6, 0);
  for (size_t i = 1; i < steps_on.size(); ++i) EXPECT_EQ(steps_on[i] - steps_on[i - 1], 2);
  button.MouseUp(TMouseButton::mbLeft, 0, side - 2, side - 2);
  EXPECT_FALSE(item->Enabled());
  EXPECT_EQ(button.State(), 0);
}

// A change handler may free the dialog while the button is held: the
// repeat ends with it and nothing of the dialog is used afterwards.
TEST_F(SpinEditTest, ChangeHandlerMayFreeTheDialogDuringTheRepeat) {
  Spin().SetValue(50);
  Spin().OnChange = [this](TPersistent*) {
    if (Spin().Value() >= 53) form_.reset();
  };
  TKitSpinButton& button = Spin().Button();
  const uint16_t ident = button.TimerIdent();
  button.MouseDown(TMouseButton::mbLeft, 0, 1, 1);
  TKitTimerPool& pool = KitApplication().TimerPool();
  for (int i = 0; i < 40 && form_ != nullptr; ++i) pool.TimerTick();
  EXPECT_EQ(form_, nullptr);
  EXPECT_EQ(KitApplication().GetTimerItem(ident), nullptr);
  pool.TimerTick();

  // The same on the press that starts the repeat.
  form_.reset(MakeForm<SpinForm>(nullptr));
  Spin().OnChange = [this](TPersistent*) { form_.reset(); };
  Spin().Button().MouseDown(TMouseButton::mbLeft, 0, 1, 1);
  EXPECT_EQ(form_, nullptr);
}

TEST_F(SpinEditTest, RepeatWithInterval10KeepsThe300MsPeriod) {
  Spin().SetInterval(10);
  TKitSpinButton& button = Spin().Button();
  button.MouseDown(TMouseButton::mbLeft, 0, 1, 1);
  TKitTimerItem* item = KitApplication().GetTimerItem(button.TimerIdent());
  EXPECT_EQ(item->Interval(), 300);
  for (int i = 0; i < 6; ++i) KitApplication().TimerPool().TimerTick();
  EXPECT_EQ(item->Interval(), 300);
  button.MouseUp(TMouseButton::mbLeft, 0, 1, 1);
}

TEST_F(SpinEditTest, WheelStepsOncePerFullNotch) {
  Spin().SetValue(10);
  for (int i = 0; i < 4; ++i) {
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 30), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Spin().Handle(), &wheel);
  }
  EXPECT_EQ(Spin().Value(), 11);
}

}  // namespace
}  // namespace jw
