// TKitHiTimer: calls OnTimer every Interval ms, either from a precise timer
// on the GUI thread or from a worker thread (TKitThreadedTimer) that sleeps
// between ticks and hands each tick to the GUI thread when Synchronize is
// set.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "components/kit_base.h"
#include "platform/gui/timer.h"

namespace jw {

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

class TKitHiTimer;

// The worker of a threaded TKitHiTimer: one owner starts it and stops it by
// signal, wake and join. With Synchronize it hands each tick to the GUI
// thread and waits until the tick has run there; a stop request ends the
// wait too.
class TKitThreadedTimer {
 public:
  TKitThreadedTimer(TKitHiTimer& timer, uint16_t interval_ms);
  // Stops and joins the worker.
  ~TKitThreadedTimer();
  TKitThreadedTimer(const TKitThreadedTimer&) = delete;
  TKitThreadedTimer& operator=(const TKitThreadedTimer&) = delete;

  uint16_t Interval() const { return interval_ms_; }

 private:
  friend class TKitHiTimer;

  void Execute(std::stop_token stop);
  // Runs the tick on the GUI thread and waits until it has run there.
  void SynchronizedTick(const std::stop_token& stop);
  // Runs the tick here; an exception goes to the GUI thread's guard.
  void ThreadTick();
  // The worker that runs on the calling thread, or null.
  static TKitThreadedTimer* Current();

  TKitHiTimer& timer_;
  uint16_t interval_ms_;
  std::jthread thread_;
};

class TKitHiTimer : public TKitComponent {
 public:
  // The shortest period the timers accept, in ms. The longest, 1000000 ms,
  // lies beyond any 16-bit interval, so only the shortest needs a check.
  static constexpr uint16_t kMinPeriod = 1;

  explicit TKitHiTimer(TComponent* owner);
  // interval_ms goes through SetInterval, so 0 becomes 1000.
  TKitHiTimer(TComponent* owner, uint16_t interval_ms);
  // Always stops the timer, whichever kind runs; a tick handed to the GUI
  // thread and not yet run is dropped. A handler on the GUI thread may free
  // its own timer.
  ~TKitHiTimer() override;

  // The writers below may be called from OnTimer on the worker thread too:
  // the worker cannot join itself, so it only stops there, and the GUI
  // thread starts the timer again as the new values say.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  uint16_t Interval() const { return interval_ms_; }
  // A value outside the period range becomes 1000.
  void SetInterval(uint16_t interval_ms);
  // Assign through SetOnTimer, which rebuilds the timer. A handler may
  // replace or clear itself while it runs.
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(TNotifyEvent handler);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool on) { synchronize_ = on; }
  bool UseThread() const { return use_thread_; }
  void SetUseThread(bool on);
  // Stored for the worker thread; threads of a normal process cannot be
  // raised above normal here, so the value does not change the scheduling.
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  void SetThreadPriority(TThreadPriority priority);

  // Whether a timer or worker runs now.
  bool Running() const;
  bool ThreadRunning() const { return worker_ != nullptr; }

 private:
  friend class TKitThreadedTimer;

  // Stops the worker (signal, wake, join) before a field it reads changes;
  // on the worker thread only signals it.
  void StopWorker();
  void Rebuild();
  // The tick on the GUI thread.
  void GuiTick();
  // The worker this timer runs on the calling thread, or null.
  TKitThreadedTimer* WorkerHere() const;

  std::atomic<bool> enabled_ = false;
  uint16_t interval_ms_ = 1000;
  TNotifyEvent on_timer_;
  std::atomic<bool> synchronize_ = true;
  bool use_thread_ = true;
  TThreadPriority thread_priority_ = TThreadPriority::tpNormal;
  std::unique_ptr<TTimer> gui_timer_;
  std::unique_ptr<TKitThreadedTimer> worker_;
  bool in_tick_ = false;
  // Ticks and rebuilds posted by a worker check it, so none runs after a
  // rebuild or the destruction.
  std::shared_ptr<std::atomic<bool>> alive_;
  // Expires with the timer: a handler that frees it ends the tick.
  std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

}  // namespace jw
