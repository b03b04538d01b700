#include "platform/gui/edit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>

#include "platform/gui/application.h"
#include "platform/gui/keys.h"
#include "platform/gui/qt_convert.h"

namespace jw {

namespace {

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= ssShift;
  if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
  if (modifiers & Qt::AltModifier) shift |= ssAlt;
  return shift;
}

}  // namespace

// The line edit of a TCustomEdit; every call into the control is guarded.
class EditWidget : public QLineEdit {
 public:
  EditWidget(TCustomEdit& control, QWidget* parent, uint32_t style)
      : QLineEdit(parent), control_(control), wants_all_keys_((style & ES_MULTILINE) != 0) {
    QObject::connect(this, &QLineEdit::textChanged, [this] {
      CallGuarded([this] {
        control_.text_ = FromQString(text());
        control_.Change();
      });
    });
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste)) {
      TMessage message{event->matches(QKeySequence::Cut) ? WM_CUT : WM_PASTE, 0, 0, 0};
      CallGuarded([&] { control_.Perform(message); });
      event->accept();
      return;
    }
    const TShiftState shift = ShiftOf(event->modifiers());
    uint16_t vk = VirtualKeyCode(event->key());
    if (vk != 0) {
      CallGuarded([&] { control_.KeyDown(vk, shift); });
      if (vk == 0) {
        event->accept();
        return;
      }
    }
    const char32_t typed = KeyPressChar(event->key(), static_cast<int>(event->modifiers()),
                                        FromQString(event->text()));
    if (typed != 0) {
      char32_t key = typed;
      CallGuarded([&] { control_.KeyPress(key); });
      if (key == 0) {
        event->accept();
        return;
      }
      if (key != typed && key >= 32 && !isReadOnly()) {
        insert(QString::fromUcs4(&key, 1));
        event->accept();
        return;
      }
    }
    QLineEdit::keyPressEvent(event);
    const int k = event->key();
    if (wants_all_keys_ && (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape)) {
      event->accept();
    }
  }

  void contextMenuEvent(QContextMenuEvent* event) override {
    QMenu* menu = createStandardContextMenu();
    // Cut and paste from the menu take the road of their keys.
    RouteToMessage(*menu, QLineEdit::tr("Cu&t"), WM_CUT);
    RouteToMessage(*menu, QLineEdit::tr("&Paste"), WM_PASTE);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
  }

  void dropEvent(QDropEvent* event) override {
    if (!event->mimeData()->hasText()) {
      QLineEdit::dropEvent(event);
      return;
    }
    const QString text = Filtered(event->mimeData()->text());
    if (text.isEmpty()) {
      event->ignore();
      return;
    }
    QMimeData filtered;
    filtered.setText(text);
    QDropEvent drop(event->position(), event->possibleActions(), &filtered, event->buttons(),
                    event->modifiers());
    drop.setDropAction(event->dropAction());
    QLineEdit::dropEvent(&drop);
    event->setDropAction(drop.dropAction());
    event->setAccepted(drop.isAccepted());
  }

  void inputMethodEvent(QInputMethodEvent* event) override {
    if (event->commitString().isEmpty()) {
      QLineEdit::inputMethodEvent(event);
      return;
    }
    QInputMethodEvent commit(event->preeditString(), event->attributes());
    commit.setCommitString(Filtered(event->commitString()), event->replacementStart(),
                           event->replacementLength());
    QLineEdit::inputMethodEvent(&commit);
    event->setAccepted(commit.isAccepted());
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    // The middle button pastes the X11 selection where the press put the
    // cursor.
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
      if (!isReadOnly()) {
        deselect();
        const QString selection = QGuiApplication::clipboard()->text(QClipboard::Selection);
        CallGuarded([&] { control_.InsertEnteringText(FromQString(selection)); });
      }
      event->accept();
      return;
    }
    QLineEdit::mouseReleaseEvent(event);
  }

  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    CallGuarded([this] { control_.DoEnter(); });
  }

  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    CallGuarded([this] { control_.DoExit(); });
  }

  void wheelEvent(QWheelEvent* event) override {
    // Touchpads send many small deltas: one step per full notch.
    control_.wheel_delta_ += event->angleDelta().y();
    const TShiftState shift = ShiftOf(event->modifiers());
    const QPoint global = event->globalPosition().toPoint();
    const TPoint mouse{global.x(), global.y()};
    CallGuarded([&] {
      while (control_.wheel_delta_ >= WHEEL_DELTA) {
        control_.wheel_delta_ -= WHEEL_DELTA;
        control_.DoMouseWheelUp(shift, mouse);
      }
      while (control_.wheel_delta_ <= -WHEEL_DELTA) {
        control_.wheel_delta_ += WHEEL_DELTA;
        control_.DoMouseWheelDown(shift, mouse);
      }
    });
    event->accept();
  }

 private:
  QString Filtered(const QString& text) {
    std::string kept;
    CallGuarded([&] { kept = control_.FilterEnteringText(FromQString(text)); });
    return ToQString(kept);
  }

  // The standard menu's actions are known by their (translated) texts,
  // which end in a tab and the shortcut.
  void RouteToMessage(QMenu& menu, const QString& text, uint32_t msg) {
    for (QAction* action : menu.actions()) {
      if (action->text().section('\t', 0, 0) != text) continue;
      QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
      QObject::connect(action, &QAction::triggered, this, [this, msg] {
        TMessage message{msg, 0, 0, 0};
        CallGuarded([&] { control_.Perform(message); });
      });
    }
  }

  TCustomEdit& control_;
  bool wants_all_keys_;
};

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 121, 21);
  SetColor(clWindow);
}

TCustomEdit::~TCustomEdit() {
  // The widget reports its last changes while it goes; this object is no
  // longer whole then.
  if (HandleAllocated()) QObject::disconnect(Handle(), nullptr, nullptr, nullptr);
}

std::string TCustomEdit::Text() const {
  return text_;
}

void TCustomEdit::SetText(const std::string& text) {
  if (text == text_) return;
  const std::string before = text_;
  text_ = text;
  if (HandleAllocated()) {
    // Qt goes on with the line edit after it reports a change, and the
    // change's handler may free this edit with its form: the change is
    // reported once Qt has returned.
    auto* edit = static_cast<QLineEdit*>(Handle());
    {
      const QSignalBlocker quiet(edit);
      edit->setText(ToQString(text));
    }
    text_ = FromQString(edit->text());
    if (text_ == before) return;
  }
  Change();
}

void TCustomEdit::SetReadOnly(bool read_only) {
  read_only_ = read_only;
  if (HandleAllocated()) static_cast<QLineEdit*>(Handle())->setReadOnly(read_only);
}

void TCustomEdit::SetMaxLength(int max_length) {
  max_length_ = std::max(max_length, 0);
  if (HandleAllocated()) {
    static_cast<QLineEdit*>(Handle())->setMaxLength(max_length_ > 0 ? max_length_ : 32767);
  }
}

void TCustomEdit::SetPasswordChar(char password_char) {
  password_char_ = password_char;
  if (HandleAllocated()) ApplyPasswordChar(*static_cast<QLineEdit*>(Handle()));
}

void TCustomEdit::ApplyPasswordChar(QLineEdit& edit) const {
  edit.setEchoMode(password_char_ == 0 ? QLineEdit::Normal : QLineEdit::Password);
  // Qt draws its own mask character unless the style names one.
  edit.setStyleSheet(password_char_ == 0 ? QString()
                                         : QString("QLineEdit { lineedit-password-character: %1 }")
                                               .arg(static_cast<unsigned char>(password_char_)));
}

void TCustomEdit::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  if (!HandleAllocated()) return;
  Qt::Alignment a = Qt::AlignLeft;
  if (alignment == TAlignment::taRightJustify) a = Qt::AlignRight;
  if (alignment == TAlignment::taCenter) a = Qt::AlignHCenter;
  static_cast<QLineEdit*>(Handle())->setAlignment(a | Qt::AlignVCenter);
}

void TCustomEdit::SetBorderStyle(TBorderStyle style) {
  border_style_ = style;
  if (HandleAllocated())
    static_cast<QLineEdit*>(Handle())->setFrame(style == TBorderStyle::bsSingle);
}

void TCustomEdit::SelectAll() {
  static_cast<QLineEdit*>(Handle())->selectAll();
}

int TCustomEdit::SelStart() const {
  if (!HandleAllocated()) return 0;
  auto* edit = static_cast<QLineEdit*>(const_cast<TCustomEdit*>(this)->Handle());
  return edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
}

int TCustomEdit::SelLength() const {
  if (!HandleAllocated()) return 0;
  return static_cast<int>(
      static_cast<QLineEdit*>(const_cast<TCustomEdit*>(this)->Handle())->selectedText().size());
}

void TCustomEdit::SetFormattingRect(const TRect& rect) {
  formatting_rect_ = rect;
  formatting_rect_set_ = true;
  ApplyFormattingRect();
}

void TCustomEdit::ApplyFormattingRect() {
  if (!HandleAllocated() || !formatting_rect_set_) return;
  auto* edit = static_cast<QLineEdit*>(Handle());
  // The line edit keeps its text inside margins; the rectangle's right edge
  // becomes the right margin.
  const int right = std::max(0, ClientWidth() - formatting_rect_.Right);
  edit->setTextMargins(formatting_rect_.Left, 0, right, 0);
}

void TCustomEdit::WndProc(TMessage& message) {
  if (message.Msg == WM_CUT || message.Msg == WM_PASTE) {
    auto* edit = static_cast<QLineEdit*>(Handle());
    if (message.Msg == WM_CUT) {
      edit->cut();
    } else {
      InsertEnteringText(FromQString(QGuiApplication::clipboard()->text()));
    }
    return;
  }
  TWinControl::WndProc(message);
}

std::unique_ptr<QWidget> TCustomEdit::CreateWidget(const TCreateParams& params) {
  QWidget* parent = params.WndParent != nullptr ? params.WndParent->Handle() : nullptr;
  auto edit = std::make_unique<EditWidget>(*this, parent, params.Style);
  {
    const QSignalBlocker quiet(edit.get());
    edit->setText(ToQString(text_));
  }
  edit->setReadOnly(read_only_);
  edit->setMaxLength(max_length_ > 0 ? max_length_ : 32767);
  if (password_char_ != 0) ApplyPasswordChar(*edit);
  edit->setFrame(border_style_ == TBorderStyle::bsSingle);
  edit->setFont(font_.ToQFont());
  Qt::Alignment a = Qt::AlignLeft;
  if (alignment_ == TAlignment::taRightJustify) a = Qt::AlignRight;
  if (alignment_ == TAlignment::taCenter) a = Qt::AlignHCenter;
  edit->setAlignment(a | Qt::AlignVCenter);
  if (formatting_rect_set_) {
    edit->setTextMargins(formatting_rect_.Left, 0,
                         std::max(0, ClientWidth() - formatting_rect_.Right), 0);
  }
  return edit;
}

void TCustomEdit::BoundsChanged() {
  TWinControl::BoundsChanged();
  ApplyFormattingRect();
}

void TCustomEdit::KeyDown(uint16_t& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}

void TCustomEdit::KeyPress(char32_t& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}

std::string TCustomEdit::FilterEnteringText(const std::string& text) {
  return text;
}

void TCustomEdit::InsertEnteringText(const std::string& text) {
  auto* edit = static_cast<QLineEdit*>(Handle());
  if (edit->isReadOnly()) return;
  const std::string kept = FilterEnteringText(text);
  if (!kept.empty()) edit->insert(ToQString(kept));
}

void TCustomEdit::Change() {
  if (ComponentState().Contains(csLoading)) return;
  if (OnChange) OnChange(this);
}

void TCustomEdit::DoEnter() {
  if (auto_select_ && !(QApplication::mouseButtons() & Qt::LeftButton)) SelectAll();
  if (OnEnter) OnEnter(this);
}

void TCustomEdit::DoExit() {
  if (OnExit) OnExit(this);
}

bool TCustomEdit::DoMouseWheelDown(TShiftState, TPoint) {
  return false;
}

bool TCustomEdit::DoMouseWheelUp(TShiftState, TPoint) {
  return false;
}

}  // namespace jw
