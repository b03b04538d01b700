#include "components/tips.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QTimer>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/gui/application.h"

namespace jw {
namespace {

class TipsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = ::testing::TempDir() + "tips_" + std::to_string(getpid()) + ".INI";
    std::remove(ini_.c_str());
  }
  void TearDown() override { std::remove(ini_.c_str()); }

  // Runs Execute while act drives the shown dialog, then closes it.
  bool RunDialog(TTips& tips, const std::function<void(TTipForm&)>& act) {
    QTimer::singleShot(0, [&] {
      auto* form = dynamic_cast<TTipForm*>(Screen->ActiveForm());
      if (form == nullptr) {
        for (int i = 0; i < Screen->FormCount() && form == nullptr; ++i) {
          form = dynamic_cast<TTipForm*>(Screen->Forms(i));
        }
      }
      ASSERT_NE(form, nullptr);
      act(*form);
      form->CloseBtn->Click();
    });
    return tips.Execute();
  }
  std::string IniText() {
    std::ifstream in(ini_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string ini_;
};

TEST_F(TipsTest, WithoutIniTheDialogShowsAtStartAndUntickingWritesZero) {
  TTips tips(nullptr);
  tips.SetIniFileName(ini_);
  tips.LoadShowAtStart();
  EXPECT_TRUE(tips.ShowAtStart());
  tips.Tips().Add("first");
  tips.Tips().Add("second");
  bool next_enabled = false;
  EXPECT_TRUE(RunDialog(tips, [&](TTipForm& form) {
    EXPECT_TRUE(form.ShowAtStart->Checked());
    EXPECT_EQ(form.ShowAtStart->Caption(), "&Show this dialog on next start");
    EXPECT_EQ(form.Next->Caption(), "&Next >");
    EXPECT_EQ(form.CloseBtn->Caption(), "&Close");
    next_enabled = form.Next->Enabled();
    const std::string tip = form.TipText->Caption();
    EXPECT_TRUE(tip == "first" || tip == "second") << tip;
    form.ShowAtStart->SetChecked(false);
  }));
  EXPECT_TRUE(next_enabled);
  EXPECT_FALSE(tips.ShowAtStart());
  EXPECT_EQ(IniText(), "[Tips]\r\nShowAtStart=0\r\n");

  TTips again(nullptr);
  again.SetIniFileName(ini_);
  again.LoadShowAtStart();
  EXPECT_FALSE(again.ShowAtStart());
}

TEST_F(TipsTest, EmptyListShowsTheNoTipsTextWithNextDisabled) {
  TTips tips(nullptr);
  tips.SetIniFileName(ini_);
  tips.SetTitle("Jotterwick Tips");
  std::string tip, caption;
  bool next_enabled = true;
  RunDialog(tips, [&](TTipForm& form) {
    tip = form.TipText->Caption();
    caption = form.Caption();
    next_enabled = form.Next->Enabled();
  });
  EXPECT_EQ(tip, "No tips available !");
  EXPECT_EQ(caption, "Jotterwick Tips");
  EXPECT_FALSE(next_enabled);
  EXPECT_EQ(tips.Tips().Count(), 0);
}

TEST_F(TipsTest, OneTipDisablesNext) {
  TTips tips(nullptr);
  tips.SetIniFileName(ini_);
  tips.Tips().Add("only");
  bool next_enabled = true;
  std::string tip;
  RunDialog(tips, [&](TTipForm& form) {
    next_enabled = form.Next->Enabled();
    tip = form.TipText->Caption();
  });
  EXPECT_FALSE(next_enabled);
  EXPECT_EQ(tip, "only");
}

}  // namespace
}  // namespace jw
