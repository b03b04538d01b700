// TKitApplication, the process-wide object of the component kit: the shared
// timer pool (50 ms ticks) with its 250 numbered slots, the instance lock
// named after the executable and its folder, the log-file name and the high-resolution
// counter's frequency.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "components/kit_base.h"
#include "components/timer_pool.h"
#include "platform/gui/color.h"

namespace jw {

class TInstanceLock;

class TKitApplication : public TComponent {
 public:
  // The first pool identifier; slot s has 0xFD00 + s.
  static constexpr uint16_t kTimerIdentBase = 0xFD00;
  static constexpr int kTimerSlots = 250;
  static constexpr TKitTimerInterval kPoolInterval = 50;

  // Takes the instance lock for the executable's name and folder.
  TKitApplication();
  ~TKitApplication() override;

  // Bit 0 is read by the bitmap drawing routine.
  uint32_t Options() const { return options_; }
  void SetOptions(uint32_t options) { options_ = options; }
  TColor Color() const { return color_; }
  TKitIniCtrl& IniCtrl() { return *ini_ctrl_; }
  // True when another process of the same executable, started from the
  // same folder, held the lock at start.
  bool InstanceRunning() const { return instance_running_; }
  TKitTimerPool& TimerPool() { return *timer_pool_; }
  const std::string& LogName() const { return log_name_; }
  TKitPathPrefix LogPathPrefix() const { return log_path_prefix_; }
  void SetLogPathPrefix(TKitPathPrefix prefix) { log_path_prefix_ = prefix; }
  // Counter ticks per second.
  int64_t PerformanceFrequency() const { return performance_frequency_; }

  // Registers a pool client for interval in the first free slot and returns
  // its identifier, 0xFD01 .. 0xFDFA; 0 when all slots are taken or the pool
  // refused. The pool's own refusals raise (see TKitTimerPool::AddItem).
  uint16_t AddTimer(TKitTimerInterval interval, TNotifyEvent callback);
  void RemoveTimer(uint16_t ident);
  // The client of the identifier, or null.
  TKitTimerItem* GetTimerItem(uint16_t ident) const;

  // A blank name becomes the executable's path with ".LOG"; a name without
  // an extension gets ".LOG". Unless LogPathPrefix is ppFixed, the file part
  // goes into the prefix's folder.
  void SetLogName(const std::string& name);

 private:
  uint32_t options_ = 0x36;
  TColor color_ = clNone;
  std::unique_ptr<TKitIniCtrl> ini_ctrl_;
  bool instance_running_ = false;
  std::unique_ptr<TInstanceLock> instance_lock_;
  std::unique_ptr<TKitTimerPool> timer_pool_;
  std::string log_name_;
  TKitPathPrefix log_path_prefix_ = TKitPathPrefix::ppProgram;
  int64_t performance_frequency_ = 0;
  std::array<bool, kTimerSlots + 1> slot_used_{};  // index 0 unused
};

// The folder of a path prefix, with a trailing '/': the user's settings
// folder for ppWindows, "/etc/" for ppSystem, the executable's folder
// otherwise.
std::string KitPrefixFolder(TKitPathPrefix prefix);

// The kit's application object, made on first use and kept to the end of
// the process.
TKitApplication& KitApplication();

}  // namespace jw
