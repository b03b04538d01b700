#include "platform/gui/timer.h"

#include <QTimer>
#include <limits>

#include "platform/gui/application.h"

namespace jw {

TTimer::TTimer(TComponent* owner) : TComponent(owner), timer_(std::make_unique<QTimer>()) {
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { CallGuarded([this] { Timer(); }); });
  UpdateTimer();
}

TTimer::~TTimer() {
  timer_->stop();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t interval_ms) {
  if (interval_ms == interval_ms_) return;
  interval_ms_ = interval_ms;
  UpdateTimer();
}

void TTimer::SetPrecise(bool precise) {
  if (precise == precise_) return;
  precise_ = precise;
  UpdateTimer();
}

bool TTimer::Running() const {
  return timer_->isActive();
}

int TTimer::RemainingMs() const {
  return timer_->isActive() ? timer_->remainingTime() : -1;
}

void TTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

void TTimer::UpdateTimer() {
  timer_->stop();
  // A Qt timer with interval 0 would fire on every pass of the event loop.
  if (!enabled_ || interval_ms_ == 0) return;
  timer_->setTimerType(precise_ ? Qt::PreciseTimer : Qt::CoarseTimer);
  const auto max_ms = static_cast<uint32_t>(std::numeric_limits<int>::max());
  timer_->start(static_cast<int>(interval_ms_ < max_ms ? interval_ms_ : max_ms));
}

}  // namespace jw
