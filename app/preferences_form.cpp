#include "app/preferences_form.h"

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/alarm_scheduler.h"
#include "app/dialog_layout.h"
#include "app/drag_option.h"
#include "app/font_desc.h"
#include "app/settings.h"
#include "app/utf8_text.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

constexpr int kNicknameCol = 0;
constexpr int kAddressCol = 1;

// The spin edits read their text unclamped; what is stored stays within the
// limits the dialog shows.
int SpinValue(TKitSpinEdit& spin) {
  return spin.CheckValue(spin.Value());
}

// The first count characters of text, never splitting one.
std::string FirstCharacters(const std::string& text, int count) {
  const std::vector<size_t> ends = CodePointEnds(text);
  if (static_cast<int>(ends.size()) <= count) return text;
  return text.substr(0, ends[static_cast<size_t>(count) - 1]);
}

}  // namespace

TPrefForm::TPrefForm(TComponent* owner) : TForm(owner) {
  SetUpDialog(*this, "Preferences", TFormBorderStyle::bsDialog, TPosition::poScreenCenter, 434,
              372);

  PageControl1 = PlaceControl<TPageControl>(this, this, 8, 8, 418, 320);

  TabSheet1 = AddSheet(PageControl1, this, "Appearance");
  GroupBox1 = PlaceControl<TGroupBox>(this, TabSheet1, 8, 8, 394, 120, "Default Font");
  DefFontExample = PlaceControl<TLabel>(this, GroupBox1, 16, 24, 200, 44, "Current Font");
  Label1 = PlaceControl<TLabel>(this, GroupBox1, 16, 84, 130, 17, "Line Angle (degrees)");
  DefFontBtn = PlaceControl<TButton>(this, GroupBox1, 224, 24, 154, 25, "Name, size and color");
  FontAngleSpin = PlaceControl<TKitSpinEdit>(this, GroupBox1, 152, 80, 60, 24);
  FontAngleSpin->SetMinValue(-45);
  FontAngleSpin->SetMaxValue(45);
  GroupBox2 = PlaceControl<TGroupBox>(this, TabSheet1, 8, 140, 394, 56, "Window Dragging");
  DragFrameOnlyCB =
      PlaceControl<TCheckBox>(this, GroupBox2, 16, 24, 250, 17, "Drag window frame only");

  TabSheet2 = AddSheet(PageControl1, this, "Alarms");
  Label2 = PlaceControl<TLabel>(this, TabSheet2, 8, 12, 380, 17,
                                "Sound file to play when alarm is triggered:");
  AlarmFileEdit = PlaceControl<TEdit>(this, TabSheet2, 8, 32, 330, 24);
  AlarmBrowseBtn = PlaceControl<TButton>(this, TabSheet2, 342, 32, 28, 24, "...");
  AlarmBrowseBtn->SetHint("Browse for sound file");
  AlarmBrowseBtn->SetShowHint(true);
  SoundPlayBtn = PlaceControl<TButton>(this, TabSheet2, 374, 32, 28, 24, ">");
  SoundPlayBtn->SetHint("Play sound");
  SoundPlayBtn->SetShowHint(true);
  Label3 = PlaceControl<TLabel>(this, TabSheet2, 8, 72, 70, 17, "Play sound ");
  AlarmRepsSpin = PlaceControl<TKitSpinEdit>(this, TabSheet2, 80, 68, 50, 24);
  AlarmRepsSpin->SetMinValue(0);
  AlarmRepsSpin->SetMaxValue(kMaxAlarmReps);
  Label4 = PlaceControl<TLabel>(this, TabSheet2, 136, 72, 40, 17, "times");
  AlarmFrontCB = PlaceControl<TCheckBox>(this, TabSheet2, 8, 108, 390, 17,
                                         "Bring message to front when alarm is triggered");

  TabSheet3 = AddSheet(PageControl1, this, "Email");
  Label5 = PlaceControl<TLabel>(this, TabSheet3, 8, 12, 100, 17, "SMTP hostname");
  HostNameEdit = PlaceControl<TEdit>(this, TabSheet3, 112, 8, 290, 24);
  Label6 = PlaceControl<TLabel>(this, TabSheet3, 8, 42, 100, 17, "Return Address");
  ReturnAddressEdit = PlaceControl<TEdit>(this, TabSheet3, 112, 38, 290, 24);
  EmailGrid = PlaceControl<TStringGrid>(this, TabSheet3, 8, 70, 394, 212);
  // A heading row and one row for each of the address lines.
  EmailGrid->SetColCount(2);
  EmailGrid->SetFixedRows(1);
  EmailGrid->SetRowCount(kEmailLineCount + 1);
  EmailGrid->SetColWidths(kNicknameCol, 104);
  EmailGrid->SetColWidths(kAddressCol, 278);
  EmailGrid->SetEditing(true);

  PageControl1->SetActivePage(TabSheet1);

  std::tie(OKBtn, CancelBtn) = PlaceOkCancel(this, this, 262, 350, 338);

  FontDialog1 = new TFontDialog(this);
  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetFilter("Wave Files|*.wav");
  OpenDialog1->SetMustExist(true);

  OnCloseQuery = [this](TPersistent* sender, bool& can_close) {
    FormCloseQuery(sender, can_close);
  };
  DefFontBtn->OnClick = [this](TPersistent* sender) { DefFontBtnClick(sender); };
  AlarmBrowseBtn->OnClick = [this](TPersistent* sender) { AlarmBrowseBtnClick(sender); };
  SoundPlayBtn->OnClick = [this](TPersistent* sender) { SoundPlayBtnClick(sender); };
}

void TPrefForm::DefFontBtnClick(TPersistent*) {
  FontDialog1->Font().Assign(&DefFontExample->Font());
  if (FontDialog1->Execute()) DefFontExample->Font().Assign(&FontDialog1->Font());
}

void TPrefForm::AlarmBrowseBtnClick(TPersistent*) {
  OpenDialog1->SetInitialDir(ExtractFilePath(AlarmFileEdit->Text()));
  if (OpenDialog1->Execute()) AlarmFileEdit->SetText(OpenDialog1->FileName());
}

void TPrefForm::SoundPlayBtnClick(TPersistent*) {
  PlayAlarmSound(AlarmFileEdit->Text(), SpinValue(*AlarmRepsSpin));
}

void TPrefForm::FormCloseQuery(TPersistent*, bool& can_close) {
  if (ModalResult() != mrOk) return;
  for (int k = 0; k < kEmailLineCount; ++k) {
    if (EmailGrid->Cells(kNicknameCol, k + 1).find('|') == std::string::npos) continue;
    ShowMessage(kNicknameWithBar);
    can_close = false;
    return;
  }
}

void EditPreferences() {
  std::unique_ptr<TPrefForm> form(MakeForm<TPrefForm>(Application));
  TScrapSettings& s = ScrapSettings;
  DescToFont(form->DefFontExample->Font(), s.DefaultFontDesc);
  form->FontAngleSpin->SetValue(s.DefaultFontAngle);
  form->DragFrameOnlyCB->SetChecked(s.DragFrameOnly);
  form->AlarmFileEdit->SetText(s.AlarmFileName);
  form->AlarmRepsSpin->SetValue(s.AlarmReps);
  form->AlarmFrontCB->SetChecked(s.AlarmFront);
  form->HostNameEdit->SetText(s.SMTPHostName);
  form->ReturnAddressEdit->SetText(s.ReturnAddress);
  TStringGrid& grid = *form->EmailGrid;
  grid.SetCells(kNicknameCol, 0, "Nickname");
  grid.SetCells(kAddressCol, 0, "Email Address");
  std::array<std::string, kEmailLineCount> addresses;
  for (int k = 0; k < kEmailLineCount; ++k) {
    const std::string& line = s.EmailLines[k];
    const size_t bar = line.find('|');
    if (bar != std::string::npos) addresses[k] = line.substr(bar + 1);
    grid.SetCells(kNicknameCol, k + 1, line.substr(0, bar));
    grid.SetCells(kAddressCol, k + 1, FirstCharacters(addresses[k], kMaxGridAddressLength));
  }

  if (Dialogs().ShowModal(*form) != mrOk) return;

  s.DefaultFontDesc = FontToDesc(form->DefFontExample->Font());
  s.DefaultFontAngle = SpinValue(*form->FontAngleSpin);
  s.DragFrameOnly = form->DragFrameOnlyCB->Checked();
  s.AlarmFileName = form->AlarmFileEdit->Text();
  s.AlarmReps = SpinValue(*form->AlarmRepsSpin);
  s.AlarmFront = form->AlarmFrontCB->Checked();
  s.SMTPHostName = form->HostNameEdit->Text();
  s.ReturnAddress = form->ReturnAddressEdit->Text();
  for (int k = 0; k < kEmailLineCount; ++k) {
    const std::string& nickname = grid.Cells(kNicknameCol, k + 1);
    std::string address = grid.Cells(kAddressCol, k + 1);
    if (address == FirstCharacters(addresses[k], kMaxGridAddressLength)) address = addresses[k];
    s.EmailLines[k] = nickname.empty() && address.empty() ? "" : nickname + "|" + address;
  }
  ApplyDragOption();
}

}  // namespace jw
