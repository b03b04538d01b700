// TListBox: a list of text items over a Qt list widget, with at most one
// item selected.
#pragma once

#include <memory>

#include "platform/gui/list_control.h"

class QListWidget;

namespace jw {

class TListBox : public TCustomListControl {
 public:
  explicit TListBox(TComponent* owner);

  // The selected item, -1 for none.
  int ItemIndex() const { return item_index_; }
  // -1, or an index outside the items, selects none.
  void SetItemIndex(int index);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void ItemsChanged() override;

 private:
  void Fill(QListWidget& list) const;

  int item_index_ = -1;
};

}  // namespace jw
