#include "platform/gui/menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"

namespace jw {

namespace {

constexpr uint16_t kVkF1 = 0x70;

// The virtual key code of a Qt key, or 0 for keys that make no short cut.
uint16_t VirtualKey(int qt_key) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z)
    return static_cast<uint16_t>('A' + qt_key - Qt::Key_A);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9)
    return static_cast<uint16_t>('0' + qt_key - Qt::Key_0);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F12) {
    return static_cast<uint16_t>(kVkF1 + qt_key - Qt::Key_F1);
  }
  switch (qt_key) {
    case Qt::Key_Insert:
      return 0x2D;
    case Qt::Key_Delete:
      return 0x2E;
    default:
      return 0;
  }
}

QString ShortCutText(TShortCut short_cut) {
  const uint16_t key = short_cut & 0x1FFF;
  QString name;
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
    name = QChar(key);
  } else if (key >= kVkF1 && key < kVkF1 + 12) {
    name = QString("F%1").arg(key - kVkF1 + 1);
  } else if (key == 0x2D) {
    name = "Ins";
  } else if (key == 0x2E) {
    name = "Del";
  } else {
    return {};
  }
  QString text;
  if (short_cut & scShift) text += "Shift+";
  if (short_cut & scCtrl) text += "Ctrl+";
  if (short_cut & scAlt) text += "Alt+";
  return text + name;
}

void AddItems(QMenu& menu, TMenuItem& parent) {
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    if (!item->Visible()) continue;
    if (item->IsLine()) {
      menu.addSeparator();
      continue;
    }
    QString caption = ToQString(item->Caption());
    if (item->Count() > 0) {
      QMenu* sub = menu.addMenu(caption);
      sub->setEnabled(item->Enabled());
      AddItems(*sub, *item);
      continue;
    }
    if (const QString keys = ShortCutText(item->ShortCut()); !keys.isEmpty()) {
      caption += '\t' + keys;
    }
    QAction* action = menu.addAction(caption);
    action->setEnabled(item->Enabled());
    action->setCheckable(item->Checked());
    action->setChecked(item->Checked());
    QObject::connect(action, &QAction::triggered,
                     [item] { CallGuarded([item] { item->Click(); }); });
  }
}

}  // namespace

TShortCut ShortCut(uint16_t key, TShiftState shift) {
  TShortCut result = key & 0x1FFF;
  if (shift & ssShift) result |= scShift;
  if (shift & ssCtrl) result |= scCtrl;
  if (shift & ssAlt) result |= scAlt;
  return result;
}

TShortCut ShortCutFromQtKey(int qt_key, int qt_modifiers) {
  const uint16_t key = VirtualKey(qt_key);
  if (key == 0) return 0;
  TShiftState shift = 0;
  if (qt_modifiers & Qt::ShiftModifier) shift |= ssShift;
  if (qt_modifiers & Qt::ControlModifier) shift |= ssCtrl;
  if (qt_modifiers & Qt::AltModifier) shift |= ssAlt;
  return ShortCut(key, shift);
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  if (parent_ != nullptr) parent_->Remove(this);
  for (TMenuItem* item : items_) item->parent_ = nullptr;
}

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError("Menu index out of range");
  return items_[static_cast<size_t>(index)];
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == nullptr || item == this) return;
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  std::erase(items_, item);
  if (item->parent_ == this) item->parent_ = nullptr;
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuItem::Click() {
  if (enabled_ && OnClick) OnClick(this);
}

TMenuItem* TMenuItem::FindShortCut(TShortCut short_cut) {
  for (TMenuItem* item : items_) {
    if (!item->Visible() || !item->Enabled()) continue;
    if (item->ShortCut() == short_cut && item->Count() == 0) return item;
    if (TMenuItem* found = item->FindShortCut(short_cut)) return found;
  }
  return nullptr;
}

TPopupMenu::TPopupMenu(TComponent* owner)
    : TComponent(owner), items_(std::make_unique<TMenuItem>(nullptr)) {}

TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  std::unique_ptr<QMenu> menu = BuildQMenu();
  menu->exec(QPoint(x, y));
}

bool TPopupMenu::IsShortCut(TShortCut short_cut) {
  TMenuItem* item = items_->FindShortCut(short_cut);
  if (item == nullptr) return false;
  item->Click();
  return true;
}

std::unique_ptr<QMenu> TPopupMenu::BuildQMenu() {
  auto menu = std::make_unique<QMenu>();
  AddItems(*menu, *items_);
  return menu;
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == popup_component_) popup_component_ = nullptr;
}

}  // namespace jw
