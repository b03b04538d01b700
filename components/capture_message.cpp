#include "components/capture_message.h"

namespace jw {

TsfCaptureMessageClass::TsfCaptureMessageClass(TComponent* owner) : TComponent(owner) {}

TsfCaptureMessageClass::~TsfCaptureMessageClass() {
  SetEnabled(false);
  if (window_ != nullptr) RemoveFreeNotification(window_);
}

void TsfCaptureMessageClass::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled)
    Hook();
  else
    Unhook();
}

void TsfCaptureMessageClass::SetWindowHandle(TWinControl* window) {
  if (window_ != nullptr) {
    Unhook();
    RemoveFreeNotification(window_);
  }
  window_ = window;
  if (window_ != nullptr) {
    FreeNotification(window_);
    if (enabled_) Hook();
  }
}

void TsfCaptureMessageClass::Hook() {
  if (window_ == nullptr || hook_id_ != 0) return;
  hook_id_ = window_->HookWindowProc(
      [this](TMessage& message, const TWindowProc& previous) { MessageHook(message, previous); });
  enabled_ = true;
}

void TsfCaptureMessageClass::Unhook() {
  if (window_ != nullptr && hook_id_ != 0) window_->UnhookWindowProc(hook_id_);
  hook_id_ = 0;
  enabled_ = false;
}

void TsfCaptureMessageClass::MessageHook(TMessage& message, const TWindowProc& previous) {
  bool call_default = true;
  if (OnBeforeMessage) OnBeforeMessage(message, call_default);
  if (call_default) previous(message);
  if (OnAfterMessage) OnAfterMessage(message);
}

void TsfCaptureMessageClass::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  // The watched window is going away: its hook chain goes with it.
  if (operation == opRemove && component == window_) {
    window_ = nullptr;
    hook_id_ = 0;
    enabled_ = false;
  }
}

}  // namespace jw
