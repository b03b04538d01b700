#include "platform/gui/list_box.h"

#include <QListWidget>

#include "platform/gui/application.h"

namespace jw {

TListBox::TListBox(TComponent* owner) : TCustomListControl(owner) {
  SetBounds(0, 0, 121, 97);
}

void TListBox::SetItemIndex(int index) {
  item_index_ = index >= 0 && index < Items().Count() ? index : -1;
  if (HandleAllocated()) {
    auto* list = static_cast<QListWidget*>(Handle());
    const QSignalBlocker quiet(list);
    list->setCurrentRow(item_index_);
  }
}

void TListBox::Fill(QListWidget& list) const {
  const QSignalBlocker quiet(&list);
  list.clear();
  list.addItems(ItemTexts());
  list.setCurrentRow(item_index_);
}

// A change of the items drops the selection, as the item it named may be gone.
void TListBox::ItemsChanged() {
  item_index_ = -1;
  if (HandleAllocated()) Fill(*static_cast<QListWidget*>(Handle()));
}

std::unique_ptr<QWidget> TListBox::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto list = std::make_unique<QListWidget>(parent);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  Fill(*list);
  QObject::connect(list.get(), &QListWidget::currentRowChanged,
                   [this](int row) { CallGuarded([&] { item_index_ = row; }); });
  return list;
}

}  // namespace jw
