// Shows a tray icon with a two-item menu on a real X display for
// run_tray_e2e.sh and prints what reaches the component, one item a line:
//
//   shown tray | shown fallback      where the icon is now (again on change)
//   down <button> [double] <x>,<y>   OnMouseDown; button left/right/middle
//   up <button>                      OnMouseUp
//   click | dblclick | popup         OnClick, OnDblClick, OnPopUp
//   menu                             the menu is about to show
//   item <caption>                   a menu item was chosen
//
// The menu's "Exit" removes the icon and ends the run.
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include <QImage>
#include <QTimer>

#include "components/tray_icon.h"
#include "platform/gui/application.h"
#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

// The icon's colour, which the script looks for on the screen.
constexpr QRgb kIconColour = 0xFFC02030;
constexpr int kWatchMs = 50;

void Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

const char* ButtonName(TMouseButton button) {
  switch (button) {
    case TMouseButton::mbLeft:
      return "left";
    case TMouseButton::mbRight:
      return "right";
    default:
      return "middle";
  }
}

// The program's hidden main form with its tray icon and menu, made as a
// form resource would make them: the icon is added when the form has loaded.
class TrayForm : public TForm {
 public:
  explicit TrayForm(TComponent* owner) : TForm(owner) {
    Menu = new TPopupMenu(this);
    Menu->OnPopup = [](TPersistent*) { Print("menu"); };
    AddItem("Hello", [] {});
    // As a program's Exit would: the icon goes while its own click is still
    // being handled.
    AddItem("Exit", [this] {
      delete Tray;
      Tray = nullptr;
      Application->Terminate();
    });

    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(kIconColour);
    TIcon icon;
    icon.SetImage(picture);

    Tray = new TKitTrayIcon(this);
    Tray->SetIcon(&icon);
    Tray->SetHint("Jotterwick");
    Tray->SetPopUpMenu(Menu);
    Tray->OnMouseDown = [](TPersistent*, TMouseButton button, TShiftState shift, int x, int y) {
      Print(std::string("down ") + ButtonName(button) + (shift & ssDouble ? " double " : " ") +
            std::to_string(x) + "," + std::to_string(y));
    };
    Tray->OnMouseUp = [](TPersistent*, TMouseButton button, TShiftState, int, int) {
      Print(std::string("up ") + ButtonName(button));
    };
    Tray->OnClick = [](TPersistent*) { Print("click"); };
    Tray->OnDblClick = [](TPersistent*) { Print("dblclick"); };
    Tray->OnPopUp = [](TPersistent*) { Print("popup"); };
  }

  TKitTrayIcon* Tray;
  TPopupMenu* Menu;

 private:
  void AddItem(const std::string& caption, std::function<void()> action) {
    auto* item = new TMenuItem(this);
    item->SetCaption(caption);
    item->OnClick = [caption, action = std::move(action)](TPersistent*) {
      Print("item " + caption);
      action();
    };
    Menu->Items().Add(item);
  }
};

int ShowTray(int argc, char** argv) {
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s\n", argv[0]);
    return 2;
  }
  TApplication app(argc, argv);
  app.SetTitle("Jotterwick");
  // The component makes its backend; the program keeps a look at it to
  // tell where the icon is.
  QtTrayBackend* backend = nullptr;
  SetTrayBackendFactory([&backend] {
    auto made = std::make_unique<QtTrayBackend>();
    backend = made.get();
    return made;
  });
  std::unique_ptr<TrayForm> form(MakeForm<TrayForm>(nullptr));
  if (backend == nullptr) throw Exception("the tray icon made no backend");

  std::string place;
  QTimer watch;
  watch.setInterval(kWatchMs);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const std::string now = backend->InTray()             ? "tray"
                            : backend->InFallbackWindow() ? "fallback"
                                                          : "";
    if (now != place && !now.empty()) Print("shown " + now);
    place = now;
  });
  watch.start();

  app.Run();
  form.reset();
  SetTrayBackendFactory(nullptr);
  return 0;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  try {
    return jw::ShowTray(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jw_show_tray: %s\n", error.what());
    return 1;
  }
}
