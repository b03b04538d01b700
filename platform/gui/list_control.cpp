#include "platform/gui/list_control.h"

#include "platform/gui/qt_convert.h"

namespace jw {

TCustomListControl::TCustomListControl(TComponent* owner) : TWinControl(owner) {
  items_.OnChange = [this](TPersistent*) { ItemsChanged(); };
}

QStringList TCustomListControl::ItemTexts() const {
  QStringList texts;
  for (int i = 0; i < items_.Count(); ++i) texts.append(ToQString(items_.Strings(i)));
  return texts;
}

}  // namespace jw
