// The roots of the TKit components: a component and a persistent object with
// a change event and an update lock, the component that hooks its owner
// form's window procedure (the tray icon derives from it), and the settings
// target TKitIniCtrl.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gui/forms.h"
#include "platform/gui/messages.h"
#include "platform/rtl/component.h"

namespace jw {

// Design-time text of a component; it has no effect while the program runs.
using TKitAboutVar = std::string;

class TKitCustomComponent : public TComponent {
 public:
  explicit TKitCustomComponent(TComponent* owner) : TComponent(owner) {}

  const TKitAboutVar& About() const { return about_; }
  void SetAbout(const TKitAboutVar& about) { about_ = about; }

  // Calls OnChange unless an update is under way.
  virtual void Change();
  virtual void GetChange() { Change(); }
  void BeginUpdate() { updating_ = true; }
  // Ends the update; do_change reports the change made during it.
  void EndUpdate(bool do_change);
  bool Updating() const { return updating_; }

  TNotifyEvent OnChange;

 private:
  TKitAboutVar about_;
  bool updating_ = false;
};

class TKitComponent : public TKitCustomComponent {
 public:
  using TKitCustomComponent::TKitCustomComponent;
};

class TKitObject : public TPersistent {
 public:
  TKitObject() = default;

  virtual void Change();
  void BeginUpdate() { updating_ = true; }
  void EndUpdate(bool do_change);

  TNotifyEvent OnChange;

 private:
  bool updating_ = false;
};

// A component that puts its own window procedure in front of its owner
// form's. It hooks the window in Loaded (or when its hook is enabled after
// loading) and restores the procedure when it is destroyed.
class TKitWndProcComponent : public TKitComponent {
 public:
  explicit TKitWndProcComponent(TComponent* owner);
  ~TKitWndProcComponent() override;

  bool HookEnabled() const { return hook_enabled_; }
  // Switching on hooks the window at once; switching off leaves it hooked
  // until the component is destroyed, since the base UnhookWindow does
  // nothing.
  void SetHookEnabled(bool enabled);
  bool HookMainWindow() const { return hook_main_window_; }
  // Changes only while designing or loading.
  void SetHookMainWindow(bool on);
  bool WindowDestroyed() const { return window_destroyed_; }
  bool Hooked() const { return hook_id_ != 0; }

  // The owner component, as a form when it is one.
  TComponent* OwnerForm() const { return Owner(); }
  // The window to hook: none without a windowed owner.
  TWinControl* TargetHandle() const;

  void Loaded() override;

 protected:
  // Owner kinds.
  static constexpr int kOwnerNormal = 0;
  static constexpr int kOwnerMDIChild = 1;
  static constexpr int kOwnerMDIForm = 2;

  // A message of the application's main window; true marks it handled.
  virtual bool MainWindowHook(TMessage& message);
  virtual void HookWindow();
  virtual void UnhookWindow() {}
  // The replacement window procedure. The base passes the message on to the
  // procedure it replaced, until the window has been destroyed.
  virtual void WndProc(TMessage& message);

  int OwnerKind() const { return owner_kind_; }

 private:
  void InstallHook();
  void RemoveHook();

  bool hook_enabled_ = true;
  bool hook_main_window_ = false;
  bool main_hook_installed_ = false;
  int owner_kind_ = kOwnerNormal;
  TWinControl* target_ = nullptr;
  int hook_id_ = 0;
  TWinControl* main_target_ = nullptr;
  int main_hook_id_ = 0;
  const TWindowProc* previous_ = nullptr;  // the replaced procedure, during a call
  bool window_destroyed_ = false;
};

enum class TKitPathPrefix { ppWindows, ppSystem, ppProgram, ppFixed };
enum class TKitRegRootKey {
  rpClassesRoot,
  rpCurrentUser,
  rpLocalMachine,
  rpUsers,
  rpCurrentConfig,
  rpDynData
};
enum class TKitIniTarget { itIniFile, itRegistry, itAuto };

// Where settings are kept.
class TKitIniCtrl : public TKitComponent {
 public:
  explicit TKitIniCtrl(TComponent* owner) : TKitComponent(owner) {}

  // With AlphaCounter entries are counted by letters, so at most 26 of them.
  bool AlphaCounter() const { return alpha_counter_; }
  void SetAlphaCounter(bool on);
  bool Common() const { return common_; }
  void SetCommon(bool on) { common_ = on; }
  const std::string& IniFile() const { return ini_file_; }
  // A name without an extension gets ".INI".
  void SetIniFile(const std::string& name);
  TKitPathPrefix IniPrefix() const { return ini_prefix_; }
  void SetIniPrefix(TKitPathPrefix prefix) { ini_prefix_ = prefix; }
  uint8_t MaxEntries() const { return max_entries_; }
  void SetMaxEntries(uint8_t count);
  bool NetUser() const { return net_user_; }
  // Switching on sets User to the logged-on user's name.
  void SetNetUser(bool on);
  const std::string& User() const { return user_; }
  void SetUser(const std::string& user) { user_ = user; }
  const std::string& RegPath() const { return reg_path_; }
  void SetRegPath(const std::string& path) { reg_path_ = path; }
  TKitRegRootKey RegRoot() const { return reg_root_; }
  void SetRegRoot(TKitRegRootKey root) { reg_root_ = root; }
  TKitIniTarget Target() const { return target_; }
  void SetTarget(TKitIniTarget target);
  // itRegistry for itAuto, else Target.
  TKitIniTarget EffectiveTarget() const { return effective_target_; }

 private:
  bool alpha_counter_ = false;
  bool common_ = true;
  std::string ini_file_;
  TKitPathPrefix ini_prefix_ = TKitPathPrefix::ppWindows;
  uint8_t max_entries_ = 16;
  bool net_user_ = false;
  std::string user_;
  std::string reg_path_;
  TKitRegRootKey reg_root_ = TKitRegRootKey::rpCurrentUser;
  TKitIniTarget target_ = TKitIniTarget::itAuto;
  TKitIniTarget effective_target_ = TKitIniTarget::itRegistry;
};

}  // namespace jw
