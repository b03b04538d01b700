#include "platform/gui/combo_box.h"

#include <QComboBox>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"

namespace jw {

TComboBox::TComboBox(TComponent* owner) : TCustomListControl(owner) {
  SetBounds(0, 0, 145, 21);
}

void TComboBox::SetText(const std::string& text) {
  text_ = text;
  if (HandleAllocated()) {
    auto* combo = static_cast<QComboBox*>(Handle());
    const QSignalBlocker quiet(combo);
    combo->setEditText(ToQString(text_));
  }
}

// Refilling the list must not change the text the user sees.
void TComboBox::ItemsChanged() {
  if (!HandleAllocated()) return;
  auto* combo = static_cast<QComboBox*>(Handle());
  const QSignalBlocker quiet(combo);
  combo->clear();
  combo->addItems(ItemTexts());
  combo->setEditText(ToQString(text_));
}

std::unique_ptr<QWidget> TComboBox::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto combo = std::make_unique<QComboBox>(parent);
  combo->setEditable(true);
  // Typed text stays out of the list, which holds what the program put in.
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(ItemTexts());
  combo->setEditText(ToQString(text_));
  QObject::connect(combo.get(), &QComboBox::editTextChanged, [this](const QString& text) {
    CallGuarded([&] { text_ = FromQString(text); });
  });
  return combo;
}

}  // namespace jw
