// TTimer: a component that calls OnTimer every Interval ms on the GUI thread,
// over a Qt timer with the host's rules: interval 0 means not running,
// setting the interval restarts a running timer, and setting Enabled to its
// current value does nothing.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/rtl/component.h"
#include "platform/rtl/exceptions.h"

class QTimer;

namespace jw {

// No timer (or other system resource) could be had.
class EOutOfResources : public Exception {
  using Exception::Exception;
};

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Milliseconds between calls, default 1000.
  uint32_t Interval() const { return interval_ms_; }
  void SetInterval(uint32_t interval_ms);
  // A precise timer keeps its period to the millisecond; a coarse one may
  // drift by a few percent to save wake-ups.
  bool Precise() const { return precise_; }
  void SetPrecise(bool precise);

  // Whether the Qt timer runs: Enabled with a non-zero Interval.
  bool Running() const;
  // Milliseconds until the next call, or -1 when not running.
  int RemainingMs() const;

  TNotifyEvent OnTimer;

 protected:
  // Called on every period; the base calls OnTimer when it is assigned.
  virtual void Timer();

 private:
  void UpdateTimer();

  std::unique_ptr<QTimer> timer_;
  bool enabled_ = true;
  uint32_t interval_ms_ = 1000;
  bool precise_ = false;
};

}  // namespace jw
