#include "platform/gui/timer.h"

#include <gtest/gtest.h>

namespace jw {
namespace {

TEST(Timer, IntervalZeroNeverRuns) {
  TTimer timer(nullptr);
  EXPECT_TRUE(timer.Running());
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Running());
  EXPECT_EQ(timer.RemainingMs(), -1);
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.Running());
  timer.SetInterval(100);
  EXPECT_TRUE(timer.Running());
}

// A coarse timer may fire up to 5% late, and its remaining time says so.
int WithSlack(int interval_ms) {
  return interval_ms + interval_ms / 20;
}

TEST(Timer, ChangingTheIntervalRestartsARunningTimer) {
  TTimer timer(nullptr);
  timer.SetInterval(10000);
  EXPECT_LE(timer.RemainingMs(), WithSlack(10000));
  timer.SetInterval(60000);
  EXPECT_GT(timer.RemainingMs(), WithSlack(10000));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  timer.SetInterval(70000);
  EXPECT_FALSE(timer.Running());
}

}  // namespace
}  // namespace jw
