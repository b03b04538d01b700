#include "components/tray_icon.h"

#include "components/kit_application.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/application.h"

namespace jw {
namespace {

struct TrayCall {
  uint32_t message;
  std::string tip;
};

class FakeTray : public TrayBackend {
 public:
  void Notify(uint32_t message, const TNotifyIconData& data) override {
    calls.push_back({message, data.szTip});
    EXPECT_EQ(data.uCallbackMessage, 0x465u);
  }
  TPoint CursorPos() override { return {120, 7}; }
  std::vector<TrayCall> calls;
};

class RecordingMenu : public TPopupMenu {
 public:
  using TPopupMenu::TPopupMenu;
  void Popup(int x, int y) override {
    log->push_back("menu " + std::to_string(x) + "," + std::to_string(y));
  }
  std::vector<std::string>* log = nullptr;
};

// A form that owns a tray icon made while the form loads, as a form
// resource would make it.
class TrayForm : public TForm {
 public:
  explicit TrayForm(TComponent* owner) : TForm(owner) {
    Tray = new TKitTrayIcon(this);
    Menu = new RecordingMenu(this);
  }
  TKitTrayIcon* Tray;
  RecordingMenu* Menu;
};

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetTrayBackendFactory([this] {
      auto fake = std::make_unique<FakeTray>();
      fake_ = fake.get();
      return fake;
    });
    form_ = MakeForm<TrayForm>(nullptr);
    form_->Menu->log = &log_;
  }
  void TearDown() override {
    delete form_;
    SetTrayBackendFactory(previous_);
  }
  void Send(uint32_t mouse_message) {
    form_->Tray->TrayCallback(TMessage{0x465, 0, static_cast<intptr_t>(mouse_message), 0});
  }
  void Record() {
    TKitTrayIcon& t = *form_->Tray;
    auto name = [](TMouseButton b) {
      return b == TMouseButton::mbLeft ? "left" : b == TMouseButton::mbRight ? "right" : "middle";
    };
    t.OnMouseDown = [this, name](TPersistent*, TMouseButton b, TShiftState s, int x, int y) {
      log_.push_back(std::string("down ") + name(b) + (s & ssDouble ? " double" : "") + " " +
                     std::to_string(x) + "," + std::to_string(y));
    };
    t.OnMouseUp = [this, name](TPersistent*, TMouseButton b, TShiftState, int, int) {
      log_.push_back(std::string("up ") + name(b));
    };
    t.OnClick = [this](TPersistent*) { log_.push_back("click"); };
    t.OnDblClick = [this](TPersistent*) { log_.push_back("dblclick"); };
    t.OnPopUp = [this](TPersistent*) { log_.push_back("popup"); };
  }

  TrayBackendFactory previous_;
  FakeTray* fake_ = nullptr;
  TrayForm* form_ = nullptr;
  std::vector<std::string> log_;
};

TEST_F(TrayIconTest, StreamedActiveIconIsAddedOnceInLoaded) {
  ASSERT_EQ(fake_->calls.size(), 1u);
  EXPECT_EQ(fake_->calls[0].message, NIM_ADD);
  EXPECT_FALSE(Application->ShowMainForm());
  Application->SetShowMainForm(true);
}

TEST_F(TrayIconTest, MouseMessagesBecomeEventsInTheirOrder) {
  Record();
  struct Row {
    uint32_t message;
    std::vector<std::string> events;
  };
  const std::vector<Row> rows = {
      {0x200, {}},
      {0x201, {"down left 120,7"}},
      {0x202, {"click", "up left"}},
      {0x203, {"dblclick", "down left double 120,7"}},
      {0x204, {"down right 120,7"}},  // no menu assigned: no popup
      {0x205, {"click", "up right"}},
      {0x206, {"dblclick", "down right double 120,7"}},
      {0x207, {"down middle 120,7"}},
      {0x208, {"click", "up middle"}},
      {0x209, {"dblclick", "down middle double 120,7"}},
      {0x20A, {}},
  };
  for (const Row& row : rows) {
    log_.clear();
    Send(row.message);
    EXPECT_EQ(log_, row.events) << std::hex << row.message;
  }
  log_.clear();
  form_->Tray->TrayCallback(TMessage{0x466, 0, 0x201, 0});
  EXPECT_TRUE(log_.empty());
}

TEST_F(TrayIconTest, RightPressRunsMouseDownThenOnPopUpThenTheMenuAtTheCursor) {
  Record();
  form_->Tray->SetPopUpMenu(form_->Menu);
  Send(0x204);
  EXPECT_EQ(log_, (std::vector<std::string>{"down right 120,7", "popup", "menu 120,7"}));
  EXPECT_EQ(form_->Menu->PopupComponent(), form_->Tray);
}

TEST_F(TrayIconTest, HintIsCutTo63CharactersAndSentAtOnce) {
  fake_->calls.clear();
  form_->Tray->SetHint(std::string(70, 'h'));
  ASSERT_EQ(fake_->calls.size(), 1u);
  EXPECT_EQ(fake_->calls[0].message, NIM_MODIFY);
  EXPECT_EQ(fake_->calls[0].tip, std::string(63, 'h'));
  EXPECT_EQ(CutNotifyTip(std::string(62, 'x') + "\xC3\xA9\xC3\xA9"),
            std::string(62, 'x') + "\xC3\xA9");
}

TEST_F(TrayIconTest, SettingActiveToItsValueSendsNothing) {
  fake_->calls.clear();
  form_->Tray->SetActive(true);
  EXPECT_TRUE(fake_->calls.empty());
  form_->Tray->SetActive(false);
  form_->Tray->SetActive(false);
  ASSERT_EQ(fake_->calls.size(), 1u);
  EXPECT_EQ(fake_->calls[0].message, NIM_DELETE);
}

TEST_F(TrayIconTest, MinimisingHidesTheOwnerForm) {
  form_->Show();
  TMessage message{WM_SYSCOMMAND, SC_MINIMIZE, 0, 0};
  form_->Perform(message);
  EXPECT_FALSE(form_->Visible());
}

TEST_F(TrayIconTest, CloseWithNoCloseHidesInsteadOfClosing) {
  int closes = 0;
  form_->OnClose = [&](TPersistent*, TCloseAction&) { ++closes; };
  form_->Show();
  form_->Tray->SetNoClose(true);
  TMessage message{WM_SYSCOMMAND, SC_CLOSE, 0, 0};
  form_->Perform(message);
  EXPECT_EQ(closes, 0);
  EXPECT_FALSE(form_->Visible());

  form_->Show();
  form_->Tray->SetNoClose(false);
  form_->Perform(message);
  EXPECT_EQ(closes, 1);
}

// Two images of different colours; the list counts them as list 0.
class TwoImages : public TKitCustomImageList {
 public:
  using TKitCustomImageList::TKitCustomImageList;
  int Count(int) const override { return count; }
  void Draw(TCanvas& canvas, int, int, int, int index) override {
    drawn.push_back(index);
    canvas.Brush().SetColor(index == 0 ? clRed : clBlue);
    canvas.FillRect(Rect(0, 0, 16, 16));
  }
  int count = 2;
  std::vector<int> drawn;
};

TEST_F(TrayIconTest, AnimationCyclesThroughAllFramesOnThePool) {
  KitApplication().TimerPool().SetManualTicks(true);
  TwoImages images(nullptr);
  images.count = 3;
  TKitTrayIcon& tray = *form_->Tray;
  tray.SetImageList(&images);
  tray.SetInterval(230);
  tray.SetAnimated(true);
  EXPECT_EQ(tray.Interval(), 250);
  for (int i = 0; i < 7; ++i) tray.AnimationTick();
  EXPECT_EQ(images.drawn, (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
  // Activating again reuses the animation's timer.
  tray.SetActive(false);
  tray.SetAnimated(false);
  tray.SetAnimated(true);
  tray.SetActive(true);
  EXPECT_EQ(KitApplication().TimerPool().Count(), 1);
  images.count = 0;
  images.drawn.clear();
  tray.AnimationTick();
  EXPECT_TRUE(images.drawn.empty());
  tray.SetImageList(nullptr);
  tray.SetAnimated(false);
  EXPECT_EQ(KitApplication().TimerPool().Count(), 0);
  KitApplication().TimerPool().SetManualTicks(false);
}

}  // namespace
}  // namespace jw
