// Starts the application object once for every test of this executable:
// offscreen Qt unless a platform is chosen.
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "platform/gui/application.h"

namespace jw {
namespace {

class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app_ = std::make_unique<TApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[17] = "components_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace
}  // namespace jw
