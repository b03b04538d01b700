// TKitSpinEdit: a single-line edit for an integer with a square button on
// its right, split diagonally into an upper-left up half and a lower-right
// down half. Holding a half repeats the step through the kit's timer pool;
// Up, Down, PageUp, PageDown and the wheel step too, typing is limited to
// digits and signs, and an optional suffix follows the number. The value is
// always read from the text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/kit_base.h"
#include "platform/gui/bitmap.h"
#include "platform/gui/controls.h"
#include "platform/gui/edit.h"

namespace jw {

// Draws an arrow of size 2..15 (others draw nothing) with its corner at
// (x, y): a down arrow points down, an up arrow up. A disabled arrow is
// drawn embossed in the highlight and grey-text colours.
void DrawArrow(TCanvas& canvas, int x, int y, bool enabled, bool down, TColor color, int size);

class TKitSpinButton : public TGraphicControl {
 public:
  // Registers its repeat client with the kit's timer pool; EOutOfResources
  // "Not enough timers available" when no slot is free.
  explicit TKitSpinButton(TComponent* owner);
  ~TKitSpinButton() override;

  // States: 0 none, 1 up half pressed, 2 down half pressed, 3 disabled.
  int State() const { return state_; }
  int PressedHalf() const { return pressed_half_; }
  bool Tracking() const { return tracking_; }
  uint16_t Interval() const { return interval_; }
  void SetInterval(uint16_t interval) { interval_ = interval; }
  uint16_t TimerIdent() const { return timer_ident_; }
  // Frame 3 while disabled; enabling resets the state.
  void SetEnabled(bool enabled) override;

  // 2 for a point in the lower-right (down) half, else 1.
  int HitTest(int x, int y) const;

  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

  // The pool's tick while a half is held.
  void RepeatTick();

  TNotifyEvent OnTopClick;
  TNotifyEvent OnBottomClick;

 protected:
  void Paint() override;

 private:
  void DrawFrames();
  void DrawFrame(TCanvas& canvas, int frame, int width, int height);
  void SetState(int state);

  uint16_t timer_ident_ = 0;
  std::unique_ptr<TBitmap> strip_;
  int state_ = 0;
  int pressed_half_ = 0;
  uint16_t interval_ = 100;
  bool tracking_ = false;
  // Expires with the button.
  std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

using TKitMouseWheelEvent =
    std::function<void(TPersistent* sender, int mouse_x, int mouse_y, int delta)>;

class TKitCustomSpinEdit : public TCustomEdit {
 public:
  explicit TKitCustomSpinEdit(TComponent* owner);
  ~TKitCustomSpinEdit() override;

  // Reads the number in the text (see the file comment); with a suffix, the
  // text's trailing suffix is set aside and the digits and signs of the rest
  // are read. An unconvertible text reads as MinValue and is replaced by it.
  // Reading does not clamp.
  int Value();
  // Writes the clamped value followed by Suffix.
  void SetValue(int value);
  // value kept within [MinValue, MaxValue], unless the two are equal.
  int CheckValue(int value) const;

  bool EditorEnabled() const { return editor_enabled_; }
  void SetEditorEnabled(bool on) { editor_enabled_ = on; }
  uint16_t Interval() const { return button_->Interval(); }
  void SetInterval(uint16_t interval) { button_->SetInterval(interval); }
  int LineSize() const { return line_size_; }
  void SetLineSize(int size) { line_size_ = size; }
  int MaxValue() const { return max_value_; }
  // Applies when it changes and lies above MinValue.
  void SetMaxValue(int value);
  int MinValue() const { return min_value_; }
  // Applies when it changes and lies below MaxValue.
  void SetMinValue(int value);
  int PageSize() const { return page_size_; }
  void SetPageSize(int size) { page_size_ = size; }
  const std::string& Suffix() const { return suffix_; }
  void SetSuffix(const std::string& suffix);

  TKitSpinButton& Button() { return *button_; }
  TWinControl& ButtonHost() { return *host_; }

  virtual void StepUp();
  virtual void StepDown();
  virtual bool IsValidChar(char32_t key) const;

  void SetEnabled(bool enabled) override;
  void WndProc(TMessage& message) override;

  // Stored only: nothing raises it.
  TKitMouseWheelEvent OnMouseWheel;

 protected:
  void CreateParams(TCreateParams& params) override;
  void BoundsChanged() override;
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void KeyPress(char32_t& key) override;
  // Keeps the characters that typing would let in, beeping when any is
  // refused.
  std::string FilterEnteringText(const std::string& text) override;
  void DoExit() override;
  bool DoMouseWheelDown(TShiftState shift, TPoint mouse) override;
  bool DoMouseWheelUp(TShiftState shift, TPoint mouse) override;

 private:
  void Layout();
  // Writes Value moved by delta; the sum is taken in 64 bits and clamped, so
  // a step beyond the integer range stops at its end.
  void StepBy(int64_t delta);

  bool editor_enabled_ = true;
  int line_size_ = 1;
  int max_value_ = 100;
  int min_value_ = 0;
  int page_size_ = 10;
  std::string suffix_;
  TWinControl* host_ = nullptr;       // owned as a component
  TKitSpinButton* button_ = nullptr;  // owned as a component
  bool laying_out_ = false;
};

class TKitSpinEdit : public TKitCustomSpinEdit {
 public:
  using TKitCustomSpinEdit::TKitCustomSpinEdit;
};

}  // namespace jw
