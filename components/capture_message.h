// TsfCaptureMessageClass: watches every message of one window through the
// window's hook chain, may keep the window's own handling from running
// (OnBeforeMessage) and reports each message after it was handled
// (OnAfterMessage).
#pragma once

#include <functional>

#include "platform/gui/controls.h"
#include "platform/gui/messages.h"
#include "platform/rtl/component.h"

namespace jw {

class TsfCaptureMessageClass : public TComponent {
 public:
  using TAfterMessageEvent = std::function<void(TMessage& message)>;
  using TBeforeMessageEvent = std::function<void(TMessage& message, bool& call_default)>;

  explicit TsfCaptureMessageClass(TComponent* owner);
  ~TsfCaptureMessageClass() override;

  TAfterMessageEvent OnAfterMessage;
  TBeforeMessageEvent OnBeforeMessage;

  bool Enabled() const { return enabled_; }
  // Hooks the window when switched on, unhooks it when switched off.
  void SetEnabled(bool enabled);
  TWinControl* WindowHandle() const { return window_; }
  // Unhooks the old window; hooks the new one when enabled.
  void SetWindowHandle(TWinControl* window);

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  // Runs OnBeforeMessage, the window's own handling unless it was refused,
  // then OnAfterMessage.
  virtual void MessageHook(TMessage& message, const TWindowProc& previous);

 private:
  void Hook();
  void Unhook();

  bool enabled_ = false;
  TWinControl* window_ = nullptr;
  int hook_id_ = 0;  // 0 while not hooked
};

}  // namespace jw
