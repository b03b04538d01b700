// The control tree: TControl (bounds, visibility, mouse events, pop-up menu,
// hint), TGraphicControl (drawn on its parent, no window of its own) and
// TWinControl, which owns a Qt widget, turns its Qt events into window
// messages and passes them through its hook chain and WndProc.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/canvas.h"
#include "platform/gui/font.h"
#include "platform/gui/gui_types.h"
#include "platform/gui/messages.h"
#include "platform/rtl/component.h"

class QWidget;

namespace jw {

class TWinControl;
class TCustomForm;
class TPopupMenu;

// Control style bits the components set.
enum TControlStyleFlag : uint32_t {
  csClickEvents = 1u << 0,
  csOpaque = 1u << 1,
  csReplicatable = 1u << 2,
};
using TControlStyle = uint32_t;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  // Moves the control into parent's list of controls (out of the old one).
  virtual void SetParent(TWinControl* parent);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
  void SetTop(int top) { SetBounds(left_, top, width_, height_); }
  void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
  void SetHeight(int height) { SetBounds(left_, top_, width_, height); }
  // Negative sizes become 0. The parent realigns its aligned controls after.
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }

  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  virtual void SetClientWidth(int width) { SetWidth(width); }
  virtual void SetClientHeight(int height) { SetHeight(height); }
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
  // Converts between this control's client coordinates and the screen.
  virtual TPoint ClientToScreen(TPoint point) const;
  TPoint ScreenToClient(TPoint point) const;

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  // Windowed controls also enable or disable their widget.
  virtual void SetEnabled(bool enabled) { enabled_ = enabled; }

  TPopupMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(TPopupMenu* menu);
  const std::string& Hint() const { return hint_; }
  virtual void SetHint(const std::string& hint);
  bool ShowHint() const { return show_hint_; }
  virtual void SetShowHint(bool show) { show_hint_ = show; }
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(const std::string& caption) { caption_ = caption; }
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TCursor Cursor() const { return cursor_; }
  virtual void SetCursor(TCursor cursor) { cursor_ = cursor; }

  TControlStyle ControlStyle() const { return control_style_; }
  void SetControlStyle(TControlStyle style) { control_style_ = style; }

  // Asks for a repaint of the control's area; Update paints what is pending
  // at once.
  virtual void Invalidate();
  void Update();
  void Repaint() {
    Invalidate();
    Update();
  }
  void BringToFront();

  // Mouse handlers, called by the parent window's message handling.
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

  // Runs the control's mouse handling for a message aimed at it (coordinates
  // in its own client area).
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void Click();
  virtual void DblClick();

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  // Called after the bounds changed; windowed controls move their widget.
  virtual void BoundsChanged() {}

 private:
  friend class TWinControl;
  friend class TCustomForm;
  friend class WidgetBridge;

  TWinControl* parent_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TPopupMenu* popup_menu_ = nullptr;
  std::string hint_;
  bool show_hint_ = false;
  std::string caption_;
  TColor color_ = clBtnFace;
  TCursor cursor_ = crDefault;
  TControlStyle control_style_ = csClickEvents;
};

// A control without a window: its parent paints it (Paint, on the parent's
// surface moved to the control's origin) and hands it its mouse messages.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner);
  ~TGraphicControl() override;

  // The canvas Paint draws on; outside a paint it measures text and turns
  // drawing into a repaint request.
  TCanvas& Canvas() { return *canvas_; }

  void Invalidate() override;

 protected:
  virtual void Paint() {}

 private:
  friend class TWinControl;
  std::unique_ptr<TCanvas> canvas_;
};

// The window parameters a control may change before its widget is made.
inline constexpr uint32_t WS_EX_TOPMOST = 0x00000008;
inline constexpr uint32_t WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr uint32_t WS_CLIPCHILDREN = 0x02000000;

struct TCreateParams {
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  TWinControl* WndParent = nullptr;  // owner window, or none
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  // The child controls, in z-order from the bottom.
  TControl* Controls(int index) const;
  // The topmost visible child under the point (client coordinates) that is
  // enabled or, with allow_disabled, also one that is not; null when none.
  TControl* ControlAtPos(TPoint point, bool allow_disabled) const;

  // The control's widget, made on first use (CreateParams decides how).
  QWidget* Handle();
  bool HandleAllocated() const;
  // Sends WM_DESTROY and deletes the widget; the next Handle() makes a new one.
  void DestroyHandle();

  // Passes a message through the hook chain (the latest hook first), then
  // WndProc. Messages made from Qt events arrive here before Qt's default.
  void Perform(TMessage& message);
  // Installs hook in front of the current window procedure and returns an id
  // for UnhookWindowProc. Hooks may be removed in any order.
  int HookWindowProc(TWindowHook hook);
  void UnhookWindowProc(int id);

  // The control's own message handling; overrides call the inherited one
  // for the default.
  virtual void WndProc(TMessage& message);

  TCanvas& Canvas() { return *canvas_; }
  // A child window shows or hides its widget with it.
  void SetVisible(bool visible) override;
  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;
  void Invalidate() override;
  void SetFocus();
  void SetEnabled(bool enabled) override;

  // Lays out the aligned children in the client area.
  void Realign();

 protected:
  virtual void CreateParams(TCreateParams& params);
  // Makes the widget for params; the base makes a plain child widget.
  virtual std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params);
  // Paints the control's own surface, before its graphic children.
  virtual void Paint() {}
  void BoundsChanged() override;
  // Performs message and tells whether the default handling ran, so the
  // caller can undo what Qt already did when a hook cancelled it.
  bool PerformReportingDefault(TMessage& message);

 private:
  friend class TControl;
  friend class WidgetBridge;

  void ApplyToolTip();
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  // The default handling of the messages the layer sends.
  void DefaultHandler(TMessage& message);
  void PaintAll(QWidget& widget, const TRect& dirty);

  std::vector<TControl*> controls_;
  std::vector<std::pair<int, TWindowHook>> hooks_;  // installation order
  int next_hook_id_ = 1;
  std::unique_ptr<QWidget> widget_;
  std::unique_ptr<TCanvas> canvas_;
  TControl* mouse_capture_ = nullptr;  // child that took the left button down
  bool default_ran_ = false;
};

// The form a control sits on, or null.
TCustomForm* GetParentForm(TControl* control);

}  // namespace jw
