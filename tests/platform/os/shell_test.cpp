#include "platform/os/shell.h"

#include <gtest/gtest.h>

namespace jw {
namespace {

class RecordingOpener : public ShellOpener {
 public:
  explicit RecordingOpener(std::vector<std::string>& log) : log_(log) {}
  bool Open(const std::string& path) override {
    log_.push_back(path);
    return true;
  }

 private:
  std::vector<std::string>& log_;
};

TEST(ShellOpen, MissingFileIsRefusedWithoutStartingAnything) {
  XdgShellOpener opener;
  EXPECT_FALSE(opener.Open("/nonexistent/help/JOTTERWICK.HLP"));
  EXPECT_FALSE(opener.Open(""));
}

TEST(ShellOpen, InstalledOpenerReplacesXdgUntilRemoved) {
  std::vector<std::string> log;
  EXPECT_EQ(SetShellOpener(std::make_unique<RecordingOpener>(log)), nullptr);
  EXPECT_TRUE(Shell().Open("/tmp/a.hlp"));
  EXPECT_EQ(log, std::vector<std::string>{"/tmp/a.hlp"});
  EXPECT_NE(SetShellOpener(nullptr), nullptr);
  EXPECT_NE(dynamic_cast<XdgShellOpener*>(&Shell()), nullptr);
}

}  // namespace
}  // namespace jw
