#include "app/email_form.h"

#include <memory>

#include "app/settings.h"
#include "app/str_lib.h"
#include "platform/gui/application.h"

namespace jw {

namespace {

// A control owned by and placed on the form.
template <class T>
T* PlaceControl(TForm* form, const std::string& name, int left, int top, int width, int height,
                const std::string& caption = {}) {
  auto* control = new T(form);
  control->SetName(name);
  control->SetParent(form);
  control->SetBounds(left, top, width, height);
  if (!caption.empty()) control->SetCaption(caption);
  return control;
}

}  // namespace

TEmailSpecForm::TEmailSpecForm(TComponent* owner) : TForm(owner) {
  SetCaption("Email Settings");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetClientWidth(420);
  SetClientHeight(262);

  Label1 = PlaceControl<TLabel>(this, "Label1", 8, 12, 90, 17, "Recipient :");
  AddressCB = PlaceControl<TComboBox>(this, "AddressCB", 104, 8, 308, 24);
  Label2 = PlaceControl<TLabel>(this, "Label2", 8, 44, 90, 17, "Subject :");
  SubjectEdit = PlaceControl<TEdit>(this, "SubjectEdit", 104, 40, 308, 24);
  Label3 = PlaceControl<TLabel>(this, "Label3", 8, 76, 90, 17, "Attached files");
  FileList = PlaceControl<TListBox>(this, "FileList", 8, 96, 306, 124);
  AddFileBtn = PlaceControl<TButton>(this, "AddFileBtn", 322, 96, 90, 25, "Add item");
  AddFileBtn->OnClick = [this](TPersistent* sender) { AddFileBtnClick(sender); };
  RemoveBtn = PlaceControl<TButton>(this, "RemoveBtn", 322, 128, 90, 25, "Remove item");
  RemoveBtn->OnClick = [this](TPersistent* sender) { RemoveBtnClick(sender); };
  OKBtn = PlaceControl<TButton>(this, "OKBtn", 224, 230, 90, 25, "Send");
  OKBtn->SetModalResult(mrOk);
  OKBtn->SetDefault(true);
  CancelBtn = PlaceControl<TButton>(this, "CancelBtn", 322, 230, 90, 25, "Cancel");
  CancelBtn->SetModalResult(mrCancel);
  CancelBtn->SetCancel(true);

  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetName("OpenDialog1");
  OpenDialog1->SetMustExist(true);

  OnCreate = [this](TPersistent* sender) { FormCreate(sender); };
}

void TEmailSpecForm::FormCreate(TPersistent*) {
  AddressCB->Items().Clear();
  for (const std::string& line : ScrapSettings.EmailLines) {
    if (line.empty()) continue;
    std::string entry = line;
    ReplaceFirst(entry, "|", "    (");
    AddressCB->Items().Add(entry + ")");
  }
  if (AddressCB->Items().Count() > 0) AddressCB->SetText(AddressCB->Items().Strings(0));
  SubjectEdit->SetText("Message subject");
}

void TEmailSpecForm::AddFileBtnClick(TPersistent*) {
  if (OpenDialog1->Execute()) FileList->Items().Add(OpenDialog1->FileName());
}

void TEmailSpecForm::RemoveBtnClick(TPersistent*) {
  if (FileList->ItemIndex() >= 0) FileList->Items().Delete(FileList->ItemIndex());
}

bool AskMailSpec(TMailSpec& spec) {
  spec = TMailSpec();
  std::unique_ptr<TEmailSpecForm> form(MakeForm<TEmailSpecForm>(Application));
  if (Dialogs().ShowModal(*form) != mrOk) return false;
  spec.Recipient = form->AddressCB->Text();
  spec.Subject = form->SubjectEdit->Text();
  const TStringList& files = form->FileList->Items();
  for (int i = 0; i < files.Count(); ++i) spec.Files.push_back(files.Strings(i));
  return true;
}

}  // namespace jw
