#include "app/about_box.h"

#include "app/dialog_layout.h"

namespace jw {

TAboutBox::TAboutBox(TComponent* owner) : TForm(owner) {
  SetUpDialog(*this, "About Jotterwick", TFormBorderStyle::bsDialog, TPosition::poScreenCenter, 298,
              212);

  Panel1 = PlaceControl<TPanel>(this, this, 8, 8, 281, 161);
  Panel1->SetBevelOuter(TPanelBevel::bvLowered);
  ProductName = PlaceControl<TLabel>(this, Panel1, 16, 12, 249, 28, "Jotterwick");
  ProductName->Font().SetSize(16);
  ProductName->Font().SetStyle(fsBold);
  Version = PlaceControl<TLabel>(this, Panel1, 16, 44, 249, 17, "Version 1.0");
  Comments = PlaceControl<TLabel>(this, Panel1, 16, 68, 249, 34,
                                  "Paper notes for the desktop, with alarms and e-mail.");
  Comments->SetWordWrap(true);
  SupportAddress =
      PlaceControl<TLabel>(this, Panel1, 16, 108, 249, 17, "Support: support@jotterwick.org");
  WebSite = PlaceControl<TLabel>(this, Panel1, 16, 130, 249, 17, "Web: www.jotterwick.org");
  OKButton = PlaceControl<TButton>(this, this, 111, 178, 75, 25, "OK");
  OKButton->SetDefault(true);
  OKButton->SetCancel(true);
  OKButton->OnClick = [this](TPersistent* sender) { OKButtonClick(sender); };
}

void TAboutBox::OKButtonClick(TPersistent*) {
  Close();
}

}  // namespace jw
