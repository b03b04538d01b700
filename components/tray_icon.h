// TKitTrayIcon: one icon with a tip in the notification area. It turns the
// icon's mouse messages into component events, shows its popup menu on a
// right press, hides its owner form instead of minimising (and, with
// NoClose, instead of closing) it, and can animate the icon through the
// images of an image list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/hires_timer.h"
#include "components/kit_base.h"
#include "components/kit_image_list.h"
#include "components/timer_pool.h"
#include "platform/gui/bitmap.h"
#include "platform/gui/menus.h"
#include "platform/gui/tray.h"

namespace jw {

enum class TKitTimerMode { tmGlobalTimer, tmHiTimer, tmThreaded };

class TKitTrayIcon : public TKitWndProcComponent {
 public:
  // The message the tray sends for the icon; its LParam is the mouse message.
  static constexpr uint32_t kCallbackMessage = 0x465;

  explicit TKitTrayIcon(TComponent* owner);
  ~TKitTrayIcon() override;

  bool Active() const { return active_; }
  void SetActive(bool active);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  TIcon& Icon() { return *icon_; }
  // Takes a copy of icon and shows it when active.
  void SetIcon(TIcon* icon);
  bool NoClose() const { return no_close_; }
  void SetNoClose(bool on) { no_close_ = on; }
  TPopupMenu* PopUpMenu() const { return popup_menu_; }
  void SetPopUpMenu(TPopupMenu* menu);
  TKitCustomImageList* ImageList() const { return image_list_; }
  void SetImageList(TKitCustomImageList* list);
  TKitTimerMode TimerMode() const { return timer_mode_; }
  void SetTimerMode(TKitTimerMode mode);
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  void SetThreadPriority(TThreadPriority priority) { thread_priority_ = priority; }
  // Milliseconds between animation frames; the pool's mode rounds it up to
  // a multiple of 50 when the animation starts.
  TKitTimerInterval Interval() const { return interval_; }
  void SetInterval(TKitTimerInterval interval) { interval_ = interval; }
  bool Animated() const { return animated_; }
  void SetAnimated(bool animated);
  int FrameIndex() const { return frame_index_; }

  // The icon's window procedure: kCallbackMessage with the mouse message in
  // LParam becomes the events; any other message is ignored.
  void TrayCallback(const TMessage& message);
  // One animation step: the next frame becomes the icon.
  void AnimationTick();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnPopUp;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 protected:
  void WndProc(TMessage& message) override;

 private:
  TNotifyIconData Record() const;
  void SendTrayMessage(uint32_t message);
  void SendTrayMessage(uint32_t message, const TNotifyIconData& data);
  void ShowPopup();
  void HideOwnerForm();
  void CreateTimer();
  void StartTimer(bool start);
  void FreeTimer();
  bool Designing() const { return ComponentState().Contains(csDesigning); }

  bool active_ = true;
  std::string hint_;
  std::unique_ptr<TIcon> icon_;
  bool no_close_ = false;
  TPopupMenu* popup_menu_ = nullptr;
  TKitCustomImageList* image_list_ = nullptr;
  TKitTimerMode timer_mode_ = TKitTimerMode::tmGlobalTimer;
  TThreadPriority thread_priority_ = TThreadPriority::tpNormal;
  TKitTimerInterval interval_ = 200;
  bool animated_ = false;

  TPoint cursor_pos_;
  std::unique_ptr<TrayBackend> backend_;
  int list_index_ = 0;
  std::unique_ptr<TKitChangeLink> change_link_;
  uint16_t pool_ident_ = 0;
  TKitHiTimer* hi_timer_ = nullptr;  // owned as a component
  int frame_index_ = 0;
};

}  // namespace jw
