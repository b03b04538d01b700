// The button family over Qt's buttons: TButton (caption, modal result,
// default and cancel buttons answering Return and Escape) and TCheckBox.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/controls.h"
#include "platform/gui/forms.h"

namespace jw {

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);

  void SetCaption(const std::string& caption) override;
  // Return presses the default button, Escape the cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool on) { default_ = on; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool on) { cancel_ = on; }
  // A non-zero result is given to the parent form when the button is
  // clicked, which ends a modal run.
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result) { modal_result_ = result; }

  // Sets the form's modal result, then runs OnClick.
  void Click() override;
  void WndProc(TMessage& message) override;

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  bool default_ = false;
  bool cancel_ = false;
  TModalResult modal_result_ = mrNone;
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);

  void SetCaption(const std::string& caption) override;
  bool Checked() const { return checked_; }
  // A change runs OnClick, whether the user or the program made it.
  void SetChecked(bool checked);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  friend class CheckBoxWidget;
  bool checked_ = false;
};

}  // namespace jw
