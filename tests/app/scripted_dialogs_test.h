// The fixture of the dialog tests: default settings, the scripted dialog
// service and a sound player that records, all put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "platform/gui/dialogs_scripted.h"
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

  ScriptedDialogs* dialogs_ = nullptr;
  std::vector<PlayCall> plays_;
};

}  // namespace jw
