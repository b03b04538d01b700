// TCustomEdit and TEdit: the single-line edit over a Qt line edit. Key downs
// and typed characters pass through the control's KeyDown and KeyPress before
// the line edit acts on them, cut and paste (by key or context menu) arrive
// as WM_CUT and WM_PASTE, text that enters otherwise (paste, drop, an input
// method) passes FilterEnteringText, and the mouse wheel is reported one
// notch (120 units) at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/gui/controls.h"
#include "platform/gui/font.h"

class QLineEdit;

namespace jw {

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TBorderStyle { bsNone, bsSingle };

// An edit with this style wants every key, Return and Escape included: they
// never travel on to the form.
inline constexpr uint32_t ES_MULTILINE = 0x0004;

// One notch of a mouse wheel.
inline constexpr int WHEEL_DELTA = 120;

using TKeyEvent = std::function<void(TPersistent* sender, uint16_t& key, TShiftState shift)>;

class TCustomEdit : public TWinControl {
 public:
  explicit TCustomEdit(TComponent* owner);
  ~TCustomEdit() override;

  std::string Text() const;
  void SetText(const std::string& text);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  // 0 means no limit.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int max_length);
  // 0 shows the text; any other character stands for each one typed.
  char PasswordChar() const { return password_char_; }
  void SetPasswordChar(char password_char);
  bool AutoSelect() const { return auto_select_; }
  void SetAutoSelect(bool on) { auto_select_ = on; }
  TAlignment Alignment() const { return alignment_; }
  virtual void SetAlignment(TAlignment alignment);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);
  TFont& Font() { return font_; }

  void SelectAll();
  int SelStart() const;
  int SelLength() const;
  // The rectangle the text is laid out in, in client coordinates
  // (EM_SETRECTNP and EM_GETRECT).
  void SetFormattingRect(const TRect& rect);
  TRect FormattingRect() const { return formatting_rect_; }

  void WndProc(TMessage& message) override;

  TNotifyEvent OnChange;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
  void BoundsChanged() override;

  // A key went down; the base calls OnKeyDown. Setting key to 0 keeps the
  // line edit from acting on it.
  virtual void KeyDown(uint16_t& key, TShiftState shift);
  // A character was typed; the base calls OnKeyPress. Setting key to 0
  // swallows it.
  virtual void KeyPress(char32_t& key);
  // Text about to enter other than by a typed key: pasted, dropped or
  // committed by an input method. Returns the part that may enter; the base
  // lets all of it in.
  virtual std::string FilterEnteringText(const std::string& text);
  // The text changed; the base calls OnChange unless the control is loading.
  virtual void Change();
  virtual void DoEnter();
  virtual void DoExit();
  // One wheel notch towards or away from the user; true when handled.
  virtual bool DoMouseWheelDown(TShiftState shift, TPoint mouse);
  virtual bool DoMouseWheelUp(TShiftState shift, TPoint mouse);

 private:
  friend class EditWidget;

  void ApplyFormattingRect();
  void ApplyPasswordChar(QLineEdit& edit) const;
  // Inserts what FilterEnteringText keeps of text at the cursor, unless the
  // edit is read-only.
  void InsertEnteringText(const std::string& text);

  bool read_only_ = false;
  int max_length_ = 0;
  char password_char_ = 0;
  bool auto_select_ = true;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  TBorderStyle border_style_ = TBorderStyle::bsSingle;
  TFont font_;
  TRect formatting_rect_;
  bool formatting_rect_set_ = false;
  std::string text_;  // kept while no widget exists
  int wheel_delta_ = 0;
};

class TEdit : public TCustomEdit {
 public:
  using TCustomEdit::TCustomEdit;
};

}  // namespace jw
