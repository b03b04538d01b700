#include "components/hires_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"

namespace jw {
namespace {

using std::chrono::milliseconds;

// Handles events until done() holds; false when it still does not after a
// bound far above any tick interval used here.
bool ProcessUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Application->ProcessMessages();
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

class HiTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto scripted = std::make_unique<ScriptedDialogs>();
    dialogs_ = scripted.get();
    SetDialogService(std::move(scripted));
    gui_thread_ = std::this_thread::get_id();
  }
  void TearDown() override { SetDialogService(nullptr); }

  // A timer of 10 ms in the given mode, not yet enabled.
  std::unique_ptr<TKitHiTimer> MakeTimer(bool use_thread, bool synchronize) {
    auto timer = std::make_unique<TKitHiTimer>(nullptr, 10);
    timer->SetUseThread(use_thread);
    timer->SetSynchronize(synchronize);
    return timer;
  }

  ScriptedDialogs* dialogs_ = nullptr;
  std::thread::id gui_thread_;
};

TEST_F(HiTimerTest, IntervalZeroInTheConstructorBecomesASecond) {
  EXPECT_EQ(TKitHiTimer(nullptr, 0).Interval(), 1000);
  EXPECT_EQ(TKitHiTimer(nullptr, 25).Interval(), 25);
}

// Without the worker the ticks come from a timer on the GUI thread; a
// handler may clear itself or free its timer while it runs.
TEST_F(HiTimerTest, GuiTimerTicksOnTheGuiThreadAndAHandlerMayEndItsTimer) {
  auto timer = MakeTimer(false, true);
  auto ticks = std::make_shared<std::vector<std::thread::id>>();
  timer->SetOnTimer([ticks](TPersistent*) { ticks->push_back(std::this_thread::get_id()); });
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Running());
  EXPECT_FALSE(timer->ThreadRunning());
  ASSERT_TRUE(ProcessUntil([&] { return ticks->size() >= 3; }));
  for (std::thread::id id : *ticks) EXPECT_EQ(id, gui_thread_);

  // The handler's captures stay usable after it clears itself.
  TKitHiTimer* raw = timer.get();
  timer->SetOnTimer([raw, ticks](TPersistent*) {
    raw->SetOnTimer(nullptr);
    ticks->clear();
  });
  ASSERT_TRUE(ProcessUntil([&] { return ticks->empty(); }));
  EXPECT_FALSE(timer->Running());

  bool freed = false;
  timer->SetOnTimer([&](TPersistent*) {
    timer.reset();
    freed = true;
  });
  ASSERT_TRUE(ProcessUntil([&] { return freed; }));
}

// With Synchronize the worker waits for each tick to run on the GUI thread,
// so a GUI thread that is busy finds one tick waiting, not a pile.
TEST_F(HiTimerTest, SynchronizedWorkerWaitsForEachTickAndAStopWakesIt) {
  auto timer = MakeTimer(true, true);
  std::vector<std::thread::id> ticks;
  timer->SetOnTimer([&](TPersistent*) { ticks.push_back(std::this_thread::get_id()); });
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->ThreadRunning());
  ASSERT_TRUE(ProcessUntil([&] { return ticks.size() >= 2; }));
  for (std::thread::id id : ticks) EXPECT_EQ(id, gui_thread_);

  const size_t before = ticks.size();
  std::this_thread::sleep_for(milliseconds(300));  // thirty intervals
  Application->ProcessMessages();
  EXPECT_LE(ticks.size() - before, 2u);

  // The worker is waiting for a tick the GUI thread has not run: stopping
  // wakes it, and the waiting tick is dropped.
  std::this_thread::sleep_for(milliseconds(100));
  const size_t stopped_at = ticks.size();
  timer->SetEnabled(false);
  EXPECT_FALSE(timer->ThreadRunning());
  Application->ProcessMessages();
  EXPECT_EQ(ticks.size(), stopped_at);

  // The same when the timer is freed with a tick waiting, and when a
  // handler frees its own timer.
  timer->SetEnabled(true);
  ASSERT_TRUE(ProcessUntil([&] { return ticks.size() > stopped_at; }));
  std::this_thread::sleep_for(milliseconds(100));
  timer.reset();
  const size_t freed_at = ticks.size();
  Application->ProcessMessages();
  EXPECT_EQ(ticks.size(), freed_at);

  timer = MakeTimer(true, true);
  bool freed = false;
  timer->SetOnTimer([&](TPersistent*) {
    timer.reset();
    freed = true;
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(ProcessUntil([&] { return freed; }));
}

// Without Synchronize the handler runs on the worker: its errors reach the
// application's guard on the GUI thread, and it may stop its own timer.
TEST_F(HiTimerTest, UnsynchronizedHandlerIsGuardedAndMayStopItsTimer) {
  auto timer = MakeTimer(true, false);
  std::atomic<int> calls = 0;
  std::atomic<bool> off_gui = true;
  TKitHiTimer* raw = timer.get();
  timer->SetOnTimer([&, raw](TPersistent*) {
    off_gui = off_gui && std::this_thread::get_id() != gui_thread_;
    if (++calls == 1) throw Exception("Tick failed");
    raw->SetEnabled(false);
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(ProcessUntil([&] { return !timer->ThreadRunning(); }));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(off_gui);
  EXPECT_FALSE(timer->Enabled());
  ASSERT_EQ(dialogs_->Calls().size(), 1u);
  EXPECT_EQ(dialogs_->Calls()[0].text, "Tick failed.");

  // Clearing its own handler on the worker stops the timer too.
  auto ticks = std::make_shared<std::atomic<int>>(0);
  timer->SetOnTimer([raw, ticks](TPersistent*) {
    raw->SetOnTimer(nullptr);
    ++*ticks;
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(ProcessUntil([&] { return *ticks == 1 && !timer->ThreadRunning(); }));

  // Freeing the timer stops and joins its worker: no tick comes after.
  timer->SetOnTimer([&](TPersistent*) { ++calls; });
  ASSERT_TRUE(ProcessUntil([&] { return calls >= 4; }));
  timer.reset();
  const int freed_at = calls;
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(calls, freed_at);
}

}  // namespace
}  // namespace jw
