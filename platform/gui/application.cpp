#include "platform/gui/application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/gui/dialogs.h"
#include "platform/gui/qt_convert.h"

namespace jw {

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr) {
  if (QApplication::instance() == nullptr) {
    // Note windows are shaped X11 windows; under a Wayland session Qt would
    // otherwise pick its Wayland platform, where shapes and placement differ.
    if (std::getenv("DISPLAY") != nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
      setenv("QT_QPA_PLATFORM", "xcb", 0);
    }
    own_qt_app_ = std::make_unique<QApplication>(argc, argv);
  }
  // The program lives in the tray: closing its last window does not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  Application = this;
  Screen = new TScreen(this);
}

TApplication::~TApplication() {
  // The windows leave the screen from the back one to the front one, so that
  // none uncovers another on its way: the display would otherwise work out
  // and paint what shows beneath each, again for every window above it.
  for (int i = Screen->FormCount() - 1; i >= 0; --i) {
    TCustomForm* form = Screen->Forms(i);
    if (form->HandleAllocated()) form->Handle()->hide();
  }
  // Forms and data modules run OnDestroy while they are whole, the last
  // created first, before anything is deleted.
  for (int i = ComponentCount() - 1; i >= 0; --i) {
    if (auto* form = dynamic_cast<TCustomForm*>(Components(i))) {
      form->BeforeDestruction();
    } else if (auto* module = dynamic_cast<TDataModule*>(Components(i))) {
      module->BeforeDestruction();
    }
  }
  DestroyComponents();
  Screen = nullptr;
  Application = nullptr;
}

void TApplication::Run() {
  if (main_form_ != nullptr && show_main_form_) main_form_->Show();
  if (!terminated_) QApplication::exec();
}

void TApplication::Terminate() {
  terminated_ = true;
  // quit() would first ask every window to close, and a form answers that
  // with its own close command, which cancels the quit; exit() leaves every
  // running loop whatever windows are open.
  QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(Exception("Unknown exception"));
  }
}

void TApplication::ShowException(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  std::string text = own != nullptr ? own->Message() : error.what();
  // The host ends the shown text with a full stop unless it ends in one (or
  // in a character that sorts at or below it).
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  std::string caption = title_;
  if (caption.empty()) caption = FromQString(QCoreApplication::applicationName());
  try {
    Dialogs().MessageBox(caption, text, TMsgDlgType::mtError, mbOK);
  } catch (...) {
    // Nothing is left to show the error with; keep it on the console.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

void TApplication::FormDestroyed(TCustomForm* form) {
  if (main_form_ == form) main_form_ = nullptr;
}

TScreen::TScreen(TComponent* owner) : TComponent(owner) {}

TCustomForm* TScreen::Forms(int index) const {
  if (index < 0 || index >= FormCount()) throw EListError("List index out of bounds");
  return forms_[static_cast<size_t>(index)];
}

TCustomForm* TScreen::ActiveForm() const {
  const QWidget* active = QApplication::activeWindow();
  if (active == nullptr) return nullptr;
  for (TCustomForm* form : forms_) {
    if (form->HandleAllocated() && form->Handle() == active) return form;
  }
  return nullptr;
}

int TScreen::Width() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->geometry().width() : 0;
}

int TScreen::Height() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->geometry().height() : 0;
}

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == cursor_) return;
  if (cursor_ != crDefault) QApplication::restoreOverrideCursor();
  cursor_ = cursor;
  switch (cursor) {
    case crDefault:
      break;
    case crHourGlass:
      QApplication::setOverrideCursor(Qt::WaitCursor);
      break;
    case crCross:
      QApplication::setOverrideCursor(Qt::CrossCursor);
      break;
    case crIBeam:
      QApplication::setOverrideCursor(Qt::IBeamCursor);
      break;
    case crSizeAll:
      QApplication::setOverrideCursor(Qt::SizeAllCursor);
      break;
    case crHandPoint:
      QApplication::setOverrideCursor(Qt::PointingHandCursor);
      break;
    default:
      QApplication::setOverrideCursor(Qt::ArrowCursor);
      break;
  }
}

void TScreen::AddForm(TCustomForm* form) {
  forms_.push_back(form);
}

void TScreen::RemoveForm(TCustomForm* form) {
  std::erase(forms_, form);
}

void TScreen::MoveToFront(TCustomForm* form) {
  auto it = std::find(forms_.begin(), forms_.end(), form);
  if (it == forms_.end()) return;
  std::rotate(forms_.begin(), it, it + 1);
}

void CallGuarded(const std::function<void()>& fn) noexcept {
  try {
    fn();
  } catch (...) {
    if (Application != nullptr) {
      Application->HandleException();
    } else {
      std::fprintf(stderr, "Unhandled exception without an application\n");
    }
  }
}

}  // namespace jw
