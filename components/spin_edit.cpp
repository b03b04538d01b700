#include "components/spin_edit.h"

#include <QApplication>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <limits>

#include "components/kit_application.h"
#include "platform/gui/beep.h"
#include "platform/gui/forms.h"
#include "platform/gui/keys.h"
#include "platform/gui/timer.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnHighlight = SystemColor(20);
// The arrows' emboss colour is system colour 14.
constexpr TColor kArrowEmboss = SystemColor(14);

constexpr int kBorderPixels = 1;  // SM_CYBORDER
constexpr uint16_t kFirstRepeatDelayMs = 200;

// Rounds to the nearest integer, halves to the even neighbour.
int RoundEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

}  // namespace

void DrawArrow(TCanvas& canvas, int x, int y, bool enabled, bool down, TColor color, int size) {
  if (size < 2 || size > 15) return;
  if (!enabled) {
    DrawArrow(canvas, x + 1, y + 1, true, down, kArrowEmboss, size);
    color = clGrayText;
  }
  canvas.Pen().SetWidth(1);
  canvas.Pen().SetStyle(TPenStyle::psSolid);
  canvas.Pen().SetColor(color);
  if (down) {
    for (int r = 0; r <= size - 2; ++r) {
      canvas.MoveTo(x + r, y + r);
      canvas.LineTo(x + 2 * size - r - 1, y + r);
    }
    canvas.MoveTo(x + size - 1, y + size - 1);
    canvas.LineTo(x + size, y + size - 1);
  } else {
    const int m = x + size / 2;
    for (int r = 0; r <= size - 1; ++r) {
      canvas.MoveTo(m - r, y + r);
      canvas.LineTo(m + r + 1, y + r);
    }
  }
}

// ----------------------------------------------------------- TKitSpinButton

TKitSpinButton::TKitSpinButton(TComponent* owner)
    : TGraphicControl(owner), strip_(std::make_unique<TBitmap>()) {
  SetBounds(0, 0, 20, 20);
  timer_ident_ = KitApplication().AddTimer(interval_ + kFirstRepeatDelayMs,
                                           [this](TPersistent*) { RepeatTick(); });
  if (timer_ident_ == 0) throw EOutOfResources("Not enough timers available");
  KitApplication().GetTimerItem(timer_ident_)->SetEnabled(false);
}

TKitSpinButton::~TKitSpinButton() {
  KitApplication().RemoveTimer(timer_ident_);
}

void TKitSpinButton::SetEnabled(bool enabled) {
  TGraphicControl::SetEnabled(enabled);
  state_ = enabled ? 0 : 3;
  Invalidate();
}

int TKitSpinButton::HitTest(int x, int y) const {
  const double w = Width();
  const double h = Height();
  if (h <= 0) return 1;
  return y > h - x * w / h ? 2 : 1;
}

void TKitSpinButton::SetState(int state) {
  if (state == state_) return;
  state_ = state;
  Invalidate();
}

void TKitSpinButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button == TMouseButton::mbLeft && Enabled() && state_ == 0) {
    pressed_half_ = 0;
    state_ = HitTest(x, y);
    // The click's handler may free the button with its dialog.
    const std::weak_ptr<int> life = life_;
    if (state_ == 2) {
      if (OnBottomClick) OnBottomClick(this);
    } else {
      if (OnTopClick) OnTopClick(this);
    }
    if (life.expired()) return;
    if (state_ != pressed_half_) {
      pressed_half_ = state_;
      Invalidate();
    }
    if (TKitTimerItem* item = KitApplication().GetTimerItem(timer_ident_)) {
      item->SetInterval(interval_ + kFirstRepeatDelayMs);
      item->SetEnabled(true);
    }
  }
  if (button == TMouseButton::mbLeft) tracking_ = true;
}

void TKitSpinButton::MouseMove(TShiftState shift, int x, int y) {
  TGraphicControl::MouseMove(shift, x, y);
  if (!tracking_) return;
  if (ClientRect().Contains(x, y)) {
    if (HitTest(x, y) == 2) {
      SetState(pressed_half_ == 2 ? 2 : 0);
    } else {
      SetState(pressed_half_ == 1 ? 1 : 0);
    }
  } else {
    SetState(0);
  }
}

void TKitSpinButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseUp(button, shift, x, y);
  if (!tracking_) return;
  tracking_ = false;
  // A release outside the button leaves the repeat client running, but
  // with no half pressed its ticks step nothing.
  if (ClientRect().Contains(x, y)) {
    state_ = 0;
    pressed_half_ = 0;
    if (TKitTimerItem* item = KitApplication().GetTimerItem(timer_ident_)) item->SetEnabled(false);
    Invalidate();
  }
}

void TKitSpinButton::RepeatTick() {
  TKitTimerItem* item = KitApplication().GetTimerItem(timer_ident_);
  try {
    if (item != nullptr) item->SetInterval(interval_);
    // Tracking stands for the mouse capture: the button holds it from the
    // press to the release.
    if (state_ != 0 && state_ != 3 && tracking_) {
      if (state_ == 2) {
        if (OnBottomClick) OnBottomClick(this);
      } else {
        if (OnTopClick) OnTopClick(this);
      }
    }
  } catch (...) {
    if (item != nullptr) item->SetEnabled(false);
    throw;
  }
}

void TKitSpinButton::Paint() {
  const int w = Width();
  const int h = Height();
  if (w <= 0 || h <= 0) return;
  if (strip_->Height() != h || strip_->Width() / 4 != w) DrawFrames();
  if (!Enabled() && !ComponentState().Contains(csDesigning)) tracking_ = false;
  const int frame = std::clamp(state_, 0, 3);
  TBitmap piece;
  piece.SetImage(strip_->Image().copy(frame * w, 0, w, h));
  Canvas().Draw(0, 0, piece);
}

void TKitSpinButton::DrawFrames() {
  const int w = Width();
  const int h = Height();
  strip_->SetSize(4 * w, h);
  for (int frame = 0; frame < 4; ++frame) {
    TBitmap one;
    one.SetSize(w, h);
    DrawFrame(one.Canvas(), frame, w, h);
    QImage image = strip_->Image();
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) image.setPixel(frame * w + x, y, one.Image().pixel(x, y));
    }
    strip_->SetImage(image);
  }
}

void TKitSpinButton::DrawFrame(TCanvas& canvas, int frame, int w, int h) {
  const bool up_pressed = frame == 1;
  const bool down_pressed = frame == 2;
  canvas.Brush().SetColor(clBtnFace);
  canvas.Pen().SetColor(clWindowFrame);
  canvas.Rectangle(Rect(0, 0, w, h));
  canvas.MoveTo(-1, h);
  canvas.LineTo(w, -1);

  canvas.Pen().SetColor(up_pressed ? clBtnShadow : clBtnHighlight);
  canvas.MoveTo(1, h - 4);
  canvas.LineTo(1, 1);
  canvas.LineTo(w - 3, 1);
  if (!up_pressed) {
    canvas.Pen().SetColor(clBtnShadow);
    canvas.MoveTo(1, h - 3);
    canvas.LineTo(w - 2, 0);
  }

  canvas.Pen().SetColor(down_pressed ? clBtnHighlight : clBtnShadow);
  canvas.MoveTo(2, h - 2);
  canvas.LineTo(w - 2, h - 2);
  canvas.LineTo(w - 2, 1);
  canvas.Pen().SetColor(down_pressed ? clBtnShadow : clBtnHighlight);
  canvas.MoveTo(2, h - 2);
  canvas.LineTo(w - 1, 1);
  if (down_pressed) {
    canvas.Pen().SetColor(clBtnShadow);
    canvas.MoveTo(3, h - 2);
    canvas.LineTo(w - 1, 2);
  }

  const bool enabled = frame != 3;
  const int p = up_pressed ? 1 : 0;
  const int q = down_pressed ? 0 : 1;
  DrawArrow(canvas, RoundEven(w / 4.0 - 2) + 1 + p, RoundEven(h / 4.0 - 2) + 1 + p, enabled, false,
            clBlack, 3);
  DrawArrow(canvas, RoundEven(3.0 * w / 4 - 2) - q, RoundEven(3.0 * h / 4 - 2) - q, enabled, true,
            clBlack, 3);
}

// ------------------------------------------------------- TKitCustomSpinEdit

TKitCustomSpinEdit::TKitCustomSpinEdit(TComponent* owner) : TCustomEdit(owner) {
  host_ = new TWinControl(this);
  host_->SetBounds(0, 0, Height(), Height());
  host_->SetParent(this);
  SetAlignment(TAlignment::taLeftJustify);
  button_ = new TKitSpinButton(this);
  button_->SetParent(host_);
  button_->OnTopClick = [this](TPersistent*) { StepUp(); };
  button_->OnBottomClick = [this](TPersistent*) { StepDown(); };
  SetText("0");
  Layout();
}

TKitCustomSpinEdit::~TKitCustomSpinEdit() = default;

int TKitCustomSpinEdit::CheckValue(int value) const {
  if (min_value_ == max_value_) return value;
  return std::clamp(value, min_value_, max_value_);
}

int TKitCustomSpinEdit::Value() {
  int32_t result = 0;
  if (!suffix_.empty()) {
    // The suffix may hold digits or signs of its own.
    std::string text = Text();
    if (text.ends_with(suffix_)) text.resize(text.size() - suffix_.size());
    std::string number;
    for (char c : text) {
      if (c == '+' || c == '-' || (c >= '0' && c <= '9')) number += c;
    }
    if (number.empty()) number = IntToStr(static_cast<int32_t>(min_value_));
    if (TryStrToInt(number, result)) {
      SetText(number + suffix_);
      return result;
    }
    SetText(IntToStr(static_cast<int32_t>(min_value_)) + suffix_);
    return min_value_;
  }
  std::string text = Text();
  if (text.empty()) text = IntToStr(static_cast<int32_t>(min_value_));
  if (TryStrToInt(text, result)) return result;
  SetText(IntToStr(static_cast<int32_t>(min_value_)));
  return min_value_;
}

void TKitCustomSpinEdit::SetValue(int value) {
  SetText(IntToStr(static_cast<int32_t>(CheckValue(value))) + suffix_);
}

void TKitCustomSpinEdit::SetMaxValue(int value) {
  if (value == max_value_ || value <= min_value_) return;
  max_value_ = value;
  if (Value() > max_value_) SetValue(max_value_);
}

void TKitCustomSpinEdit::SetMinValue(int value) {
  if (value == min_value_ || value >= max_value_) return;
  min_value_ = value;
  if (Value() < min_value_) SetValue(min_value_);
}

void TKitCustomSpinEdit::SetSuffix(const std::string& suffix) {
  if (suffix == suffix_) return;
  // The old suffix is still in the text; read the number with it.
  const int value = Value();
  suffix_ = suffix;
  SetValue(value);
}

void TKitCustomSpinEdit::StepBy(int64_t delta) {
  const int64_t sum = static_cast<int64_t>(Value()) + delta;
  SetValue(static_cast<int>(
      std::clamp<int64_t>(sum, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
}

void TKitCustomSpinEdit::StepUp() {
  if (ReadOnly()) {
    MessageBeep(0);
  } else {
    StepBy(line_size_);
  }
}

void TKitCustomSpinEdit::StepDown() {
  if (ReadOnly()) {
    MessageBeep(0);
  } else {
    StepBy(-static_cast<int64_t>(line_size_));
  }
}

bool TKitCustomSpinEdit::IsValidChar(char32_t key) const {
  const bool valid = key == '+' || key == '-' || (key >= '0' && key <= '9') || key < 32;
  if (valid && !editor_enabled_ && (key == 8 || key >= 32)) return false;
  return valid;
}

void TKitCustomSpinEdit::SetEnabled(bool enabled) {
  TCustomEdit::SetEnabled(enabled);
  button_->SetEnabled(enabled);
}

void TKitCustomSpinEdit::WndProc(TMessage& message) {
  if (message.Msg == WM_CUT || message.Msg == WM_PASTE) {
    if (editor_enabled_ && !ReadOnly()) TCustomEdit::WndProc(message);
    return;
  }
  TCustomEdit::WndProc(message);
}

void TKitCustomSpinEdit::CreateParams(TCreateParams& params) {
  TCustomEdit::CreateParams(params);
  params.Style |= ES_MULTILINE | WS_CLIPCHILDREN;
}

void TKitCustomSpinEdit::BoundsChanged() {
  TCustomEdit::BoundsChanged();
  if (button_ != nullptr) Layout();
}

void TKitCustomSpinEdit::Layout() {
  if (laying_out_) return;
  laying_out_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{laying_out_};
  const int font_height = QFontMetrics(Font().ToQFont()).height();
  const int screen_height = QFontMetrics(QApplication::font()).height();
  const bool bordered = BorderStyle() == TBorderStyle::bsSingle;
  int min_height = font_height + std::min(font_height, screen_height) / 4;
  if (bordered) min_height += 4 * kBorderPixels;
  if (Height() < min_height) {
    laying_out_ = false;
    SetHeight(min_height);
    return;
  }
  // Inside the line edit's frame the client area starts at (2, 2).
  const int frame = bordered ? 2 : 0;
  const int side = bordered ? Height() - 4 * kBorderPixels : Height();
  host_->SetBounds(Width() - Height() + frame, frame, side, side);
  button_->SetBounds(0, 0, side, side);
  SetFormattingRect(Rect(0, 0, ClientWidth() - button_->Width() - 2, ClientHeight() + 1));
}

void TKitCustomSpinEdit::KeyDown(uint16_t& key, TShiftState shift) {
  if (key == VK_PRIOR && !ReadOnly()) StepBy(page_size_);
  if (key == VK_NEXT && !ReadOnly()) StepBy(-static_cast<int64_t>(page_size_));
  if (key == VK_UP) StepUp();
  if (key == VK_DOWN) StepDown();
  TCustomEdit::KeyDown(key, shift);
}

void TKitCustomSpinEdit::KeyPress(char32_t& key) {
  if (!IsValidChar(key)) {
    key = 0;
    MessageBeep(0);
  }
  if (key != 0) TCustomEdit::KeyPress(key);
  if (key == 13 || key == 27) {
    // The edit wants every key, so the default and cancel buttons hear of
    // Return and Escape from here.
    if (TCustomForm* form = GetParentForm(this)) {
      TMessage message{CM_DIALOGKEY, key == 13 ? VK_RETURN : VK_ESCAPE, 0, 0};
      form->Perform(message);
    }
    if (key == 13) key = 0;
  }
}

std::string TKitCustomSpinEdit::FilterEnteringText(const std::string& text) {
  std::string kept;
  for (char c : text) {
    const auto key = static_cast<char32_t>(static_cast<unsigned char>(c));
    // Control characters pass as editing keys when typed, never as text.
    if (key >= 32 && IsValidChar(key)) kept += c;
  }
  if (kept.size() != text.size()) MessageBeep(0);
  return kept;
}

void TKitCustomSpinEdit::DoExit() {
  const int value = Value();
  if (CheckValue(value) != value) SetValue(value);
  TCustomEdit::DoExit();
}

bool TKitCustomSpinEdit::DoMouseWheelDown(TShiftState shift, TPoint mouse) {
  TCustomEdit::DoMouseWheelDown(shift, mouse);
  StepDown();
  return true;
}

bool TKitCustomSpinEdit::DoMouseWheelUp(TShiftState shift, TPoint mouse) {
  TCustomEdit::DoMouseWheelUp(shift, mouse);
  StepUp();
  return true;
}

}  // namespace jw
