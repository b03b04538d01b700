// TEmailSpecForm, the "Email Settings" dialog of a mailed note: the recipient
// (typed, or picked from the address book), the subject and the files to
// attach; and AskMailSpec, which runs it.
#pragma once

#include <string>
#include <vector>

#include "platform/gui/buttons.h"
#include "platform/gui/combo_box.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/edit.h"
#include "platform/gui/forms.h"
#include "platform/gui/list_box.h"
#include "platform/gui/std_controls.h"

namespace jw {

class TEmailSpecForm : public TForm {
 public:
  explicit TEmailSpecForm(TComponent* owner);

  TLabel* Label1;
  TLabel* Label2;
  TLabel* Label3;
  TComboBox* AddressCB;
  TEdit* SubjectEdit;
  TListBox* FileList;
  TButton* AddFileBtn;
  TButton* RemoveBtn;
  TButton* OKBtn;
  TButton* CancelBtn;
  TOpenDialog* OpenDialog1;

  // Fills the address list from the address book, each entry shown as the
  // nickname, four blanks and the address in brackets.
  void FormCreate(TPersistent* sender);
  void AddFileBtnClick(TPersistent* sender);
  void RemoveBtnClick(TPersistent* sender);
};

// What the user chose for a mail.
struct TMailSpec {
  std::string Recipient;  // the recipient box's text as it stands
  std::string Subject;
  std::vector<std::string> Files;  // in list order
};

// Runs the dialog; true with the choices on "Send", false with empty ones on
// Cancel.
bool AskMailSpec(TMailSpec& spec);

}  // namespace jw
