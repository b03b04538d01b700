#include "components/drag_frame.h"

#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace jw {

namespace {

constexpr int kFrameWidth = 3;

class FrameWindow : public QWidget {
 public:
  FrameWindow()
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                             Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint |
                             Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
  }

 protected:
  // Dark and light pixels alternate so the frame shows on any background.
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    painter.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
  }
};

}  // namespace

TDragFrame::TDragFrame() = default;
TDragFrame::~TDragFrame() = default;

void TDragFrame::Toggle(const TRect& rect) {
  if (Showing() && rect == rect_) {
    Hide();
    return;
  }
  if (!window_) window_ = std::make_unique<FrameWindow>();
  rect_ = rect;
  const QRect outer(0, 0, rect.Width(), rect.Height());
  window_->setGeometry(rect.Left, rect.Top, rect.Width(), rect.Height());
  window_->setMask(QRegion(outer).subtracted(
      QRegion(outer.adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth))));
  window_->show();
}

void TDragFrame::Hide() {
  if (window_) window_->hide();
  rect_ = TRect();
}

bool TDragFrame::Showing() const {
  return window_ && window_->isVisible();
}

TRect TDragFrame::Rect() const {
  return rect_;
}

}  // namespace jw
