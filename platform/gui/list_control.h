// TCustomListControl: the base of the controls that show a list of text
// items (TListBox, TComboBox). It holds the items and tells the control of
// every change, so its widget stays in step with them.
#pragma once

#include <QStringList>

#include "platform/gui/controls.h"
#include "platform/rtl/string_list.h"

namespace jw {

class TCustomListControl : public TWinControl {
 public:
  explicit TCustomListControl(TComponent* owner);

  TStringList& Items() { return items_; }
  const TStringList& Items() const { return items_; }

 protected:
  // Called after each change of the items.
  virtual void ItemsChanged() = 0;
  // The items as the widget shows them.
  QStringList ItemTexts() const;

 private:
  TStringList items_;
};

}  // namespace jw
