// TTips: a list of tip texts shown one at a time, chosen at random, in the
// modal dialog TTipForm, whose check box decides whether the dialog shows at
// start. The switch is kept in the preferences INI file, section "Tips",
// key "ShowAtStart".
#pragma once

#include <memory>
#include <string>

#include "platform/gui/buttons.h"
#include "platform/gui/color.h"
#include "platform/gui/forms.h"
#include "platform/gui/std_controls.h"
#include "platform/rtl/component.h"
#include "platform/rtl/string_list.h"

namespace jw {

class TTipForm : public TForm {
 public:
  explicit TTipForm(TComponent* owner);
  ~TTipForm() override;

  TLabel* Header;
  TPanel* Panel1;
  TImage* Image1;
  TLabel* TipHelp;
  TLabel* TipText;
  TCheckBox* ShowAtStart;
  TButton* Next;
  TButton* CloseBtn;

  // The tips shown; filled before the form is shown.
  TStringList& TipList() { return *tips_; }

  void FormCreate(TPersistent* sender);
  void FormShow(TPersistent* sender);
  void FormClose(TPersistent* sender, TCloseAction& action);
  void NextClick(TPersistent* sender);
  void OkClick(TPersistent* sender);

 protected:
  void DoShow() override;

 private:
  void ShowRandomTip();

  std::unique_ptr<TStringList> tips_;
};

class TTips : public TComponent {
 public:
  // Reads the switch unless designing.
  explicit TTips(TComponent* owner);
  ~TTips() override;

  TColor TipBackground() const { return tip_background_; }
  void SetTipBackground(TColor color) { tip_background_ = color; }
  const std::string& Header() const { return header_; }
  void SetHeader(const std::string& header) { header_ = header; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  const std::string& TipHelp() const { return tip_help_; }
  void SetTipHelp(const std::string& text) { tip_help_ = text; }
  TStringList& Tips() { return *tips_; }
  // Copies the lines of tips unless it is this component's own list.
  void SetTips(TStringList* tips);

  bool ShowAtStart() const { return show_at_start_; }
  void LoadShowAtStart();
  void SaveShowAtStart();

  // The preferences file beside the executable; tests point it elsewhere.
  const std::string& IniFileName() const { return ini_file_name_; }
  void SetIniFileName(const std::string& file_name) { ini_file_name_ = file_name; }

  // Shows the dialog modally and saves the switch from its check box; true
  // when the dialog ended with a modal result.
  bool Execute();

 private:
  TColor tip_background_ = clInfoBk;
  std::string header_;
  std::string title_;
  std::string tip_help_;
  std::unique_ptr<TStringList> tips_;
  bool show_at_start_ = true;
  std::string ini_file_name_;
};

}  // namespace jw
