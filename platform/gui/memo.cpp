#include "platform/gui/memo.h"

#include <QPlainTextEdit>

#include "platform/gui/application.h"
#include "platform/gui/qt_convert.h"
#include "platform/rtl/string_list.h"

namespace jw {

TMemo::TMemo(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 89);
}

std::string TMemo::Text() const {
  return text_;
}

void TMemo::SetText(const std::string& text) {
  text_.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      text_ += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      text_ += '\n';
    }
  }
  if (HandleAllocated()) {
    auto* edit = static_cast<QPlainTextEdit*>(Handle());
    const QSignalBlocker quiet(edit);
    edit->setPlainText(ToQString(text_));
  }
}

std::vector<std::string> TMemo::Lines() const {
  TStringList lines;
  lines.SetText(text_);
  std::vector<std::string> result;
  for (int i = 0; i < lines.Count(); ++i) result.push_back(lines.Strings(i));
  return result;
}

void TMemo::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  if (HandleAllocated()) ApplyScrollBars(*static_cast<QPlainTextEdit*>(Handle()));
}

void TMemo::ApplyScrollBars(QPlainTextEdit& edit) const {
  const bool vertical =
      scroll_bars_ == TScrollStyle::ssVertical || scroll_bars_ == TScrollStyle::ssBoth;
  const bool horizontal =
      scroll_bars_ == TScrollStyle::ssHorizontal || scroll_bars_ == TScrollStyle::ssBoth;
  edit.setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  edit.setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  // Without a horizontal bar, long lines wrap at the edge.
  edit.setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

std::unique_ptr<QWidget> TMemo::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto edit = std::make_unique<QPlainTextEdit>(parent);
  edit->setPlainText(ToQString(text_));
  ApplyScrollBars(*edit);
  QPlainTextEdit* raw = edit.get();
  QObject::connect(raw, &QPlainTextEdit::textChanged, [this, raw] {
    CallGuarded([this, raw] { text_ = FromQString(raw->toPlainText()); });
  });
  return edit;
}

}  // namespace jw
