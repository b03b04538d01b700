// One application for all GUI tests, with the pinned font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

#include "platform/gui/application.h"

namespace jw {
namespace {

class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<TApplication>(argc, argv);
    QApplication::setFont(QFont("DejaVu Sans"));
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<TApplication> app_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace
}  // namespace jw
