// TKitTimerPool: many periodic clients on one window timer whose period is
// the pool's MinInterval. A client (TKitTimerItem) fires on every pool tick
// whose number is a multiple of its Ticks (its Interval over MinInterval);
// ticks are counted by the pool, so a client enabled while the pool runs
// fires first within one interval.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "components/kit_base.h"
#include "platform/gui/timer.h"

namespace jw {

class TKitTimerPool;

// Interval in milliseconds, 1..65535.
using TKitTimerInterval = uint16_t;

using TKitTimerPoolEvent = std::function<void(TPersistent* sender, uint16_t ident, int counter)>;

class TKitTimerItem {
 public:
  // Raises EInvalidOperation "TKitTimerItem: Invalid Owner or List" without
  // a pool or list; the new item joins the end of list.
  TKitTimerItem(TKitTimerPool* owner, uint16_t ident, std::vector<TKitTimerItem*>* list);
  ~TKitTimerItem();
  TKitTimerItem(const TKitTimerItem&) = delete;
  TKitTimerItem& operator=(const TKitTimerItem&) = delete;

  // Calls after which the item disables itself; -1 for no limit.
  int CallLimit() const { return call_limit_; }
  void SetCallLimit(int limit) { call_limit_ = limit; }
  int Counter() const { return counter_; }
  bool Enabled() const { return enabled_; }
  // Applies when the value changes and, to enable, when CallLimit is not 0;
  // resets Counter.
  void SetEnabled(bool enabled);
  uint16_t Ident() const { return ident_; }
  TKitTimerInterval Interval() const { return interval_; }
  // Ignored when unchanged or not a multiple of the pool's MinInterval; 0
  // means MinInterval. Resets Counter.
  void SetInterval(TKitTimerInterval interval);
  int Ticks() const { return ticks_; }
  TKitTimerPool* Owner() const { return owner_; }

  // Called with the pool as sender; without it the pool's OnTimer runs.
  TNotifyEvent Callback;

 private:
  friend class TKitTimerPool;
  void Tick();

  int call_limit_ = -1;
  int counter_ = 0;
  bool enabled_ = true;
  // Removed during a tick; freed when the tick ends.
  bool removed_ = false;
  uint16_t ident_ = 0;
  TKitTimerInterval interval_ = 1000;
  int ticks_;
  std::vector<TKitTimerItem*>* list_;
  TKitTimerPool* owner_;
};

class TKitTimerPool : public TKitComponent {
 public:
  explicit TKitTimerPool(TComponent* owner);
  TKitTimerPool(TComponent* owner, TKitTimerInterval min_interval);
  ~TKitTimerPool() override;

  TKitTimerInterval MinInterval() const { return min_interval_; }
  // Changes only while loading or designing.
  void SetMinInterval(TKitTimerInterval interval);

  // Adds a client; returns its list index. Raises Exception "List index out
  // of bounds (<ident>)" for an identifier in use and "Interval not
  // compatible with MinInterval property!" for an interval that is not a
  // positive multiple of MinInterval.
  int AddItem(uint16_t ident, TKitTimerInterval interval, TNotifyEvent callback);
  // Removes the client; an unknown identifier does nothing. The timer stops
  // with the last client. During a tick the client is disabled and out of
  // reach at once but freed when the tick ends, so a callback may remove
  // its own client.
  void RemoveItem(uint16_t ident);
  // The client's index, or -1.
  int FindItem(uint16_t ident) const;
  // The client, or null.
  TKitTimerItem* GetItem(uint16_t ident) const;
  int Count() const;
  int EnabledCount() const;
  // Stops the timer and frees every client, the last first (during a tick,
  // as RemoveItem does).
  void Clear();

  // Whether the pool's timer runs.
  bool Running() const { return running_; }
  // The number the next tick gets; restarts at 1 with the timer.
  int TickCounter() const { return tick_counter_; }

  // One tick of the pool's timer, as the window timer delivers it. An
  // exception of a client goes to Application->HandleException and the pool
  // ticks on.
  void TimerTick();
  // Tests drive the ticks through TimerTick themselves: the window timer
  // then never starts, though Running still tells whether it would run.
  void SetManualTicks(bool on);

  TKitTimerPoolEvent OnTimer;

 private:
  void Restart(bool enable);
  void PoolTick();
  // Frees the clients removed during the tick that ends.
  void FreeRemoved();

  TKitTimerInterval min_interval_ = 1000;
  bool running_ = false;
  std::unique_ptr<TTimer> timer_;
  int tick_counter_ = 0;
  std::vector<TKitTimerItem*> items_;  // owned
  bool removing_ = false;
  bool in_tick_ = false;
  bool manual_ticks_ = false;
};

}  // namespace jw
