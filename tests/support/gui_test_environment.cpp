// One application object for every test of a GUI test executable: offscreen
// Qt unless a platform is chosen, the program's title and the pinned font, so
// that text measurements are the same on every machine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QFont>
#include <memory>

#include "platform/gui/application.h"

namespace jw {
namespace {

class GuiTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app_ = std::make_unique<TApplication>(argc_, argv_);
    app_->SetTitle("Jotterwick");
    QApplication::setFont(QFont("DejaVu Sans"));
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[15] = "jotterwick_gui";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TApplication> app_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace
}  // namespace jw
