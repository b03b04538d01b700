// TScrapMain: the manager window, never shown. It owns the tray icon with
// the tray menu, the alarm scheduler and the tips, loads the settings at
// creation and saves them when it closes, which ends the program.
#pragma once

#include <functional>
#include <string>

#include "app/alarm_scheduler.h"
#include "app/settings.h"
#include "components/tips.h"
#include "components/tray_icon.h"
#include "platform/gui/forms.h"
#include "platform/gui/menus.h"

namespace jw {

class TScrapMain : public TForm {
 public:
  // ini_file is the preferences file read at creation and written at close,
  // the tips switch included.
  explicit TScrapMain(TComponent* owner, std::string ini_file = IniFileName());
  ~TScrapMain() override;

  TKitTrayIcon* KitTrayIcon1;
  TPopupMenu* TrayMenu;
  TMenuItem* NewScrap1;
  TMenuItem* Preferences2;
  TMenuItem* Help2;
  TMenuItem* Contents1;
  TMenuItem* Tips1;
  TMenuItem* AboutPinboardly2;
  TMenuItem* Exit2;
  TAlarmScheduler* AlarmScheduler1;
  // The application's tips; the data module takes them over once it exists.
  TTips* Tips;
  // True while the notes are shown.
  bool NotesVisible = true;

  // What the program entry plugs in: the note store saves every note before
  // the settings are saved at close (false: the notes were not saved and the
  // user chose to stay, so the program goes on; settings that cannot be
  // saved ask the same), and the about box lives for the whole run.
  std::function<bool()> SaveAllScraps;
  TCustomForm* AboutBox = nullptr;

  // The preferences file read at creation and written at close.
  const std::string& IniFile() const { return ini_file_; }

  void FormCreate(TPersistent* sender);
  void FormClose(TPersistent* sender, TCloseAction& action);
  void HideTaskbarButton(bool show);
  void ToggleScrapsVisible();

  void NewScrap1Click(TPersistent* sender);
  void Preferences2Click(TPersistent* sender);
  void Contents1Click(TPersistent* sender);
  void Tips1Click(TPersistent* sender);
  void AboutPinboardly2Click(TPersistent* sender);
  void Exit2Click(TPersistent* sender);
  void KitTrayIcon1MouseDown(TPersistent* sender, TMouseButton button, TShiftState shift, int x,
                             int y);
  void Timer1Timer(TPersistent* sender);

 private:
  TMenuItem* AddMenuItem(TMenuItem& parent, const std::string& name, const std::string& caption,
                         void (TScrapMain::*handler)(TPersistent*));

  const std::string ini_file_;
};

}  // namespace jw
