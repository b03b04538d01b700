#include "platform/gui/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"

namespace jw {

// The group box keeps one button per item in a grid, and reports the
// button the user picks.
class RadioGroupWidget : public QGroupBox {
 public:
  RadioGroupWidget(TRadioGroup& control, QWidget* parent)
      : QGroupBox(ToQString(control.Caption()), parent),
        control_(control),
        grid_(new QGridLayout(this)),
        buttons_(new QButtonGroup(this)) {
    // The rows share the box's height below its title: a box sized for one
    // row of buttons (45 pixels) has no room for the layout's usual margins,
    // which would squeeze the buttons to a few pixels.
    grid_->setContentsMargins(8, 0, 8, 0);
    grid_->setVerticalSpacing(0);
    QObject::connect(buttons_, &QButtonGroup::idClicked, [this](int id) {
      if (id == control_.item_index_) return;
      control_.item_index_ = id;
      CallGuarded([this] { control_.Click(); });
    });
    Rebuild();
  }

  void Rebuild() {
    for (QAbstractButton* button : buttons_->buttons()) delete button;
    const int count = control_.Items().Count();
    const int columns = std::max(control_.Columns(), 1);
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
      auto* button = new QRadioButton(ToQString(control_.Items().Strings(i)), this);
      buttons_->addButton(button, i);
      grid_->addWidget(button, i % rows, i / rows);
    }
    ShowChoice();
  }

  void ShowChoice() {
    const QSignalBlocker quiet(buttons_);
    // An exclusive group cannot uncheck its last checked button.
    buttons_->setExclusive(false);
    for (QAbstractButton* button : buttons_->buttons())
      button->setChecked(buttons_->id(button) == control_.item_index_);
    buttons_->setExclusive(true);
  }

 private:
  TRadioGroup& control_;
  QGridLayout* grid_;      // owned by the box
  QButtonGroup* buttons_;  // owned by the box
};

TRadioGroup::TRadioGroup(TComponent* owner)
    : TWinControl(owner), items_(std::make_unique<TStringList>()) {
  SetBounds(0, 0, 185, 105);
  items_->OnChange = [this](TPersistent*) { ItemsChanged(); };
}

TRadioGroup::~TRadioGroup() {
  items_->OnChange = nullptr;
}

void TRadioGroup::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (HandleAllocated()) static_cast<QGroupBox*>(Handle())->setTitle(ToQString(caption));
}

void TRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= items_->Count()) index = -1;
  if (index == item_index_) return;
  item_index_ = index;
  UpdateButtons();
  Click();
}

void TRadioGroup::SetColumns(int columns) {
  columns = std::clamp(columns, 1, 16);
  if (columns == columns_) return;
  columns_ = columns;
  if (HandleAllocated()) static_cast<RadioGroupWidget*>(Handle())->Rebuild();
}

void TRadioGroup::ItemsChanged() {
  item_index_ = -1;
  if (HandleAllocated()) static_cast<RadioGroupWidget*>(Handle())->Rebuild();
}

void TRadioGroup::UpdateButtons() {
  if (HandleAllocated()) static_cast<RadioGroupWidget*>(Handle())->ShowChoice();
}

std::unique_ptr<QWidget> TRadioGroup::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  return std::make_unique<RadioGroupWidget>(*this, parent);
}

}  // namespace jw
