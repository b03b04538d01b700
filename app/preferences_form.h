// TPrefForm, the preferences dialog (default font and angle, window
// dragging, alarm sound and repetitions, mail server, return address and the
// address book), and EditPreferences, which runs it over ScrapSettings.
#pragma once

#include "components/spin_edit.h"
#include "platform/gui/buttons.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/edit.h"
#include "platform/gui/forms.h"
#include "platform/gui/group_box.h"
#include "platform/gui/page_control.h"
#include "platform/gui/std_controls.h"
#include "platform/gui/string_grid.h"

namespace jw {

// The longest address the grid shows, in characters.
inline constexpr int kMaxGridAddressLength = 200;

class TPrefForm : public TForm {
 public:
  explicit TPrefForm(TComponent* owner);

  TPageControl* PageControl1;
  TTabSheet* TabSheet1;  // "Appearance"
  TGroupBox* GroupBox1;
  TLabel* DefFontExample;
  TLabel* Label1;
  TButton* DefFontBtn;
  TKitSpinEdit* FontAngleSpin;
  TGroupBox* GroupBox2;
  TCheckBox* DragFrameOnlyCB;
  TTabSheet* TabSheet2;  // "Alarms"
  TLabel* Label2;
  TEdit* AlarmFileEdit;
  TButton* AlarmBrowseBtn;
  TButton* SoundPlayBtn;
  TLabel* Label3;
  TKitSpinEdit* AlarmRepsSpin;
  TLabel* Label4;
  TCheckBox* AlarmFrontCB;
  TTabSheet* TabSheet3;  // "Email"
  TLabel* Label5;
  TEdit* HostNameEdit;
  TLabel* Label6;
  TEdit* ReturnAddressEdit;
  TStringGrid* EmailGrid;
  TButton* OKBtn;
  TButton* CancelBtn;
  TFontDialog* FontDialog1;
  TOpenDialog* OpenDialog1;

  void DefFontBtnClick(TPersistent* sender);
  void AlarmBrowseBtnClick(TPersistent* sender);
  void SoundPlayBtnClick(TPersistent* sender);
  // OK is refused, with a message, while a nickname holds "|": the stored
  // entry would split there, and the rest would become the address.
  void FormCloseQuery(TPersistent* sender, bool& can_close);
};

inline constexpr char kNicknameWithBar[] = "A nickname cannot contain \"|\".";

// Runs the preferences dialog over ScrapSettings; on OK stores every value
// back and applies the drag option to the open notes. An address too long
// for the grid is shown cut and kept whole unless its cell is edited. Cancel
// changes nothing.
void EditPreferences();

}  // namespace jw
