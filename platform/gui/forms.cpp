#include "platform/gui/forms.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include "platform/gui/application.h"
#include "platform/gui/keys.h"
#include "platform/gui/menus.h"
#include "platform/gui/qt_convert.h"
#include "platform/gui/screen_place.h"
#include "platform/gui/widget_bridge.h"

namespace jw {

namespace {

// The widget of a top-level form: adds the window manager's requests and
// key presses to what every control's widget does.
class FormWidget : public WidgetBridge {
 public:
  FormWidget(TCustomForm& form, Qt::WindowFlags flags)
      : WidgetBridge(form, nullptr, flags), form_(form) {}

 protected:
  bool event(QEvent* event) override {
    switch (event->type()) {
      case QEvent::Close: {
        // The form decides in Close(); Qt never closes the window itself.
        event->ignore();
        TMessage message{WM_SYSCOMMAND, SC_CLOSE, 0, 0};
        CallGuarded([&] { form_.Perform(message); });
        return true;
      }
      case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        bool taken = false;
        CallGuarded([&] {
          taken = form_.HandleKey(key->key(), static_cast<int>(key->modifiers()),
                                  FromQString(key->text()));
        });
        if (!taken) return WidgetBridge::event(event);
        return true;
      }
      case QEvent::WindowStateChange:
        if (isMinimized() && event->spontaneous()) {
          TMessage message{WM_SYSCOMMAND, SC_MINIMIZE, 0, 0};
          bool default_ran = true;
          CallGuarded([&] { default_ran = PerformDefault(message); });
          if (!default_ran) showNormal();
        }
        return WidgetBridge::event(event);
      case QEvent::WindowActivate:
        CallGuarded([&] { Activated(); });
        return WidgetBridge::event(event);
      default:
        return WidgetBridge::event(event);
    }
  }

 private:
  bool PerformDefault(TMessage& message);
  void Activated();

  TCustomForm& form_;
};

}  // namespace

// Reaches the protected and private parts of a form for its widget.
class FormAccess {
 public:
  static bool PerformDefault(TCustomForm& form, TMessage& message) {
    return form.PerformReportingDefault(message);
  }
  static void Activated(TCustomForm& form) {
    if (Screen != nullptr) Screen->MoveToFront(&form);
    if (form.OnActivate) form.OnActivate(&form);
  }
};

bool FormWidget::PerformDefault(TMessage& message) {
  return FormAccess::PerformDefault(form_, message);
}
void FormWidget::Activated() {
  FormAccess::Activated(form_);
}

// ------------------------------------------------------------- TCustomForm

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  visible_ = false;
  SetBounds(0, 0, 320, 240);
  if (Screen != nullptr) Screen->AddForm(this);
  loading_ = std::make_unique<TLoadingScope>(*this);
}

TCustomForm::~TCustomForm() {
  BeforeDestruction();
}

void TCustomForm::AfterConstruction() {
  if (loading_) {
    std::unique_ptr<TLoadingScope> scope = std::move(loading_);
    scope->End();
  }
  if (OnCreate) OnCreate(this);
}

void TCustomForm::BeforeDestruction() {
  if (destroyed_) return;
  destroyed_ = true;
  alive_.reset();
  if (OnDestroy) CallGuarded([&] { OnDestroy(this); });
  Destroying();
  DestroyHandle();
  DestroyComponents();
  if (Screen != nullptr) Screen->RemoveForm(this);
  if (Application != nullptr) Application->FormDestroyed(this);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  if (HandleAllocated()) {
    const bool shown = Visible();
    ApplyWindowFlags(*Handle());
    if (shown) Handle()->show();
  }
}

void TCustomForm::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  if (HandleAllocated()) Handle()->setWindowTitle(ToQString(caption));
}

void TCustomForm::SetHint(const std::string& hint) {
  TControl::SetHint(hint);
}
void TCustomForm::SetShowHint(bool show) {
  TControl::SetShowHint(show);
}

void TCustomForm::SetCursor(TCursor cursor) {
  TControl::SetCursor(cursor);
  if (!HandleAllocated()) return;
  switch (cursor) {
    case crHourGlass:
      Handle()->setCursor(Qt::WaitCursor);
      break;
    case crSizeAll:
      Handle()->setCursor(Qt::SizeAllCursor);
      break;
    case crHandPoint:
      Handle()->setCursor(Qt::PointingHandCursor);
      break;
    default:
      Handle()->unsetCursor();
      break;
  }
}

void TCustomForm::SetVisible(bool visible) {
  if (visible == Visible()) return;
  visible_ = visible;
  if (visible) {
    QWidget* widget = Handle();
    ApplyPosition();
    DoShow();
    widget->show();
    if (Screen != nullptr) Screen->MoveToFront(this);
  } else {
    if (HandleAllocated()) Handle()->hide();
    DoHide();
  }
}

TPoint TCustomForm::ClientToScreen(TPoint point) const {
  return {point.X + Left(), point.Y + Top()};
}

void TCustomForm::ReadPlaceFromScreen() {
  if (!HandleAllocated()) return;
  if (const std::optional<QPoint> place = WindowPlaceOnScreen(*Handle())) {
    left_ = place->x();
    top_ = place->y();
  }
}

void TCustomForm::Show() {
  SetVisible(true);
  BringToFront();
}

// A hidden window costs the display nothing to restack, while raising a
// shown one redraws all it overlaps: the windows take their order first and
// then show in it. The window system learns when a window is made that it
// shows without taking the focus, so the forms keep that; Show and
// BringToFront ask for the focus themselves.
void TCustomForm::ShowStacked(const std::vector<TCustomForm*>& bottom_to_top) {
  for (TCustomForm* form : bottom_to_top) {
    QWidget* widget = form->Handle();
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    widget->winId();  // a window is stacked once it exists
    widget->raise();
  }
  for (TCustomForm* form : bottom_to_top) form->SetVisible(true);
  if (Screen == nullptr) return;
  for (TCustomForm* form : bottom_to_top) Screen->MoveToFront(form);
}

void TCustomForm::Close() {
  if (modal_) {
    modal_result_ = mrCancel;
    return;
  }
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(this, can_close);
  if (!can_close) return;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  if (Application != nullptr && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  switch (action) {
    case TCloseAction::caHide:
      Hide();
      break;
    case TCloseAction::caMinimize:
      Minimize();
      break;
    case TCloseAction::caFree:
      Release();
      break;
    case TCloseAction::caNone:
      break;
  }
}

void TCustomForm::Release() {
  if (release_pending_) return;
  release_pending_ = true;
  QTimer::singleShot(0, [this, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired()) return;
    CallGuarded([this] {
      BeforeDestruction();
      delete this;
    });
  });
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  modal_ = true;
  modal_result_ = mrNone;
  Handle()->setWindowModality(Qt::ApplicationModal);
  // A modal form waits for the user: it stays above the windows that stay
  // on top (notes), which would cover its buttons.
  const bool on_top = Handle()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  if (!on_top) Handle()->setWindowFlag(Qt::WindowStaysOnTopHint);
  auto finish = [this, on_top] {
    modal_ = false;
    Hide();
    if (!HandleAllocated()) return;
    Handle()->setWindowModality(Qt::NonModal);
    if (!on_top) Handle()->setWindowFlag(Qt::WindowStaysOnTopHint, false);
  };
  try {
    Show();
    QEventLoop loop;
    for (;;) {
      while (modal_result_ == mrNone && Visible() &&
             !(Application != nullptr && Application->Terminated())) {
        loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
      }
      if (modal_result_ == mrNone) {
        modal_result_ = mrCancel;
        break;
      }
      bool can_close = true;
      if (OnCloseQuery) OnCloseQuery(this, can_close);
      TCloseAction action = TCloseAction::caHide;
      if (can_close && OnClose) OnClose(this, action);
      if (can_close && action != TCloseAction::caNone) break;
      modal_result_ = mrNone;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return modal_result_;
}

bool TCustomForm::Active() const {
  return const_cast<TCustomForm*>(this)->HandleAllocated() &&
         const_cast<TCustomForm*>(this)->Handle()->isActiveWindow();
}

void TCustomForm::BringToFront() {
  if (HandleAllocated() && Visible()) {
    Handle()->raise();
    Handle()->activateWindow();
  }
  if (Screen != nullptr) Screen->MoveToFront(this);
}

void TCustomForm::Minimize() {
  if (HandleAllocated()) Handle()->showMinimized();
}

void TCustomForm::SetWindowRegion(const TRegion* region, bool redraw) {
  if (region != nullptr) {
    window_region_ = *region;
  } else {
    window_region_.reset();
  }
  if (!HandleAllocated()) return;
  if (window_region_) {
    Handle()->setMask(window_region_->ToQRegion());
  } else {
    Handle()->clearMask();
  }
  if (redraw) Invalidate();
}

void TCustomForm::WndProc(TMessage& message) {
  TWinControl::WndProc(message);
  if (message.Msg == WM_SYSCOMMAND && (message.WParam & 0xFFF0) == SC_CLOSE) Close();
}

bool TCustomForm::HandleKey(int qt_key, int qt_modifiers, const std::string& text) {
  if (const TShortCut short_cut = ShortCutFromQtKey(qt_key, qt_modifiers); short_cut != 0) {
    std::vector<TPopupMenu*> menus;
    std::vector<TControl*> pending{this};
    while (!pending.empty()) {
      TControl* c = pending.back();
      pending.pop_back();
      if (c->PopupMenu() != nullptr &&
          std::find(menus.begin(), menus.end(), c->PopupMenu()) == menus.end()) {
        menus.push_back(c->PopupMenu());
      }
      if (auto* windowed = dynamic_cast<TWinControl*>(c)) {
        for (int i = 0; i < windowed->ControlCount(); ++i) pending.push_back(windowed->Controls(i));
      }
    }
    for (TPopupMenu* menu : menus) {
      if (menu->IsShortCut(short_cut)) return true;
    }
  }
  // Return and Escape go to the default and cancel buttons first.
  if ((qt_modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0) {
    const uint16_t vk = VirtualKeyCode(qt_key);
    if (vk == VK_RETURN || vk == VK_ESCAPE) {
      TMessage message{CM_DIALOGKEY, vk, 0, 0};
      Perform(message);
      if (message.Result != 0) return true;
    }
  }
  char32_t key = KeyPressChar(qt_key, qt_modifiers, text);
  if (key == 0) return false;
  if (OnKeyPress) OnKeyPress(this, key);
  return true;
}

void TCustomForm::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  params.WndParent = nullptr;
  params.ExStyle |= WS_EX_TOOLWINDOW;
  if (form_style_ == TFormStyle::fsStayOnTop) params.ExStyle |= WS_EX_TOPMOST;
}

std::unique_ptr<QWidget> TCustomForm::CreateWidget(const TCreateParams& params) {
  Qt::WindowFlags flags = Qt::Tool;
  if (params.ExStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
  auto widget = std::make_unique<FormWidget>(*this, flags);
  ApplyWindowFlags(*widget);
  widget->setWindowTitle(ToQString(Caption()));
  if (window_region_) widget->setMask(window_region_->ToQRegion());
  return widget;
}

void TCustomForm::ApplyWindowFlags(QWidget& widget) const {
  widget.setWindowFlag(Qt::FramelessWindowHint, border_style_ == TFormBorderStyle::bsNone);
}

void TCustomForm::Paint() {
  Canvas().Brush().SetColor(Color());
  Canvas().FillRect(ClientRect());
  if (OnPaint) OnPaint(this);
}

void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}

void TCustomForm::ApplyPosition() {
  if (positioned_) return;
  positioned_ = true;
  if (position_ == TPosition::poScreenCenter || position_ == TPosition::poDesktopCenter ||
      position_ == TPosition::poMainFormCenter) {
    if (Screen != nullptr) {
      SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2, Width(),
                Height());
    }
  }
}

// ------------------------------------------------------------- TDataModule

TDataModule::TDataModule(TComponent* owner)
    : TComponent(owner), loading_(std::make_unique<TLoadingScope>(*this)) {}

TDataModule::~TDataModule() {
  BeforeDestruction();
}

void TDataModule::AfterConstruction() {
  if (loading_) {
    std::unique_ptr<TLoadingScope> scope = std::move(loading_);
    scope->End();
  }
  if (OnCreate) OnCreate(this);
}

void TDataModule::BeforeDestruction() {
  if (destroyed_) return;
  destroyed_ = true;
  if (OnDestroy) CallGuarded([&] { OnDestroy(this); });
  Destroying();
  DestroyComponents();
}

}  // namespace jw
