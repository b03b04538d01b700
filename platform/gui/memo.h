// TMemo: a multi-line edit over a Qt plain text edit. Its text is a list of
// lines: CR, LF and CR LF each end a line where text comes in, as in a
// string list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gui/controls.h"

class QPlainTextEdit;

namespace jw {

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* owner);

  // The lines joined by LF.
  std::string Text() const;
  void SetText(const std::string& text);
  // The lines as the user sees them; a break at the very end adds no line.
  std::vector<std::string> Lines() const;

  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  void ApplyScrollBars(QPlainTextEdit& edit) const;

  std::string text_;  // kept while no widget exists
  TScrollStyle scroll_bars_ = TScrollStyle::ssNone;
};

}  // namespace jw
