#include "app/editor_form.h"

#include <memory>

#include "app/dialog_layout.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {

TEditorForm::TEditorForm(TComponent* owner) : TForm(owner) {
  SetUpDialog(*this, "Jotterwick Editor", TFormBorderStyle::bsSizeable, TPosition::poScreenCenter,
              400, 300);

  Panel1 = new TPanel(this);
  Panel1->SetParent(this);
  Panel1->SetHeight(41);
  Panel1->SetAlign(TAlign::alBottom);
  Memo1 = new TMemo(this);
  Memo1->SetParent(this);
  Memo1->SetScrollBars(TScrollStyle::ssVertical);
  Memo1->SetAlign(TAlign::alClient);

  OKBtn = PlaceControl<TButton>(this, Panel1, 228, 8, 75, 25, "OK");
  OKBtn->SetModalResult(mrOk);
  CancelBtn = PlaceControl<TButton>(this, Panel1, 316, 8, 75, 25, "Cancel");
  CancelBtn->SetModalResult(mrCancel);
  CancelBtn->SetCancel(true);
  CancelBtn->SetModalResult(mrCancel);
}

void EditText(std::string& text) {
  std::unique_ptr<TEditorForm> form(MakeForm<TEditorForm>(Application));
  form->Memo1->SetText(text);
  if (Dialogs().ShowModal(*form) != mrOk) return;
  std::string edited;
  for (const std::string& line : form->Memo1->Lines()) edited += line + '\r';
  text = edited;
}

}  // namespace jw
