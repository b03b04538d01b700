// Top-level windows: TCustomForm/TForm (border style, position, stacking,
// show, close, modal runs, key presses) and TDataModule. Forms are built in
// two phases: the constructor creates the components inside a loading scope,
// then AfterConstruction calls Loaded on each and runs OnCreate. MakeForm
// does both.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/controls.h"
#include "platform/gui/region.h"
#include "platform/rtl/component.h"

namespace jw {

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TPosition { poDesigned, poDefault, poScreenCenter, poDesktopCenter, poMainFormCenter };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;

using TCloseEvent = std::function<void(TPersistent* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TPersistent* sender, bool& can_close)>;

class TCustomForm : public TWinControl {
 public:
  // Opens the loading scope in which the derived constructor creates the
  // form's components.
  explicit TCustomForm(TComponent* owner);
  ~TCustomForm() override;

  // Ends the loading scope (Loaded on each component in creation order, the
  // form last) and runs OnCreate. Call once, right after the constructor.
  void AfterConstruction();
  // Runs OnDestroy, destroys the window (WM_DESTROY) and the owned
  // components while the form is whole. The destructor calls it when nobody
  // did; a derived form whose OnDestroy uses its own fields calls it first in
  // its destructor.
  void BeforeDestruction();

  TFormBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle style);
  TFormStyle FormStyle() const { return form_style_; }
  // Takes effect when the window is made (stay-on-top is chosen then).
  void SetFormStyle(TFormStyle style) { form_style_ = style; }
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  void SetCaption(const std::string& caption) override;
  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;
  void SetCursor(TCursor cursor) override;
  bool KeyPreview() const { return key_preview_; }
  void SetKeyPreview(bool preview) { key_preview_ = preview; }

  void SetVisible(bool visible) override;
  TPoint ClientToScreen(TPoint point) const override;
  // Takes the window's place on the screen from the display server into
  // Left and Top: a window manager that frames the window can leave its move
  // events telling the place inside the frame. Left and Top stay as they are
  // where the server cannot tell.
  void ReadPlaceFromScreen();

  // Shows the form and moves it to the front of the screen's forms.
  void Show();
  // Shows the forms stacked in one pass, the first at the bottom, without
  // raising or activating each one: many windows appear at once without a
  // round of activation for each. The forms go on showing without taking the
  // focus; Show and BringToFront still activate.
  static void ShowStacked(const std::vector<TCustomForm*>& bottom_to_top);
  void Hide() { SetVisible(false); }
  // As the user's close: OnCloseQuery, then OnClose with caHide, then the
  // chosen action. The main form's close ends the application's run; a modal
  // form's close answers mrCancel.
  void Close();
  // Deletes the form once the current event has been handled.
  void Release();
  // Shows the form modally and runs events until ModalResult is set or the
  // form hides; returns the result and hides the form.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result) { modal_result_ = result; }
  bool Modal() const { return modal_; }
  bool Active() const;
  void BringToFront();
  void Minimize();

  // The window's shape, in window coordinates; null removes it. The form
  // keeps its own copy, as a window owns the region it was given.
  void SetWindowRegion(const TRegion* region, bool redraw);
  const std::optional<TRegion>& WindowRegion() const { return window_region_; }

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnPaint;
  TNotifyEvent OnResize;
  TNotifyEvent OnActivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;
  TKeyPressEvent OnKeyPress;

  void WndProc(TMessage& message) override;

  // The layer's key path: short cuts of the form's pop-up menus first, then
  // Return and Escape as CM_DIALOGKEY to the controls, then OnKeyPress. Returns true when the key
  // was taken.
  bool HandleKey(int qt_key, int qt_modifiers, const std::string& text);

 protected:
  // Every form is a tool window (no taskbar entry); fsStayOnTop adds
  // WS_EX_TOPMOST. Overrides call the inherited one and may add to it.
  void CreateParams(TCreateParams& params) override;
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void Paint() override;
  virtual void DoShow();
  virtual void DoHide();

 private:
  friend class FormAccess;

  void ApplyPosition();
  void ApplyWindowFlags(QWidget& widget) const;

  std::unique_ptr<TLoadingScope> loading_;
  TFormBorderStyle border_style_ = TFormBorderStyle::bsSizeable;
  TFormStyle form_style_ = TFormStyle::fsNormal;
  TPosition position_ = TPosition::poDesigned;
  bool key_preview_ = false;
  TModalResult modal_result_ = mrNone;
  bool modal_ = false;
  bool positioned_ = false;
  bool destroyed_ = false;
  bool release_pending_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // watched by Release
  std::optional<TRegion> window_region_;
};

class TForm : public TCustomForm {
 public:
  using TCustomForm::TCustomForm;
};

// A holder of non-visual components, built in the same two phases.
class TDataModule : public TComponent {
 public:
  explicit TDataModule(TComponent* owner);
  ~TDataModule() override;

  void AfterConstruction();
  void BeforeDestruction();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;

 private:
  std::unique_ptr<TLoadingScope> loading_;
  bool destroyed_ = false;
};

// The original platform's call: gives form the region (window coordinates)
// as its shape, or removes the shape for null.
inline void SetWindowRgn(TCustomForm& form, const TRegion* region, bool redraw) {
  form.SetWindowRegion(region, redraw);
}

// Creates a form or data module of type T owned by owner and completes its
// construction.
template <class T, class... Args>
T* MakeForm(TComponent* owner, Args&&... args) {
  auto form = std::make_unique<T>(owner, std::forward<Args>(args)...);
  form->AfterConstruction();
  return form.release();
}

}  // namespace jw
