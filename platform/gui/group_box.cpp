#include "platform/gui/group_box.h"

#include <QGroupBox>

#include "platform/gui/qt_convert.h"

namespace jw {

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 105);
}

void TGroupBox::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (HandleAllocated()) static_cast<QGroupBox*>(Handle())->setTitle(ToQString(caption));
}

std::unique_ptr<QWidget> TGroupBox::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  return std::make_unique<QGroupBox>(ToQString(Caption()), parent);
}

}  // namespace jw
