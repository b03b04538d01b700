// TComboBox: an edit with a drop-down list over a Qt editable combo box. The
// text is free; choosing an item of the list puts the item's text in the
// edit.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/list_control.h"

namespace jw {

class TComboBox : public TCustomListControl {
 public:
  explicit TComboBox(TComponent* owner);

  std::string Text() const { return text_; }
  void SetText(const std::string& text);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void ItemsChanged() override;

 private:
  std::string text_;  // kept while no widget exists
};

}  // namespace jw
