#include "components/hires_timer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/gui/application.h"

namespace jw {

// -------------------------------------------------------- TKitThreadedTimer

namespace {

thread_local TKitThreadedTimer* current_worker = nullptr;

// A tick handed to the GUI thread; the worker waits until it is done.
struct TickHandoff {
  std::mutex mutex;
  std::condition_variable_any ran;
  bool done = false;
};

}  // namespace

TKitThreadedTimer::TKitThreadedTimer(TKitHiTimer& timer, uint16_t interval_ms)
    : timer_(timer),
      interval_ms_(interval_ms),
      thread_([this](std::stop_token stop) { Execute(stop); }) {}

TKitThreadedTimer::~TKitThreadedTimer() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

TKitThreadedTimer* TKitThreadedTimer::Current() {
  return current_worker;
}

void TKitThreadedTimer::Execute(std::stop_token stop) {
  current_worker = this;
  std::mutex mutex;
  std::condition_variable_any wake;
  auto stopping = [&] {
    return stop.stop_requested() || (Application != nullptr && Application->Terminated());
  };
  while (!stopping()) {
    {
      // Sleeps the interval; a stop request wakes it early.
      std::unique_lock lock(mutex);
      wake.wait_for(lock, stop, std::chrono::milliseconds(interval_ms_), [] { return false; });
    }
    if (stopping()) break;
    if (!timer_.enabled_) continue;
    if (timer_.synchronize_) {
      SynchronizedTick(stop);
    } else {
      ThreadTick();
    }
  }
  current_worker = nullptr;
}

void TKitThreadedTimer::SynchronizedTick(const std::stop_token& stop) {
  // A tick that arrives after the timer was rebuilt or destroyed is
  // dropped; the handoff outlives a worker that stopped waiting.
  auto handoff = std::make_shared<TickHandoff>();
  std::shared_ptr<std::atomic<bool>> alive = timer_.alive_;
  TKitHiTimer* timer = &timer_;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [handoff, alive, timer] {
        if (*alive) timer->GuiTick();
        {
          const std::lock_guard lock(handoff->mutex);
          handoff->done = true;
        }
        handoff->ran.notify_all();
      },
      Qt::QueuedConnection);
  // Waiting keeps ticks from piling up behind a slow handler.
  std::unique_lock lock(handoff->mutex);
  handoff->ran.wait(lock, stop, [&] { return handoff->done; });
}

void TKitThreadedTimer::ThreadTick() {
  // A copy: the handler may replace or clear itself.
  const TNotifyEvent handler = timer_.on_timer_;
  if (!handler) return;
  try {
    handler(&timer_);
  } catch (...) {
    // The error is shown from the GUI thread, where the guard runs.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [error = std::current_exception()] { CallGuarded([&] { std::rethrow_exception(error); }); },
        Qt::QueuedConnection);
  }
}

// -------------------------------------------------------------- TKitHiTimer

TKitHiTimer::TKitHiTimer(TComponent* owner) : TKitHiTimer(owner, 1000) {}

TKitHiTimer::TKitHiTimer(TComponent* owner, uint16_t interval_ms) : TKitComponent(owner) {
  SetInterval(interval_ms);
}

TKitHiTimer::~TKitHiTimer() {
  StopWorker();
  on_timer_ = nullptr;
  enabled_ = false;
  gui_timer_.reset();
}

void TKitHiTimer::SetEnabled(bool enabled) {
  StopWorker();
  enabled_ = enabled;
  Rebuild();
}

void TKitHiTimer::SetInterval(uint16_t interval_ms) {
  if (interval_ms == interval_ms_) return;
  StopWorker();
  interval_ms_ = interval_ms < kMinPeriod ? 1000 : interval_ms;
  Rebuild();
}

void TKitHiTimer::SetOnTimer(TNotifyEvent handler) {
  StopWorker();
  on_timer_ = std::move(handler);
  Rebuild();
}

void TKitHiTimer::SetUseThread(bool on) {
  StopWorker();
  use_thread_ = on;
  Rebuild();
}

void TKitHiTimer::SetThreadPriority(TThreadPriority priority) {
  thread_priority_ = priority;
  if (use_thread_) Rebuild();
}

bool TKitHiTimer::Running() const {
  return worker_ != nullptr || (gui_timer_ != nullptr && gui_timer_->Running());
}

TKitThreadedTimer* TKitHiTimer::WorkerHere() const {
  TKitThreadedTimer* worker = TKitThreadedTimer::Current();
  return worker != nullptr && &worker->timer_ == this ? worker : nullptr;
}

void TKitHiTimer::StopWorker() {
  if (TKitThreadedTimer* worker = WorkerHere()) {
    worker->thread_.request_stop();
    return;
  }
  if (alive_) *alive_ = false;
  worker_.reset();
}

void TKitHiTimer::Rebuild() {
  if (ComponentState().Contains(csDesigning)) return;
  if (TKitThreadedTimer* worker = WorkerHere()) {
    // A thread cannot join itself: this worker ends, and the GUI thread
    // joins it and starts what the new values ask for.
    worker->thread_.request_stop();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, alive = alive_] {
          if (*alive) Rebuild();
        },
        Qt::QueuedConnection);
    return;
  }
  StopWorker();
  if (gui_timer_) gui_timer_->SetEnabled(false);
  if (ComponentState().Contains(csDestroying)) return;
  alive_ = std::make_shared<std::atomic<bool>>(true);
  if (use_thread_) {
    gui_timer_.reset();
    if (enabled_ && on_timer_) worker_ = std::make_unique<TKitThreadedTimer>(*this, interval_ms_);
    return;
  }
  if (!gui_timer_) {
    gui_timer_ = std::make_unique<TTimer>(nullptr);
    gui_timer_->SetEnabled(false);
    gui_timer_->SetPrecise(true);
    gui_timer_->OnTimer = [this](TPersistent*) { GuiTick(); };
  }
  if (interval_ms_ > 0 && enabled_ && on_timer_) {
    gui_timer_->SetInterval(interval_ms_);
    in_tick_ = false;
    gui_timer_->SetEnabled(true);
  }
}

void TKitHiTimer::GuiTick() {
  if (in_tick_ || !enabled_ || !on_timer_) return;
  in_tick_ = true;
  const std::weak_ptr<int> life = life_;
  // A copy: the handler may replace or clear itself.
  const TNotifyEvent handler = on_timer_;
  CallGuarded([&] { handler(this); });
  if (!life.expired()) in_tick_ = false;
}

}  // namespace jw
