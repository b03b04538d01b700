#include "engine/dataset_ui/password_dialog.h"

#include <memory>

#include "engine/dataset/password_prompt.h"
#include "engine/dataset/quire_session.h"
#include "platform/gui/application.h"

namespace jw {

TQuirePasswordDialog::TQuirePasswordDialog(TComponent* owner, TQuireSession& session)
    : TForm(owner), session_(session) {
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetCaption("Enter password");
  SetClientWidth(273);
  SetClientHeight(132);

  // Made in tab order: the group box with its controls, then OK and Cancel.
  GroupBox1 = new TGroupBox(this);
  GroupBox1->SetParent(this);
  GroupBox1->SetBounds(8, 8, 257, 81);
  GroupBox1->SetCaption("Password");

  Edit = new TEdit(this);
  Edit->SetParent(GroupBox1);
  Edit->SetBounds(16, 18, 225, 21);
  Edit->SetPasswordChar('*');
  Edit->OnChange = [this](TPersistent* sender) { EditChange(sender); };

  AddButton = MakeButton(GroupBox1, "&Add", 16, 46, 65);
  AddButton->SetEnabled(false);
  AddButton->OnClick = [this](TPersistent* sender) { AddButtonClick(sender); };

  RemoveButton = MakeButton(GroupBox1, "&Remove", 88, 46, 65);
  RemoveButton->SetEnabled(false);
  RemoveButton->OnClick = [this](TPersistent* sender) { RemoveButtonClick(sender); };

  RemoveAllButton = MakeButton(GroupBox1, "Re&move all", 160, 46, 81);
  RemoveAllButton->OnClick = [this](TPersistent* sender) { RemoveAllButtonClick(sender); };

  OKButton = MakeButton(this, "&OK", 109, 98, 75);
  OKButton->SetDefault(true);
  OKButton->SetEnabled(false);
  OKButton->SetModalResult(mrOk);
  OKButton->OnClick = [this](TPersistent* sender) { OKButtonClick(sender); };

  CancelButton = MakeButton(this, "Cancel", 190, 98, 75);
  CancelButton->SetCancel(true);
  CancelButton->SetModalResult(mrCancel);
}

TButton* TQuirePasswordDialog::MakeButton(TWinControl* parent, const char* caption, int left,
                                          int top, int width) {
  auto* button = new TButton(this);
  button->SetParent(parent);
  button->SetBounds(left, top, width, 25);
  button->SetCaption(caption);
  return button;
}

void TQuirePasswordDialog::DoShow() {
  TForm::DoShow();
  Edit->SetFocus();
}

void TQuirePasswordDialog::EditChange(TPersistent*) {
  const bool has_text = !Edit->Text().empty();
  AddButton->SetEnabled(has_text);
  RemoveButton->SetEnabled(has_text);
  OKButton->SetEnabled(has_text || added_);
}

void TQuirePasswordDialog::AddButtonClick(TPersistent*) {
  session_.AddPassword(Edit->Text());
  added_ = true;
  Edit->SetText("");
  Edit->SetFocus();
}

void TQuirePasswordDialog::RemoveButtonClick(TPersistent*) {
  session_.RemovePassword(Edit->Text());
  Edit->SetText("");
  Edit->SetFocus();
}

void TQuirePasswordDialog::RemoveAllButtonClick(TPersistent*) {
  session_.RemoveAllPasswords();
  Edit->SetFocus();
}

void TQuirePasswordDialog::OKButtonClick(TPersistent*) {
  // The session's list ignores an empty text.
  session_.AddPassword(Edit->Text());
}

bool ShowPasswordDialog(TQuireSession& session) {
  std::unique_ptr<TQuirePasswordDialog> dialog(
      MakeForm<TQuirePasswordDialog>(Application, session));
  return dialog->ShowModal() == mrOk;
}

namespace {

// From start-up on, the dialog answers every session's password prompt.
const bool password_dialog_registered = (SetPasswordPrompt(ShowPasswordDialog), true);

}  // namespace

}  // namespace jw
