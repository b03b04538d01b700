// TEditorForm, the text editor dialog for a note's text, and EditText, which
// runs it: the note's CR-separated lines in a memo, back with CR after each.
#pragma once

#include <string>

#include "platform/gui/buttons.h"
#include "platform/gui/forms.h"
#include "platform/gui/memo.h"
#include "platform/gui/std_controls.h"

namespace jw {

class TEditorForm : public TForm {
 public:
  explicit TEditorForm(TComponent* owner);

  TMemo* Memo1;
  TPanel* Panel1;
  TButton* OKBtn;
  TButton* CancelBtn;
};

// Shows text in the editor (CR, LF and CR LF each end a line); on OK text
// becomes the memo's lines, each followed by CR. Cancel changes nothing.
void EditText(std::string& text);

}  // namespace jw
