#include "app/editor_form.h"

#include <memory>
#include <tuple>

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

  std::tie(OKBtn, CancelBtn) = PlaceOkCancel(this, Panel1, 228, 316, 8, false);
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
