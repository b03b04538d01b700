// TApplication (the Qt application, the main form, the event loop and the
// one exception guard every entry from Qt passes through) and TScreen (the
// forms front first, the screen size, the cursor, the drag setting).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/gui/forms.h"
#include "platform/rtl/component.h"

class QApplication;

namespace jw {

class TApplication : public TComponent {
 public:
  // Makes the Qt application (Qt's xcb platform when DISPLAY is set and no
  // platform was chosen) unless one exists, and sets the global Application
  // and Screen. One instance per process.
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  TCustomForm* MainForm() const { return main_form_; }
  bool ShowMainForm() const { return show_main_form_; }
  void SetShowMainForm(bool show) { show_main_form_ = show; }

  // Creates a form of type T owned by the application; the first form made
  // this way becomes the main form.
  template <class T>
  T* CreateForm() {
    T* form = MakeForm<T>(this);
    if (main_form_ == nullptr) {
      if constexpr (std::is_base_of_v<TCustomForm, T>) main_form_ = form;
    }
    return form;
  }

  // Shows the main form (unless ShowMainForm is off) and runs the event loop
  // until Terminate.
  void Run();
  // Ends every running event loop, whatever windows are open; no form is
  // asked to close.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Handles the events that are waiting, then returns.
  void ProcessMessages();
  // Shows the exception being handled in a message box captioned with the
  // title, with the error icon; EAbort is silent. Call inside a catch block.
  void HandleException();
  void ShowException(const std::exception& error);

 private:
  friend class TCustomForm;
  void FormDestroyed(TCustomForm* form);

  std::unique_ptr<QApplication> own_qt_app_;
  std::string title_;
  TCustomForm* main_form_ = nullptr;
  bool show_main_form_ = true;
  bool terminated_ = false;
};

class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* owner);

  int FormCount() const { return static_cast<int>(forms_.size()); }
  // The forms, the front-most first: a form moves to the front when it is
  // shown, activated or raised.
  TCustomForm* Forms(int index) const;
  TCustomForm* ActiveForm() const;
  int Width() const;
  int Height() const;

  TCursor Cursor() const { return cursor_; }
  // crHourGlass shows the busy cursor over every window until crDefault.
  void SetCursor(TCursor cursor);

  // Whether windows are dragged whole (true, the default) or as a frame.
  bool DragFullWindows() const { return drag_full_windows_; }
  void SetDragFullWindows(bool on) { drag_full_windows_ = on; }

 private:
  friend class TCustomForm;
  friend class FormAccess;
  void AddForm(TCustomForm* form);
  void RemoveForm(TCustomForm* form);
  void MoveToFront(TCustomForm* form);

  std::vector<TCustomForm*> forms_;
  TCursor cursor_ = crDefault;
  bool drag_full_windows_ = true;
};

extern TApplication* Application;
extern TScreen* Screen;

// Runs fn; an exception goes to Application->HandleException and stops
// there, so none crosses Qt's event dispatch.
void CallGuarded(const std::function<void()>& fn) noexcept;

}  // namespace jw
