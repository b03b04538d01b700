#include "components/kit_application.h"

#include <cstdlib>

#include "components/kit_folders.h"
#include "platform/os/instance_lock.h"
#include "platform/os/performance_counter.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/strings.h"

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

namespace {

// The executable's name and a hash of its folder: copies of the program in
// two folders work on two sets of files and run side by side, while a second
// start from the same folder finds the first one.
std::string InstanceName() {
  const std::string path = ExecutablePath();
  // 64-bit FNV-1a.
  uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : ExtractFilePath(path)) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return ExtractFileName(path) + "." + IntToHex(static_cast<int64_t>(hash), 16);
}

}  // namespace

TKitApplication::TKitApplication()
    : TComponent(nullptr), ini_ctrl_(std::make_unique<TKitIniCtrl>(nullptr)) {
  instance_lock_ = std::make_unique<TInstanceLock>(InstanceName());
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
