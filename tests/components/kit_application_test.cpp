#include "components/kit_application.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os/performance_counter.h"
#include "platform/rtl/file_names.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace jw {
namespace {

TEST(KitApplication, FirstTimerOfAFreshSlotTableIsFD01AndSlotsAreReused) {
  TKitApplication& app = KitApplication();
  app.TimerPool().SetManualTicks(true);
  const uint16_t first = app.AddTimer(100, nullptr);
  const uint16_t second = app.AddTimer(100, nullptr);
  EXPECT_EQ(first, 0xFD01);
  EXPECT_EQ(second, 0xFD02);
  ASSERT_NE(app.GetTimerItem(first), nullptr);
  app.RemoveTimer(first);
  EXPECT_EQ(app.GetTimerItem(first), nullptr);
  EXPECT_EQ(app.AddTimer(50, nullptr), 0xFD01);
  app.RemoveTimer(0xFD01);
  app.RemoveTimer(second);
  app.RemoveTimer(0x1234);  // not ours: nothing
  app.TimerPool().SetManualTicks(false);
}

TEST(KitApplication, AllTwoHundredFiftySlotsTakenGivesZero) {
  TKitApplication& app = KitApplication();
  app.TimerPool().SetManualTicks(true);
  std::vector<uint16_t> idents;
  for (int i = 0; i < TKitApplication::kTimerSlots; ++i)
    idents.push_back(app.AddTimer(50, nullptr));
  EXPECT_EQ(idents.front(), 0xFD01);
  EXPECT_EQ(idents.back(), 0xFDFA);
  EXPECT_EQ(app.AddTimer(50, nullptr), 0);
  for (uint16_t ident : idents) app.RemoveTimer(ident);
  EXPECT_FALSE(app.TimerPool().Running());
  app.TimerPool().SetManualTicks(false);
}

TEST(KitApplication, FixedFieldsAndLogName) {
  TKitApplication& app = KitApplication();
  EXPECT_EQ(app.Options(), 0x36u);
  EXPECT_EQ(app.TimerPool().MinInterval(), 50);
  EXPECT_EQ(app.PerformanceFrequency(), QueryPerformanceFrequency());
  EXPECT_GE(app.PerformanceFrequency(), 1000000);
  EXPECT_EQ(app.LogName(), ChangeFileExt(ExecutablePath(), ".LOG"));
  app.SetLogName("trace");
  EXPECT_EQ(app.LogName(), ExecutableFolder() + "trace.LOG");
  app.SetLogPathPrefix(TKitPathPrefix::ppFixed);
  app.SetLogName("/var/tmp/x.txt");
  EXPECT_EQ(app.LogName(), "/var/tmp/x.txt");
  app.SetLogPathPrefix(TKitPathPrefix::ppProgram);
  app.SetLogName("");
}

TEST(KitIniCtrl, AlphaCounterCapsEntriesAndNamesGetTheirExtension) {
  TKitIniCtrl ctrl(nullptr);
  EXPECT_EQ(ctrl.MaxEntries(), 16);
  ctrl.SetMaxEntries(40);
  ctrl.SetAlphaCounter(true);
  EXPECT_EQ(ctrl.MaxEntries(), 26);
  ctrl.SetMaxEntries(30);
  EXPECT_EQ(ctrl.MaxEntries(), 26);
  ctrl.SetMaxEntries(20);
  EXPECT_EQ(ctrl.MaxEntries(), 20);
  ctrl.SetIniFile("settings");
  EXPECT_EQ(ctrl.IniFile(), "settings.INI");
  ctrl.SetIniFile("notes.cfg");
  EXPECT_EQ(ctrl.IniFile(), "notes.cfg");
  EXPECT_EQ(ctrl.EffectiveTarget(), TKitIniTarget::itRegistry);
  ctrl.SetTarget(TKitIniTarget::itIniFile);
  EXPECT_EQ(ctrl.EffectiveTarget(), TKitIniTarget::itIniFile);
  ctrl.SetNetUser(true);
  EXPECT_FALSE(ctrl.User().empty());
}

// Run by the test below in a second process: JW_INSTANCE_PROBE tells
// whether it must find the first one running.
TEST(KitApplicationProbe, SeesTheFirstInstanceOnlyFromTheSameFolder) {
  const char* expected = std::getenv("JW_INSTANCE_PROBE");
  if (expected == nullptr) GTEST_SKIP() << "runs inside the next test";
  EXPECT_EQ(KitApplication().InstanceRunning(), std::string(expected) == "running");
}

// Runs the probe in a process of exe; true when it passed.
bool ProbePasses(const std::string& exe, const std::string& expected) {
  std::string filter = "--gtest_filter=KitApplicationProbe.*";
  std::vector<char*> argv{const_cast<char*>(exe.c_str()), filter.data(), nullptr};
  std::vector<std::string> env_strings{"JW_INSTANCE_PROBE=" + expected,
                                       "QT_QPA_PLATFORM=offscreen"};
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The same executable file reached from another folder, as a second ready
// folder holds its own copy, is another program with its own files.
TEST(KitApplication, SecondProcessSeesInstanceRunningFromTheSameFolderOnly) {
  EXPECT_FALSE(KitApplication().InstanceRunning());
  const std::string exe = ExecutablePath();
  EXPECT_TRUE(ProbePasses(exe, "running"));
  test_support::TempFolder other;
  const std::string linked = other.File(ExtractFileName(exe));
  // A link where the folders share a file system, a copy where they do not.
  std::error_code error;
  std::filesystem::create_hard_link(exe, linked, error);
  if (error) std::filesystem::copy_file(exe, linked);
  EXPECT_TRUE(ProbePasses(linked, "free"));
}

}  // namespace
}  // namespace jw
