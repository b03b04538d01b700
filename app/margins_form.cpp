#include "app/margins_form.h"

#include <memory>
#include <string>
#include <tuple>

#include "app/dialog_layout.h"
#include "app/str_lib.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {

TMarginForm::TMarginForm(TComponent* owner) : TForm(owner) {
  SetUpDialog(*this, "Margin Settings", TFormBorderStyle::bsDialog, TPosition::poDesktopCenter, 256,
              148);
  Label1 = PlaceControl<TLabel>(this, this, 16, 16, 40, 17, "Top");
  TopEdit = PlaceControl<TEdit>(this, this, 64, 12, 80, 24);
  Label2 = PlaceControl<TLabel>(this, this, 16, 48, 40, 17, "Left");
  LeftEdit = PlaceControl<TEdit>(this, this, 64, 44, 80, 24);
  Label3 = PlaceControl<TLabel>(this, this, 16, 80, 40, 17, "Right");
  RightEdit = PlaceControl<TEdit>(this, this, 64, 76, 80, 24);
  std::tie(OKBtn, CancelBtn) = PlaceOkCancel(this, this, 84, 168, 112);
}

bool EditMargins(TPaperMargins& margins) {
  std::unique_ptr<TMarginForm> form(MakeForm<TMarginForm>(Application));
  form->TopEdit->SetText(std::to_string(margins.Top));
  form->LeftEdit->SetText(std::to_string(margins.Left));
  form->RightEdit->SetText(std::to_string(margins.Right));
  if (Dialogs().ShowModal(*form) != mrOk) return false;
  margins.Top = ClampPaperMargin(StrToIntOrZero(form->TopEdit->Text()));
  margins.Left = ClampPaperMargin(StrToIntOrZero(form->LeftEdit->Text()));
  margins.Right = ClampPaperMargin(StrToIntOrZero(form->RightEdit->Text()));
  return true;
}

}  // namespace jw
