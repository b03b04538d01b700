#include "components/timer_pool.h"

#include <algorithm>
#include <limits>

#include "platform/gui/application.h"
#include "platform/rtl/format.h"

namespace jw {

// ------------------------------------------------------------ TKitTimerItem

TKitTimerItem::TKitTimerItem(TKitTimerPool* owner, uint16_t ident,
                             std::vector<TKitTimerItem*>* list)
    : ident_(ident), list_(list), owner_(owner) {
  if (owner == nullptr || list == nullptr) {
    throw EInvalidOperation("TKitTimerItem: Invalid Owner or List");
  }
  ticks_ = std::max(1, 1000 / owner->MinInterval());
  list->push_back(this);
}

TKitTimerItem::~TKitTimerItem() {
  enabled_ = false;
  Callback = nullptr;
  std::erase(*list_, this);
}

void TKitTimerItem::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (enabled && call_limit_ == 0) return;
  enabled_ = enabled;
  counter_ = 0;
}

void TKitTimerItem::SetInterval(TKitTimerInterval interval) {
  const TKitTimerInterval min_interval = owner_->MinInterval();
  if (interval == interval_ || interval % min_interval != 0) return;
  if (interval == 0) interval = min_interval;
  ticks_ = interval / min_interval;
  interval_ = interval;
  counter_ = 0;
}

void TKitTimerItem::Tick() {
  if (!enabled_) return;
  counter_ = counter_ == std::numeric_limits<int>::max() ? 0 : counter_ + 1;
  if (counter_ == call_limit_) enabled_ = false;
  if (Callback) {
    Callback(owner_);
  } else if (owner_->OnTimer) {
    owner_->OnTimer(owner_, ident_, counter_);
  }
}

// ------------------------------------------------------------ TKitTimerPool

TKitTimerPool::TKitTimerPool(TComponent* owner) : TKitComponent(owner) {}

TKitTimerPool::TKitTimerPool(TComponent* owner, TKitTimerInterval min_interval)
    : TKitComponent(owner) {
  if (min_interval > 0) min_interval_ = min_interval;
}

TKitTimerPool::~TKitTimerPool() {
  Clear();
}

void TKitTimerPool::SetMinInterval(TKitTimerInterval interval) {
  const TComponentState state = ComponentState();
  if (interval == 0 || !(state.Contains(csLoading) || state.Contains(csDesigning))) return;
  min_interval_ = interval;
}

int TKitTimerPool::AddItem(uint16_t ident, TKitTimerInterval interval, TNotifyEvent callback) {
  if (!items_.empty() && FindItem(ident) >= 0) {
    throw Exception(Format("List index out of bounds (%d)", static_cast<int>(ident)));
  }
  if (interval % min_interval_ != 0 || interval < min_interval_) {
    throw Exception("Interval not compatible with MinInterval property!");
  }
  auto* item = new TKitTimerItem(this, ident, &items_);
  item->SetInterval(interval);
  item->Callback = std::move(callback);
  Restart(true);
  return static_cast<int>(items_.size()) - 1;
}

void TKitTimerPool::RemoveItem(uint16_t ident) {
  removing_ = true;
  struct Clearing {
    bool& flag;
    ~Clearing() { flag = false; }
  } clearing{removing_};
  const int index = FindItem(ident);
  if (index < 0) return;
  TKitTimerItem* item = items_[static_cast<size_t>(index)];
  item->SetEnabled(false);
  if (in_tick_) {
    // Its callback may be the one running now.
    item->removed_ = true;
    return;
  }
  item->Callback = nullptr;
  delete item;
  if (items_.empty()) Restart(false);
}

int TKitTimerPool::FindItem(uint16_t ident) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i]->Ident() == ident && !items_[i]->removed_) return static_cast<int>(i);
  }
  return -1;
}

int TKitTimerPool::Count() const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(),
                                        [](const TKitTimerItem* i) { return !i->removed_; }));
}

TKitTimerItem* TKitTimerPool::GetItem(uint16_t ident) const {
  const int index = FindItem(ident);
  return index < 0 ? nullptr : items_[static_cast<size_t>(index)];
}

int TKitTimerPool::EnabledCount() const {
  return static_cast<int>(std::count_if(items_.begin(), items_.end(),
                                        [](const TKitTimerItem* i) { return i->Enabled(); }));
}

void TKitTimerPool::Clear() {
  Restart(false);
  if (in_tick_) {
    for (TKitTimerItem* item : items_) {
      item->SetEnabled(false);
      item->removed_ = true;
    }
    return;
  }
  while (!items_.empty()) delete items_.back();
}

void TKitTimerPool::FreeRemoved() {
  const size_t before = items_.size();
  for (size_t i = items_.size(); i-- > 0;) {
    if (items_[i]->removed_) delete items_[i];
  }
  if (items_.size() != before && items_.empty()) Restart(false);
}

void TKitTimerPool::SetManualTicks(bool on) {
  manual_ticks_ = on;
  if (on && timer_) timer_->SetEnabled(false);
  if (!on && running_) Restart(true);
}

void TKitTimerPool::Restart(bool enable) {
  if (ComponentState().Contains(csDesigning)) return;
  if (!timer_) {
    timer_ = std::make_unique<TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetPrecise(true);
    timer_->OnTimer = [this](TPersistent*) { TimerTick(); };
  }
  running_ = false;
  timer_->SetEnabled(false);
  if (enable && EnabledCount() > 0) {
    timer_->SetInterval(min_interval_);
    if (!manual_ticks_) timer_->SetEnabled(true);
    tick_counter_ = 1;
    running_ = true;
  }
}

void TKitTimerPool::TimerTick() {
  if (in_tick_) return;
  in_tick_ = true;
  // The mark is cleared however a client's handler ends: one failing
  // client must not stop the pool for good.
  try {
    PoolTick();
  } catch (...) {
    in_tick_ = false;
    FreeRemoved();
    if (Application != nullptr) {
      Application->HandleException();
    } else {
      throw;
    }
    return;
  }
  in_tick_ = false;
  FreeRemoved();
}

void TKitTimerPool::PoolTick() {
  if (removing_) return;
  for (size_t i = 0; i < items_.size(); ++i) {
    TKitTimerItem* item = items_[i];
    if (item->Enabled() && tick_counter_ % item->Ticks() == 0) item->Tick();
  }
  tick_counter_ = tick_counter_ == std::numeric_limits<int>::max() ? 0 : tick_counter_ + 1;
}

}  // namespace jw
