#include "components/tips.h"

#include "platform/gui/application.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/ini_file.h"
#include "platform/rtl/random.h"

namespace jw {

namespace {

constexpr char kSection[] = "Tips";
constexpr char kKey[] = "ShowAtStart";

}  // namespace

// ----------------------------------------------------------------- TTipForm

TTipForm::TTipForm(TComponent* owner) : TForm(owner) {
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  SetClientWidth(433);
  SetClientHeight(234);

  Header = new TLabel(this);
  Header->SetParent(this);
  Header->SetBounds(8, 8, 417, 40);
  Header->Font().SetSize(24);
  Header->Font().SetStyle(fsBold);

  Panel1 = new TPanel(this);
  Panel1->SetParent(this);
  Panel1->SetBevelOuter(TPanelBevel::bvLowered);
  Panel1->SetBounds(8, 52, 417, 140);

  Image1 = new TImage(this);
  Image1->SetParent(Panel1);
  Image1->SetBounds(8, 8, 32, 32);

  TipHelp = new TLabel(this);
  TipHelp->SetParent(Panel1);
  TipHelp->SetBounds(48, 8, 360, 20);
  TipHelp->Font().SetStyle(fsBold);
  TipHelp->SetWordWrap(true);

  TipText = new TLabel(this);
  TipText->SetParent(Panel1);
  TipText->SetBounds(48, 32, 360, 100);
  TipText->SetWordWrap(true);

  ShowAtStart = new TCheckBox(this);
  ShowAtStart->SetParent(this);
  ShowAtStart->SetBounds(8, 204, 240, 17);

  Next = new TButton(this);
  Next->SetParent(this);
  Next->SetBounds(264, 200, 75, 25);
  Next->OnClick = [this](TPersistent* sender) { NextClick(sender); };

  CloseBtn = new TButton(this);
  CloseBtn->SetParent(this);
  CloseBtn->SetBounds(350, 200, 75, 25);
  CloseBtn->SetModalResult(mrOk);
  CloseBtn->OnClick = [this](TPersistent* sender) { OkClick(sender); };

  OnCreate = [this](TPersistent* sender) { FormCreate(sender); };
  OnClose = [this](TPersistent* sender, TCloseAction& action) { FormClose(sender, action); };
}

TTipForm::~TTipForm() = default;

void TTipForm::FormCreate(TPersistent*) {
  tips_ = std::make_unique<TStringList>();
}

void TTipForm::DoShow() {
  FormShow(this);
  TForm::DoShow();
}

void TTipForm::FormShow(TPersistent*) {
  if (!tips_) tips_ = std::make_unique<TStringList>();
  if (tips_->Count() == 0) tips_->Add("No tips available !");
  if (tips_->Count() == 1) Next->SetEnabled(false);
  Randomize();
  ShowRandomTip();
}

void TTipForm::FormClose(TPersistent*, TCloseAction&) {
  // The list lives until the form is freed: Execute still reads the form
  // after the modal run.
}

void TTipForm::NextClick(TPersistent*) {
  ShowRandomTip();
}

void TTipForm::OkClick(TPersistent*) {
  SetModalResult(mrOk);
  Close();
}

void TTipForm::ShowRandomTip() {
  TipText->SetCaption(tips_->Strings(Random(tips_->Count())));
}

// -------------------------------------------------------------------- TTips

TTips::TTips(TComponent* owner)
    : TComponent(owner),
      tips_(std::make_unique<TStringList>()),
      ini_file_name_(ChangeFileExt(ExecutablePath(), ".INI")) {
  if (!ComponentState().Contains(csDesigning)) LoadShowAtStart();
}

TTips::~TTips() = default;

void TTips::SetTips(TStringList* tips) {
  if (tips != nullptr && tips != tips_.get()) tips_->Assign(*tips);
}

void TTips::LoadShowAtStart() {
  TIniFile ini(ini_file_name_);
  show_at_start_ = ini.ReadBool(kSection, kKey, true);
}

void TTips::SaveShowAtStart() {
  TIniFile ini(ini_file_name_);
  ini.WriteBool(kSection, kKey, show_at_start_);
}

bool TTips::Execute() {
  TComponent* owner = Application != nullptr ? static_cast<TComponent*>(Application) : nullptr;
  std::unique_ptr<TTipForm> form(MakeForm<TTipForm>(owner));
  form->SetCaption(title_);
  form->Header->SetCaption(header_);
  form->ShowAtStart->SetCaption("&Show this dialog on next start");
  form->Next->SetCaption("&Next >");
  form->CloseBtn->SetCaption("&Close");
  form->TipHelp->SetCaption(tip_help_);
  form->Panel1->SetColor(tip_background_);
  form->ShowAtStart->SetChecked(show_at_start_);
  form->TipText->SetCaption("");
  form->TipList().Assign(*tips_);
  const TModalResult result = form->ShowModal();
  show_at_start_ = form->ShowAtStart->Checked();
  SaveShowAtStart();
  return result != mrNone;
}

}  // namespace jw
