#include "components/timer_pool.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "components/kit_application.h"
#include "platform/gui/dialogs_scripted.h"

namespace jw {
namespace {

// A 50 ms pool whose ticks the test drives by hand.
struct ManualPool {
  ManualPool() : pool(nullptr, 50) { pool.SetManualTicks(true); }
  // Runs n ticks and returns the numbers of the ticks on which fired() grew.
  std::vector<int> Run(int n, const int& calls) {
    std::vector<int> fired_on;
    for (int i = 0; i < n; ++i) {
      const int tick = pool.TickCounter();
      const int before = calls;
      pool.TimerTick();
      if (calls != before) fired_on.push_back(tick);
    }
    return fired_on;
  }
  TKitTimerPool pool;
};

TEST(TimerPool, ClientOf150MsFiresOnEveryThirdPoolTick) {
  ManualPool p;
  int calls = 0;
  p.pool.AddItem(7, 150, [&](TPersistent* sender) {
    EXPECT_EQ(sender, &p.pool);
    ++calls;
  });
  EXPECT_EQ(p.pool.TickCounter(), 1);
  EXPECT_EQ(p.Run(9, calls), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(p.pool.GetItem(7)->Counter(), 3);
}

TEST(TimerPool, IntervalsThatDoNotFitThePoolAreRefusedWithTheirText) {
  ManualPool p;
  for (TKitTimerInterval interval : {75, 25, 0}) {
    try {
      p.pool.AddItem(1, interval, nullptr);
      FAIL() << interval;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Interval not compatible with MinInterval property!") << interval;
    }
  }
  EXPECT_EQ(p.pool.Count(), 0);
}

TEST(TimerPool, IdentifierInUseIsRefusedWithTheIndexText) {
  ManualPool p;
  p.pool.AddItem(0xFD05, 100, nullptr);
  try {
    p.pool.AddItem(0xFD05, 100, nullptr);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (64773)");
  }
}

TEST(TimerPool, IntervalZeroMeansEveryTickAndOddIntervalsKeepThePeriod) {
  ManualPool p;
  int calls = 0;
  p.pool.AddItem(1, 200, [&](TPersistent*) { ++calls; });
  TKitTimerItem* item = p.pool.GetItem(1);
  item->SetInterval(75);  // not a multiple of 50: ignored
  EXPECT_EQ(item->Interval(), 200);
  EXPECT_EQ(item->Ticks(), 4);
  item->SetInterval(0);
  EXPECT_EQ(item->Interval(), 50);
  EXPECT_EQ(p.Run(4, calls).size(), 4u);
}

TEST(TimerPool, CallLimitDisablesTheClientAndOnTimerServesClientsWithoutCallback) {
  ManualPool p;
  std::vector<std::pair<int, int>> events;
  p.pool.OnTimer = [&](TPersistent*, uint16_t ident, int counter) {
    events.emplace_back(ident, counter);
  };
  p.pool.AddItem(9, 50, nullptr);
  p.pool.GetItem(9)->SetCallLimit(2);
  int unused = 0;
  p.Run(5, unused);
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{9, 1}, {9, 2}}));
  EXPECT_FALSE(p.pool.GetItem(9)->Enabled());
}

TEST(TimerPool, RemovingTheLastClientStopsTheTimer) {
  ManualPool p;
  p.pool.AddItem(1, 50, nullptr);
  p.pool.AddItem(2, 100, nullptr);
  EXPECT_TRUE(p.pool.Running());
  p.pool.RemoveItem(1);
  EXPECT_TRUE(p.pool.Running());
  p.pool.RemoveItem(99);  // unknown: nothing
  p.pool.RemoveItem(2);
  EXPECT_FALSE(p.pool.Running());
  EXPECT_EQ(p.pool.Count(), 0);
}

// A client removed during a tick, by itself or by another, is freed only
// when the tick ends: its running callback stays whole and the clients after
// it still get their turn.
TEST(TimerPool, ClientsRemovedDuringATickAreFreedAfterIt) {
  ManualPool p;
  auto log = std::make_shared<std::vector<int>>();
  p.pool.AddItem(1, 50, [&p, log](TPersistent*) {
    p.pool.RemoveItem(1);
    p.pool.RemoveItem(2);
    log->push_back(1);
  });
  p.pool.AddItem(2, 50, [log](TPersistent*) { log->push_back(2); });
  p.pool.AddItem(3, 50, [log](TPersistent*) { log->push_back(3); });
  p.pool.TimerTick();
  EXPECT_EQ(*log, (std::vector<int>{1, 3}));
  EXPECT_EQ(p.pool.GetItem(1), nullptr);
  EXPECT_EQ(p.pool.FindItem(2), -1);
  EXPECT_EQ(p.pool.Count(), 1);
  // The last client removing itself stops the pool's timer.
  p.pool.GetItem(3)->Callback = [&p, log](TPersistent*) {
    p.pool.Clear();
    log->push_back(4);
  };
  p.pool.TimerTick();
  EXPECT_EQ(log->back(), 4);
  EXPECT_EQ(p.pool.Count(), 0);
  EXPECT_FALSE(p.pool.Running());

  // The same through the application's slots: the slot is free at once.
  TKitApplication& app = KitApplication();
  app.TimerPool().SetManualTicks(true);
  uint16_t ident = 0;
  ident = app.AddTimer(50, [&ident, log](TPersistent*) {
    KitApplication().RemoveTimer(ident);
    log->push_back(5);
  });
  app.TimerPool().TimerTick();
  EXPECT_EQ(log->back(), 5);
  EXPECT_EQ(app.GetTimerItem(ident), nullptr);
  const uint16_t again = app.AddTimer(50, nullptr);
  EXPECT_EQ(again, ident);
  app.RemoveTimer(again);
  app.TimerPool().SetManualTicks(false);
}

TEST(TimerPool, ThrowingClientIsReportedAndDoesNotStopThePool) {
  ScriptedDialogs* dialogs = new ScriptedDialogs;
  auto previous = SetDialogService(std::unique_ptr<DialogService>(dialogs));
  ManualPool p;
  int good = 0;
  p.pool.AddItem(1, 50, [](TPersistent*) { throw Exception("client failed"); });
  p.pool.AddItem(2, 50, [&](TPersistent*) { ++good; });
  p.pool.TimerTick();
  p.pool.TimerTick();
  p.pool.GetItem(1)->SetEnabled(false);
  p.pool.TimerTick();
  EXPECT_EQ(good, 1);  // the failure stops the round it happened in, not the pool
  ASSERT_EQ(dialogs->Calls().size(), 2u);
  EXPECT_EQ(dialogs->Calls()[0].text, "client failed.");
  SetDialogService(std::move(previous));
}

TEST(TimerPool, ItemNeedsAPoolAndAList) {
  std::vector<TKitTimerItem*> list;
  try {
    TKitTimerItem item(nullptr, 1, &list);
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "TKitTimerItem: Invalid Owner or List");
  }
}

}  // namespace
}  // namespace jw
