// The fixture of the dialog tests: default settings, the scripted dialog
// service and a sound player that records, all put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "platform/gui/buttons.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/gui/forms.h"
#include "platform/gui/play_sound.h"
#include "tests/app/recording_player.h"

namespace jw {

class ScriptedDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScrapSettings = TScrapSettings();
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    SetDialogService(std::move(dialogs));
    SetSoundPlayer(std::make_unique<RecordingPlayer>(plays_));
  }
  void TearDown() override {
    SetSoundPlayer(nullptr);
    SetDialogService(nullptr);
    ScrapSettings = TScrapSettings();
  }

  // Presses OK on form, as the scripted service's answer does, and runs the
  // close query the real dialog would: the message it showed, or empty when
  // it let the form close.
  std::string CloseQueryOnOk(TForm& form, TButton& ok) {
    ok.Click();
    const size_t shown = dialogs_->Calls().size();
    bool can_close = true;
    form.OnCloseQuery(&form, can_close);
    const std::string message =
        dialogs_->Calls().size() > shown ? dialogs_->Calls().back().text : "";
    EXPECT_EQ(can_close, message.empty()) << message;
    return message;
  }

  ScriptedDialogs* dialogs_ = nullptr;
  std::vector<PlayCall> plays_;
};

}  // namespace jw
