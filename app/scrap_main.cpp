#include "app/scrap_main.h"

#include <QImage>
#include <QPainter>
#include <utility>

#include "app/preferences_form.h"
#include "app/scrap_tips.h"
#include "app/scrap_windows.h"
#include "app/str_lib.h"
#include "platform/gui/application.h"
#include "platform/rtl/file_names.h"

namespace jw {

namespace {

// A small sheet of lined paper: the program's mark in the tray.
QImage TrayIconImage() {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setPen(QColor(120, 100, 40));
  painter.setBrush(QColor(250, 235, 140));
  painter.drawRect(5, 3, 22, 26);
  for (int y = 10; y <= 24; y += 5) painter.drawLine(9, y, 23, y);
  return image;
}

}  // namespace

TScrapMain::TScrapMain(TComponent* owner, std::string ini_file)
    : TForm(owner), ini_file_(std::move(ini_file)) {
  SetCaption("Jotterwick Manager");

  TrayMenu = new TPopupMenu(this);
  TrayMenu->SetName("TrayMenu");
  TMenuItem& items = TrayMenu->Items();
  NewScrap1 = AddMenuItem(items, "NewScrap1", "New Scrap...", &TScrapMain::NewScrap1Click);
  Preferences2 =
      AddMenuItem(items, "Preferences2", "Preferences...", &TScrapMain::Preferences2Click);
  Help2 = AddMenuItem(items, "Help2", "Help", nullptr);
  Contents1 = AddMenuItem(*Help2, "Contents1", "Contents...", &TScrapMain::Contents1Click);
  Tips1 = AddMenuItem(*Help2, "Tips1", "Tips...", &TScrapMain::Tips1Click);
  AboutPinboardly2 = AddMenuItem(*Help2, "AboutPinboardly2", "About Jotterwick...",
                                 &TScrapMain::AboutPinboardly2Click);
  Exit2 = AddMenuItem(items, "Exit2", "Exit", &TScrapMain::Exit2Click);

  KitTrayIcon1 = new TKitTrayIcon(this);
  KitTrayIcon1->SetName("KitTrayIcon1");
  KitTrayIcon1->Icon().SetImage(TrayIconImage());
  KitTrayIcon1->SetHint("Jotterwick");
  KitTrayIcon1->SetPopUpMenu(TrayMenu);
  KitTrayIcon1->OnMouseDown = [this](TPersistent* sender, TMouseButton button, TShiftState shift,
                                     int x,
                                     int y) { KitTrayIcon1MouseDown(sender, button, shift, x, y); };

  AlarmScheduler1 = new TAlarmScheduler(this);
  AlarmScheduler1->SetName("AlarmScheduler1");

  Tips = CreateScrapTips(this);
  Tips->SetIniFileName(ini_file_);
  Tips->LoadShowAtStart();

  OnCreate = [this](TPersistent* sender) { FormCreate(sender); };
  OnClose = [this](TPersistent* sender, TCloseAction& action) { FormClose(sender, action); };
}

TScrapMain::~TScrapMain() {
  BeforeDestruction();
}

TMenuItem* TScrapMain::AddMenuItem(TMenuItem& parent, const std::string& name,
                                   const std::string& caption,
                                   void (TScrapMain::*handler)(TPersistent*)) {
  auto* item = new TMenuItem(this);
  item->SetName(name);
  item->SetCaption(caption);
  if (handler != nullptr)
    item->OnClick = [this, handler](TPersistent* sender) { (this->*handler)(sender); };
  parent.Add(item);
  return item;
}

void TScrapMain::FormCreate(TPersistent*) {
  Application->SetShowMainForm(false);
  HideTaskbarButton(false);
  NotesVisible = true;
  LoadSettings(ini_file_);
  Timer1Timer(this);
}

void TScrapMain::FormClose(TPersistent*, TCloseAction& action) {
  if (SaveAllScraps && !SaveAllScraps()) {
    action = TCloseAction::caNone;
    return;
  }
  try {
    SaveSettings(ini_file_);
  } catch (const Exception& error) {
    // As for the notes: the user may go without them, and then the program
    // ends, whatever the folder allows.
    if (!ConfirmYesNo("The settings could not be saved.\r" + error.Message() +
                      "\r\rExit anyway? Changes to the settings will be lost.")) {
      action = TCloseAction::caNone;
      return;
    }
  }
  KitTrayIcon1->SetActive(false);
}

// The application has no window of its own here, and every form is made as
// a tool window, which keeps it off the taskbar. What is left is the
// manager window itself, which is never shown; no window asks for a
// taskbar button, so show has nothing to bring back.
void TScrapMain::HideTaskbarButton(bool show) {
  if (!show) Hide();
}

// The manager window is never shown here, so there is nothing of it to
// activate before the notes come back; shown notes come up in front.
void TScrapMain::ToggleScrapsVisible() {
  NotesVisible = !NotesVisible;
  ShowAllScraps(NotesVisible);
}

void TScrapMain::NewScrap1Click(TPersistent*) {
  NewScrap();
}

void TScrapMain::Preferences2Click(TPersistent*) {
  EditPreferences();
}

void TScrapMain::Contents1Click(TPersistent*) {
  OpenWithShell(ResolveFileName(ChangeFileExt(ExecutablePath(), ".html")));
}

void TScrapMain::Tips1Click(TPersistent*) {
  Tips->Execute();
}

void TScrapMain::AboutPinboardly2Click(TPersistent*) {
  if (AboutBox != nullptr) AboutBox->Show();
}

void TScrapMain::Exit2Click(TPersistent*) {
  Close();
}

void TScrapMain::KitTrayIcon1MouseDown(TPersistent*, TMouseButton button, TShiftState, int, int) {
  if (button == TMouseButton::mbLeft) ToggleScrapsVisible();
}

void TScrapMain::Timer1Timer(TPersistent* sender) {
  AlarmScheduler1->Timer1Timer(sender);
}

}  // namespace jw
