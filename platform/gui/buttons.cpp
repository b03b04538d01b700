#include "platform/gui/buttons.h"

#include <QCheckBox>
#include <QPushButton>

#include "platform/gui/application.h"
#include "platform/gui/keys.h"
#include "platform/gui/qt_convert.h"

namespace jw {

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 75, 25);
}

void TButton::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (HandleAllocated()) static_cast<QPushButton*>(Handle())->setText(ToQString(caption));
}

void TButton::Click() {
  if (modal_result_ != mrNone) {
    if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(modal_result_);
  }
  TWinControl::Click();
}

void TButton::WndProc(TMessage& message) {
  if (message.Msg == CM_DIALOGKEY && Enabled() && Visible() &&
      ((default_ && message.WParam == VK_RETURN) || (cancel_ && message.WParam == VK_ESCAPE))) {
    Click();
    message.Result = 1;
    return;
  }
  TWinControl::WndProc(message);
}

std::unique_ptr<QWidget> TButton::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto button = std::make_unique<QPushButton>(ToQString(Caption()), parent);
  // Return reaches the default button through the form, never through Qt's
  // own default-button rule.
  button->setAutoDefault(false);
  QObject::connect(button.get(), &QPushButton::clicked,
                   [this] { CallGuarded([this] { Click(); }); });
  return button;
}

// The check box widget reports every change of its state the user makes. It
// listens for the click, which Qt sends once it is done with the box, so that
// the handler may free the box with its form; Qt still uses the box after it
// reports the toggle.
class CheckBoxWidget : public QCheckBox {
 public:
  CheckBoxWidget(TCheckBox& control, QWidget* parent) : QCheckBox(parent), control_(control) {
    QObject::connect(this, &QCheckBox::clicked, [this](bool on) {
      if (on == control_.checked_) return;
      control_.checked_ = on;
      CallGuarded([this] { control_.Click(); });
    });
  }

 private:
  TCheckBox& control_;
};

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetCaption(const std::string& caption) {
  TWinControl::SetCaption(caption);
  if (HandleAllocated()) static_cast<QCheckBox*>(Handle())->setText(ToQString(caption));
}

void TCheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  if (HandleAllocated()) {
    const QSignalBlocker quiet(Handle());
    static_cast<QCheckBox*>(Handle())->setChecked(checked);
  }
  Click();
}

std::unique_ptr<QWidget> TCheckBox::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto box = std::make_unique<CheckBoxWidget>(*this, parent);
  box->setText(ToQString(Caption()));
  box->setChecked(checked_);
  return box;
}

}  // namespace jw
