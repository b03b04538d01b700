#include "components/capture_message.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gui/forms.h"

namespace jw {
namespace {

// A form that records the messages its own procedure handles.
class RecordingForm : public TForm {
 public:
  using TForm::TForm;
  void WndProc(TMessage& message) override {
    log.push_back("form " + std::to_string(message.Msg));
    message.Result = 42;
    TForm::WndProc(message);
  }
  std::vector<std::string> log;
};

class CaptureMessageTest : public ::testing::Test {
 protected:
  std::unique_ptr<RecordingForm> form_{MakeForm<RecordingForm>(nullptr)};
};

TEST_F(CaptureMessageTest, ReportsBeforeAndAfterTheWindowsOwnHandling) {
  TsfCaptureMessageClass capture(nullptr);
  capture.OnBeforeMessage = [&](TMessage& m, bool&) {
    form_->log.push_back("before " + std::to_string(m.Msg));
  };
  capture.OnAfterMessage = [&](TMessage& m) {
    form_->log.push_back("after " + std::to_string(m.Msg) + " result " + std::to_string(m.Result));
  };
  capture.SetWindowHandle(form_.get());
  capture.SetEnabled(true);
  TMessage message{WM_SIZE, 0, 0, 0};
  form_->Perform(message);
  EXPECT_EQ(form_->log, (std::vector<std::string>{"before 5", "form 5", "after 5 result 42"}));
}

TEST_F(CaptureMessageTest, BeforeMessageCanKeepTheWindowFromHandlingIt) {
  TsfCaptureMessageClass capture(nullptr);
  capture.OnBeforeMessage = [](TMessage&, bool& call_default) { call_default = false; };
  bool after = false;
  capture.OnAfterMessage = [&](TMessage&) { after = true; };
  capture.SetEnabled(true);
  capture.SetWindowHandle(form_.get());
  TMessage message{WM_SIZE, 0, 0, 0};
  form_->Perform(message);
  EXPECT_TRUE(form_->log.empty());
  EXPECT_TRUE(after);
}

TEST_F(CaptureMessageTest, DisablingOrMovingToAnotherWindowUnhooks) {
  TsfCaptureMessageClass capture(nullptr);
  int seen = 0;
  capture.OnAfterMessage = [&](TMessage&) { ++seen; };
  capture.SetWindowHandle(form_.get());
  TMessage message{WM_SIZE, 0, 0, 0};
  form_->Perform(message);
  EXPECT_EQ(seen, 0) << "not enabled yet";
  capture.SetEnabled(true);
  form_->Perform(message);
  EXPECT_EQ(seen, 1);
  capture.SetEnabled(false);
  form_->Perform(message);
  EXPECT_EQ(seen, 1);
  capture.SetEnabled(true);
  // Unhooking the old window switches the capture off; the new window is
  // watched once it is switched on again.
  std::unique_ptr<RecordingForm> other(MakeForm<RecordingForm>(nullptr));
  capture.SetWindowHandle(other.get());
  EXPECT_FALSE(capture.Enabled());
  form_->Perform(message);
  other->Perform(message);
  EXPECT_EQ(seen, 1);
  capture.SetEnabled(true);
  form_->Perform(message);
  other->Perform(message);
  EXPECT_EQ(seen, 2);
}

TEST_F(CaptureMessageTest, AWindowDestroyedFirstLeavesTheCaptureSafe) {
  TsfCaptureMessageClass capture(nullptr);
  capture.SetWindowHandle(form_.get());
  capture.SetEnabled(true);
  form_.reset();
  EXPECT_EQ(capture.WindowHandle(), nullptr);
  EXPECT_FALSE(capture.Enabled());
}

}  // namespace
}  // namespace jw
