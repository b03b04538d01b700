// TQuirePasswordDialog: the session password dialog. A session shows it when
// the engine needs the password of an encrypted table and the session has no
// OnPassword handler; the user adds passwords to the session's list, removes
// them or clears the list, and OK asks the engine to try again. The library's
// start-up registers ShowPasswordDialog as the sessions' password prompt.
#pragma once

#include "platform/gui/buttons.h"
#include "platform/gui/edit.h"
#include "platform/gui/forms.h"
#include "platform/gui/group_box.h"

namespace jw {

class TQuireSession;

class TQuirePasswordDialog : public TForm {
 public:
  TQuirePasswordDialog(TComponent* owner, TQuireSession& session);

  TButton* OKButton;
  TButton* CancelButton;
  TGroupBox* GroupBox1;
  TEdit* Edit;
  TButton* AddButton;
  TButton* RemoveButton;
  TButton* RemoveAllButton;

  void EditChange(TPersistent* sender);
  void AddButtonClick(TPersistent* sender);
  void RemoveButtonClick(TPersistent* sender);
  void RemoveAllButtonClick(TPersistent* sender);
  void OKButtonClick(TPersistent* sender);

 protected:
  void DoShow() override;

 private:
  TButton* MakeButton(TWinControl* parent, const char* caption, int left, int top, int width);

  TQuireSession& session_;
  // A password was added while the dialog was open.
  bool added_ = false;
};

// Shows the dialog modally for the session; true when it closed with OK.
bool ShowPasswordDialog(TQuireSession& session);

}  // namespace jw
