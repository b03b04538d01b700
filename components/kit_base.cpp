#include "components/kit_base.h"

#include "components/kit_folders.h"
#include "platform/gui/application.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

constexpr uint8_t kAlphaMaxEntries = 26;

}  // namespace

// ------------------------------------------------------ TKitCustomComponent

void TKitCustomComponent::Change() {
  if (!updating_ && OnChange) OnChange(this);
}

void TKitCustomComponent::EndUpdate(bool do_change) {
  updating_ = false;
  if (do_change) Change();
}

// --------------------------------------------------------------- TKitObject

void TKitObject::Change() {
  if (!updating_ && OnChange) OnChange(this);
}

void TKitObject::EndUpdate(bool do_change) {
  updating_ = false;
  if (do_change) Change();
}

// ----------------------------------------------------- TKitWndProcComponent

TKitWndProcComponent::TKitWndProcComponent(TComponent* owner) : TKitComponent(owner) {
  if (auto* form = dynamic_cast<TCustomForm*>(owner)) {
    if (form->FormStyle() == TFormStyle::fsMDIChild) owner_kind_ = kOwnerMDIChild;
    if (form->FormStyle() == TFormStyle::fsMDIForm) owner_kind_ = kOwnerMDIForm;
  }
}

TKitWndProcComponent::~TKitWndProcComponent() {
  RemoveHook();
}

void TKitWndProcComponent::SetHookEnabled(bool enabled) {
  if (enabled == hook_enabled_) return;
  hook_enabled_ = enabled;
  if (ComponentState().Contains(csDesigning)) return;
  if (enabled) {
    HookWindow();
  } else {
    UnhookWindow();
  }
}

void TKitWndProcComponent::SetHookMainWindow(bool on) {
  const TComponentState state = ComponentState();
  if (state.Contains(csDesigning) || state.Contains(csLoading)) hook_main_window_ = on;
}

TWinControl* TKitWndProcComponent::TargetHandle() const {
  // Our forms have no separate MDI client window: the form itself is hooked.
  return dynamic_cast<TWinControl*>(Owner());
}

void TKitWndProcComponent::Loaded() {
  TKitComponent::Loaded();
  if (!ComponentState().Contains(csDesigning)) HookWindow();
}

bool TKitWndProcComponent::MainWindowHook(TMessage&) {
  return true;
}

void TKitWndProcComponent::HookWindow() {
  if (hook_enabled_ && hook_id_ == 0) InstallHook();
}

void TKitWndProcComponent::InstallHook() {
  TWinControl* target = TargetHandle();
  if (target == nullptr || hook_id_ != 0 || ComponentState().Contains(csDesigning)) return;
  window_destroyed_ = false;
  try {
    if (hook_main_window_ && Application != nullptr && Application->MainForm() != nullptr) {
      main_target_ = Application->MainForm();
      main_hook_id_ =
          main_target_->HookWindowProc([this](TMessage& message, const TWindowProc& previous) {
            if (!MainWindowHook(message)) previous(message);
          });
      main_hook_installed_ = true;
    }
    target_ = target;
    hook_id_ = target->HookWindowProc([this](TMessage& message, const TWindowProc& previous) {
      const TWindowProc* outer = previous_;
      previous_ = &previous;
      try {
        WndProc(message);
      } catch (...) {
        previous_ = outer;
        throw;
      }
      previous_ = outer;
    });
  } catch (const Exception&) {
    RemoveHook();
  }
}

void TKitWndProcComponent::RemoveHook() {
  if (hook_id_ != 0 && target_ != nullptr) target_->UnhookWindowProc(hook_id_);
  hook_id_ = 0;
  target_ = nullptr;
  if (main_hook_installed_ && main_target_ != nullptr)
    main_target_->UnhookWindowProc(main_hook_id_);
  main_hook_installed_ = false;
  main_target_ = nullptr;
  main_hook_id_ = 0;
  window_destroyed_ = false;
}

void TKitWndProcComponent::WndProc(TMessage& message) {
  if (window_destroyed_) return;
  if (message.Msg == WM_DESTROY) {
    window_destroyed_ = true;
    if (owner_kind_ == kOwnerMDIChild) {
      RemoveHook();
      return;
    }
  }
  if (previous_ != nullptr) (*previous_)(message);
}

// -------------------------------------------------------------- TKitIniCtrl

void TKitIniCtrl::SetAlphaCounter(bool on) {
  if (on == alpha_counter_) return;
  alpha_counter_ = on;
  if (on && max_entries_ > kAlphaMaxEntries) max_entries_ = kAlphaMaxEntries;
}

void TKitIniCtrl::SetMaxEntries(uint8_t count) {
  if (count == max_entries_) return;
  if (alpha_counter_ && count > kAlphaMaxEntries) return;
  max_entries_ = count;
}

void TKitIniCtrl::SetIniFile(const std::string& name) {
  ini_file_ = IsBlank(ExtractFileExt(name)) ? ChangeFileExt(name, ".INI") : name;
}

void TKitIniCtrl::SetNetUser(bool on) {
  if (on == net_user_) return;
  net_user_ = on;
  if (on) user_ = UserName();
}

void TKitIniCtrl::SetTarget(TKitIniTarget target) {
  target_ = target;
  effective_target_ = target == TKitIniTarget::itAuto ? TKitIniTarget::itRegistry : target;
}

}  // namespace jw
