#include "components/kit_application.h"

#include <cstdlib>

#include "components/kit_folders.h"
#include "platform/os/instance_lock.h"
#include "platform/os/performance_counter.h"
#include "platform/rtl/file_names.h"

namespace jw {

std::string KitPrefixFolder(TKitPathPrefix prefix) {
  switch (prefix) {
    case TKitPathPrefix::ppWindows: {
      if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
        return IncludeTrailingPathDelimiter(config);
      }
      const char* home = std::getenv("HOME");
      return IncludeTrailingPathDelimiter(std::string(home != nullptr ? home : "") + "/.config");
    }
    case TKitPathPrefix::ppSystem:
      return "/etc/";
    default:
      return ExecutableFolder();
  }
}

TKitApplication::TKitApplication()
    : TComponent(nullptr), ini_ctrl_(std::make_unique<TKitIniCtrl>(nullptr)) {
  instance_lock_ = std::make_unique<TInstanceLock>(ExtractFileName(ExecutablePath()));
  instance_running_ = instance_lock_->InstanceRunning();
  timer_pool_ = std::make_unique<TKitTimerPool>(nullptr, kPoolInterval);
  SetLogName("");
  performance_frequency_ = QueryPerformanceFrequency();
}

TKitApplication::~TKitApplication() = default;

uint16_t TKitApplication::AddTimer(TKitTimerInterval interval, TNotifyEvent callback) {
  int slot = 1;
  while (slot <= kTimerSlots && slot_used_[static_cast<size_t>(slot)]) ++slot;
  if (slot > kTimerSlots) return 0;
  const auto ident = static_cast<uint16_t>(kTimerIdentBase + slot);
  if (timer_pool_->AddItem(ident, interval, std::move(callback)) == -1) return 0;
  slot_used_[static_cast<size_t>(slot)] = true;
  return ident;
}

void TKitApplication::RemoveTimer(uint16_t ident) {
  if (ident <= kTimerIdentBase) return;
  timer_pool_->RemoveItem(ident);
  const int slot = ident - kTimerIdentBase;
  if (slot <= kTimerSlots) slot_used_[static_cast<size_t>(slot)] = false;
}

TKitTimerItem* TKitApplication::GetTimerItem(uint16_t ident) const {
  return timer_pool_->GetItem(ident);
}

void TKitApplication::SetLogName(const std::string& name) {
  std::string log = name;
  if (IsBlank(log)) {
    log = ChangeFileExt(ExecutablePath(), ".LOG");
  } else if (IsBlank(ExtractFileExt(log))) {
    log += ".LOG";
  }
  if (log_path_prefix_ != TKitPathPrefix::ppFixed) {
    log = KitPrefixFolder(log_path_prefix_) + ExtractFileName(log);
  }
  log_name_ = log;
}

TKitApplication& KitApplication() {
  static TKitApplication* const application = new TKitApplication();
  return *application;
}

}  // namespace jw
