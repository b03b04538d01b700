// TRadioGroup: a captioned frame of radio buttons, one per item, laid out
// in columns; ItemIndex is the chosen item.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/controls.h"
#include "platform/rtl/string_list.h"

class QGroupBox;

namespace jw {

class TRadioGroup : public TWinControl {
 public:
  explicit TRadioGroup(TComponent* owner);
  ~TRadioGroup() override;

  void SetCaption(const std::string& caption) override;
  // One button per line; a change rebuilds the buttons and clears the choice.
  TStrings& Items() { return *items_; }
  // The chosen item, -1 for none. A change runs OnClick, whether the user or
  // the program made it.
  int ItemIndex() const { return item_index_; }
  void SetItemIndex(int index);
  // Items fill the columns top to bottom, left to right.
  int Columns() const { return columns_; }
  void SetColumns(int columns);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  friend class RadioGroupWidget;
  void ItemsChanged();
  void UpdateButtons();

  std::unique_ptr<TStringList> items_;
  int item_index_ = -1;
  int columns_ = 1;
};

}  // namespace jw
