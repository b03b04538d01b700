// Menus: TMenuItem (caption, short cut, check mark, sub-items, separator)
// and TPopupMenu, shown as a Qt menu built from the items when it pops up.
// Short cuts keep the original encoding: a virtual key code plus 0x2000
// Shift, 0x4000 Ctrl, 0x8000 Alt (Ctrl+F is 16454).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/gui_types.h"
#include "platform/rtl/component.h"

class QMenu;

namespace jw {

using TShortCut = uint16_t;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// key is a virtual key code: 'A'..'Z' and '0'..'9' stand for themselves.
TShortCut ShortCut(uint16_t key, TShiftState shift);
// The short cut of a Qt key press, or 0 when it has none.
TShortCut ShortCutFromQtKey(int qt_key, int qt_modifiers);

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  // "-" makes the item a separator.
  void SetCaption(const std::string& caption) { caption_ = caption; }
  bool IsLine() const { return caption_ == "-"; }
  TShortCut ShortCut() const { return short_cut_; }
  void SetShortCut(TShortCut short_cut) { short_cut_ = short_cut; }
  bool Checked() const { return checked_; }
  void SetChecked(bool checked) { checked_ = checked; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint) { hint_ = hint; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const;
  TMenuItem* Parent() const { return parent_; }
  // Appends item as a sub-item; the item keeps its owner.
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  int IndexOf(const TMenuItem* item) const;

  // Runs OnClick when the item is enabled.
  virtual void Click();
  TNotifyEvent OnClick;

  // The enabled, visible item with this short cut here or below, or null.
  TMenuItem* FindShortCut(TShortCut short_cut);

 private:
  std::string caption_;
  TShortCut short_cut_ = 0;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  std::string hint_;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  // The root item whose sub-items are the menu.
  TMenuItem& Items() { return *items_; }
  bool AutoPopup() const { return auto_popup_; }
  void SetAutoPopup(bool on) { auto_popup_ = on; }
  // The control the menu was last shown for.
  TComponent* PopupComponent() const { return popup_component_; }
  void SetPopupComponent(TComponent* component) { popup_component_ = component; }

  // Shows the menu at the screen point and runs the chosen item's OnClick
  // after the menu has closed.
  virtual void Popup(int x, int y);
  // Runs the item with this short cut; true when one ran.
  bool IsShortCut(TShortCut short_cut);
  // A Qt menu mirroring the items; choosing an entry clicks its item. Used
  // by Popup and by the tray icon.
  std::unique_ptr<QMenu> BuildQMenu();

  TNotifyEvent OnPopup;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::unique_ptr<TMenuItem> items_;
  bool auto_popup_ = true;
  TComponent* popup_component_ = nullptr;
};

}  // namespace jw
