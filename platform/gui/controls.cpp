#include "platform/gui/controls.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/forms.h"
#include "platform/gui/menus.h"
#include "platform/gui/qt_convert.h"
#include "platform/gui/widget_bridge.h"

namespace jw {

namespace {

uintptr_t KeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  uintptr_t keys = 0;
  if (buttons & Qt::LeftButton) keys |= MK_LBUTTON;
  if (buttons & Qt::RightButton) keys |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
  return keys;
}

constexpr uint32_t kLeftDoubleClick = 0x0203;

}  // namespace

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (parent != nullptr) parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  Invalidate();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  BoundsChanged();
  Invalidate();
  if (parent_ != nullptr && align_ != TAlign::alNone) parent_->Realign();
}

TPoint TControl::ClientToScreen(TPoint point) const {
  if (parent_ == nullptr) return {point.X + left_, point.Y + top_};
  return parent_->ClientToScreen({point.X + left_, point.Y + top_});
}

TPoint TControl::ScreenToClient(TPoint point) const {
  const TPoint origin = ClientToScreen({0, 0});
  return {point.X - origin.X, point.Y - origin.Y};
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Invalidate();
  if (parent_ != nullptr) parent_->Invalidate();
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (menu == popup_menu_) return;
  if (popup_menu_ != nullptr) popup_menu_->RemoveFreeNotification(this);
  popup_menu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TControl::SetHint(const std::string& hint) {
  hint_ = hint;
}

void TControl::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Invalidate();
}

void TControl::Invalidate() {
  if (parent_ != nullptr) parent_->Invalidate();
}

void TControl::Update() {
  for (TControl* c = this; c != nullptr; c = c->parent_) {
    if (auto* windowed = dynamic_cast<TWinControl*>(c); windowed && windowed->HandleAllocated()) {
      windowed->Handle()->repaint();
      return;
    }
  }
}

void TControl::BringToFront() {
  if (parent_ == nullptr) return;
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  Invalidate();
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == popup_menu_) popup_menu_ = nullptr;
}

// --------------------------------------------------------- TGraphicControl

namespace {

// A graphic control's canvas: drawing outside the parent's paint becomes a
// repaint request, since Qt paints a widget only inside its paint event.
class GraphicControlCanvas : public TCanvas {
 public:
  explicit GraphicControlCanvas(TGraphicControl& control) : control_(control) {}

 protected:
  void DrawingRefused() override { control_.Invalidate(); }

 private:
  TGraphicControl& control_;
};

class WindowCanvas : public TCanvas {
 public:
  explicit WindowCanvas(TWinControl& control) : control_(control) {}

 protected:
  void DrawingRefused() override { control_.Invalidate(); }

 private:
  TWinControl& control_;
};

}  // namespace

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), canvas_(std::make_unique<GraphicControlCanvas>(*this)) {}

TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::Invalidate() {
  TWinControl* parent = Parent();
  if (parent != nullptr && parent->HandleAllocated())
    parent->Handle()->update(ToQRect(BoundsRect()));
}

// ------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* owner)
    : TControl(owner), canvas_(std::make_unique<WindowCanvas>(*this)) {}

TWinControl::~TWinControl() {
  DestroyHandle();
  for (TControl* child : controls_) child->parent_ = nullptr;
  controls_.clear();
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount()) throw EListError("List index out of bounds");
  return controls_[static_cast<size_t>(index)];
}

TControl* TWinControl::ControlAtPos(TPoint point, bool allow_disabled) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (c->Visible() && (c->Enabled() || allow_disabled) &&
        c->BoundsRect().Contains(point.X, point.Y)) {
      return c;
    }
  }
  return nullptr;
}

QWidget* TWinControl::Handle() {
  // A parent without a widget makes this control's widget along with its
  // siblings; making it here first would leave two.
  if (!widget_ && Parent() != nullptr && !Parent()->HandleAllocated()) Parent()->Handle();
  if (!widget_) {
    TCreateParams params;
    CreateParams(params);
    widget_ = CreateWidget(params);
    widget_->setGeometry(Left(), Top(), Width(), Height());
    ApplyToolTip();
    widget_->setEnabled(Enabled());
    // Hidden explicitly, or Qt would show the child with its parent.
    if (Parent() != nullptr) widget_->setVisible(Visible());
    // Windowed children follow their parent onto the new widget; those
    // without one get theirs now, so a shown window shows its controls.
    for (TControl* child : controls_) {
      auto* windowed = dynamic_cast<TWinControl*>(child);
      if (windowed == nullptr) continue;
      if (!windowed->widget_) {
        windowed->Handle();
        continue;
      }
      windowed->widget_->setParent(widget_.get());
      windowed->widget_->setVisible(windowed->Visible());
    }
  }
  return widget_.get();
}

bool TWinControl::HandleAllocated() const {
  return widget_ != nullptr;
}

void TWinControl::DestroyHandle() {
  if (!widget_) return;
  for (TControl* child : controls_) {
    if (auto* windowed = dynamic_cast<TWinControl*>(child)) windowed->DestroyHandle();
  }
  TMessage message{WM_DESTROY, 0, 0, 0};
  CallGuarded([&] { Perform(message); });
  widget_.reset();
  mouse_capture_ = nullptr;
}

void TWinControl::Perform(TMessage& message) {
  TWindowProc chain = [this](TMessage& m) { WndProc(m); };
  for (const auto& entry : hooks_) {
    chain = [hook = entry.second, previous = std::move(chain)](TMessage& m) { hook(m, previous); };
  }
  chain(message);
}

int TWinControl::HookWindowProc(TWindowHook hook) {
  const int id = next_hook_id_++;
  hooks_.emplace_back(id, std::move(hook));
  return id;
}

void TWinControl::UnhookWindowProc(int id) {
  std::erase_if(hooks_, [id](const auto& entry) { return entry.first == id; });
}

void TWinControl::WndProc(TMessage& message) {
  DefaultHandler(message);
}

bool TWinControl::PerformReportingDefault(TMessage& message) {
  default_ran_ = false;
  Perform(message);
  return default_ran_;
}

void TWinControl::DefaultHandler(TMessage& message) {
  default_ran_ = true;
  const TPoint point{LParamX(message), LParamY(message)};
  const TShiftState shift = KeysToShiftState(message.WParam);
  auto target_at = [&](TPoint p) -> TControl* {
    if (mouse_capture_ != nullptr) return mouse_capture_;
    TControl* child = ControlAtPos(p, false);
    return child != nullptr && dynamic_cast<TWinControl*>(child) == nullptr ? child : this;
  };
  auto local = [&](TControl* target) {
    return target == this ? point : TPoint{point.X - target->Left(), point.Y - target->Top()};
  };
  switch (message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: {
      TControl* target = target_at(point);
      if (target != this) mouse_capture_ = target;
      const TPoint p = local(target);
      target->MouseDown(
          message.Msg == WM_LBUTTONDOWN ? TMouseButton::mbLeft : TMouseButton::mbRight, shift, p.X,
          p.Y);
      break;
    }
    case WM_MOUSEMOVE: {
      TControl* target = target_at(point);
      const TPoint p = local(target);
      target->MouseMove(shift, p.X, p.Y);
      break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: {
      TControl* target = target_at(point);
      if ((message.WParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) mouse_capture_ = nullptr;
      const TPoint p = local(target);
      const bool left = message.Msg == WM_LBUTTONUP;
      target->MouseUp(left ? TMouseButton::mbLeft : TMouseButton::mbRight, shift, p.X, p.Y);
      const bool inside = target == this ? ClientRect().Contains(p.X, p.Y)
                                         : target->ClientRect().Contains(p.X, p.Y);
      if (left && inside && (target->ControlStyle() & csClickEvents)) target->Click();
      if (!left) {
        for (TControl* c = target; c != nullptr; c = c->Parent()) {
          TPopupMenu* menu = c->PopupMenu();
          if (menu == nullptr) continue;
          if (menu->AutoPopup()) {
            menu->SetPopupComponent(c);
            const QPoint at = QCursor::pos();
            menu->Popup(at.x(), at.y());
          }
          break;
        }
      }
      break;
    }
    case kLeftDoubleClick:
      target_at(point)->DblClick();
      break;
    case CM_DIALOGKEY:
      for (TControl* c : std::vector<TControl*>(controls_)) {
        auto* windowed = dynamic_cast<TWinControl*>(c);
        if (windowed == nullptr) continue;
        windowed->Perform(message);
        if (message.Result != 0) break;
      }
      break;
    default:
      break;
  }
}

void TWinControl::SetVisible(bool visible) {
  TControl::SetVisible(visible);
  if (widget_ && Parent() != nullptr) widget_->setVisible(visible);
}

void TWinControl::SetHint(const std::string& hint) {
  TControl::SetHint(hint);
  ApplyToolTip();
}

void TWinControl::SetShowHint(bool show) {
  TControl::SetShowHint(show);
  ApplyToolTip();
}

// Qt's own widgets (buttons, edits) show the hint as their tool tip; the
// layer's bridge widgets answer tool tip requests themselves.
void TWinControl::ApplyToolTip() {
  if (widget_) widget_->setToolTip(ShowHint() ? ToQString(Hint()) : QString());
}

void TWinControl::Invalidate() {
  if (widget_) widget_->update();
}

void TWinControl::SetEnabled(bool enabled) {
  TControl::SetEnabled(enabled);
  if (widget_) widget_->setEnabled(enabled);
}

void TWinControl::SetFocus() {
  Handle()->setFocus(Qt::OtherFocusReason);
}

void TWinControl::Realign() {
  TRect free = ClientRect();
  for (TControl* c : controls_) {
    if (!c->Visible()) continue;
    switch (c->Align()) {
      case TAlign::alNone:
        break;
      case TAlign::alTop:
        c->SetBounds(free.Left, free.Top, free.Width(), c->Height());
        free.Top += c->Height();
        break;
      case TAlign::alBottom:
        c->SetBounds(free.Left, free.Bottom - c->Height(), free.Width(), c->Height());
        free.Bottom -= c->Height();
        break;
      case TAlign::alLeft:
        c->SetBounds(free.Left, free.Top, c->Width(), free.Height());
        free.Left += c->Width();
        break;
      case TAlign::alRight:
        c->SetBounds(free.Right - c->Width(), free.Top, c->Width(), free.Height());
        free.Right -= c->Width();
        break;
      case TAlign::alClient:
        break;
    }
  }
  for (TControl* c : controls_) {
    if (c->Visible() && c->Align() == TAlign::alClient) {
      c->SetBounds(free.Left, free.Top, std::max(free.Width(), 0), std::max(free.Height(), 0));
    }
  }
}

void TWinControl::CreateParams(TCreateParams& params) {
  params.WndParent = Parent();
}

std::unique_ptr<QWidget> TWinControl::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  return std::make_unique<WidgetBridge>(*this, parent, Qt::Widget);
}

void TWinControl::BoundsChanged() {
  if (widget_) widget_->setGeometry(Left(), Top(), Width(), Height());
  Realign();
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
  control->parent_ = this;
  if (auto* windowed = dynamic_cast<TWinControl*>(control); windowed && windowed->widget_) {
    windowed->widget_->setParent(HandleAllocated() ? widget_.get() : nullptr);
  }
  if (control->Align() != TAlign::alNone) Realign();
  control->Invalidate();
}

void TWinControl::RemoveControl(TControl* control) {
  control->Invalidate();
  std::erase(controls_, control);
  if (mouse_capture_ == control) mouse_capture_ = nullptr;
  control->parent_ = nullptr;
}

void TWinControl::PaintAll(QWidget& widget, const TRect& dirty) {
  QPainter painter(&widget);
  painter.setClipRect(ToQRect(dirty));
  canvas_->BindPainter(&painter, {0, 0});
  CallGuarded([&] { Paint(); });
  canvas_->UnbindPainter();
  for (TControl* c : std::vector<TControl*>(controls_)) {
    auto* graphic = dynamic_cast<TGraphicControl*>(c);
    if (graphic == nullptr || !graphic->Visible()) continue;
    const TRect bounds = graphic->BoundsRect();
    painter.save();
    painter.setClipRect(ToQRect(bounds), Qt::IntersectClip);
    graphic->Canvas().BindPainter(&painter, {bounds.Left, bounds.Top});
    CallGuarded([&] { graphic->Paint(); });
    graphic->Canvas().UnbindPainter();
    painter.restore();
  }
}

TCustomForm* GetParentForm(TControl* control) {
  while (control != nullptr && control->Parent() != nullptr) control = control->Parent();
  return dynamic_cast<TCustomForm*>(control);
}

// ------------------------------------------------------------ WidgetBridge

WidgetBridge::WidgetBridge(TWinControl& control, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), control_(control) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void WidgetBridge::MouseMessage(uint32_t msg, QEvent* event) {
  auto* mouse = static_cast<QMouseEvent*>(event);
  const QPoint p = mouse->position().toPoint();
  TMessage message{msg, KeyFlags(mouse->buttons(), mouse->modifiers()), MakeLParam(p.x(), p.y()),
                   0};
  CallGuarded([&] { control_.Perform(message); });
}

bool WidgetBridge::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      const auto button = static_cast<QMouseEvent*>(event)->button();
      if (button == Qt::LeftButton) MouseMessage(WM_LBUTTONDOWN, event);
      if (button == Qt::RightButton) MouseMessage(WM_RBUTTONDOWN, event);
      return true;
    }
    case QEvent::MouseButtonRelease: {
      const auto button = static_cast<QMouseEvent*>(event)->button();
      if (button == Qt::LeftButton) MouseMessage(WM_LBUTTONUP, event);
      if (button == Qt::RightButton) MouseMessage(WM_RBUTTONUP, event);
      return true;
    }
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        MouseMessage(kLeftDoubleClick, event);
      }
      return true;
    case QEvent::MouseMove:
      MouseMessage(WM_MOUSEMOVE, event);
      return true;
    case QEvent::Paint: {
      const QRect r = static_cast<QPaintEvent*>(event)->rect();
      control_.PaintAll(*this, FromQRect(r));
      return true;
    }
    case QEvent::Resize:
    case QEvent::Move: {
      const QRect g = geometry();
      const bool resized = g.width() != control_.Width() || g.height() != control_.Height();
      control_.left_ = g.x();
      control_.top_ = g.y();
      control_.width_ = g.width();
      control_.height_ = g.height();
      if (resized) {
        control_.Realign();
        const uintptr_t kind = isMinimized() ? SIZE_MINIMIZED : SIZE_RESTORED;
        TMessage message{WM_SIZE, kind, MakeLParam(g.width(), g.height()), 0};
        CallGuarded([&] { control_.Perform(message); });
      }
      return QWidget::event(event);
    }
    case QEvent::ToolTip: {
      auto* help = static_cast<QHelpEvent*>(event);
      TControl* c = control_.ControlAtPos({help->pos().x(), help->pos().y()}, false);
      if (c == nullptr) c = &control_;
      // A control without a hint of its own shows the nearest parent's.
      const TControl* source = c;
      while (source->Hint().empty() && source->Parent() != nullptr) source = source->Parent();
      if (c->ShowHint() && !source->Hint().empty()) {
        QToolTip::showText(help->globalPos(), ToQString(source->Hint()), this);
      } else {
        QToolTip::hideText();
      }
      return true;
    }
    default:
      return QWidget::event(event);
  }
}

}  // namespace jw
