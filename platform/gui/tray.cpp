#include "platform/gui/tray.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include "platform/gui/application.h"
#include "platform/gui/messages.h"
#include "platform/gui/qt_convert.h"

namespace jw {

namespace {

constexpr uint32_t kLeftDoubleClick = 0x0203;
constexpr uint32_t kRightDoubleClick = 0x0206;
constexpr uint32_t kMiddleDown = 0x0207;
constexpr uint32_t kMiddleUp = 0x0208;
constexpr uint32_t kMiddleDoubleClick = 0x0209;

// How often and how long the backend looks for a tray host that was not
// there when the icon was added.
constexpr int kTrayCheckMs = 500;
constexpr int kTrayChecks = 10;
constexpr int kFallbackSize = 32;

// The stand-in for a tray: a small frameless window showing the icon.
class FallbackWindow : public QWidget {
 public:
  explicit FallbackWindow(std::function<void(uint32_t)> report)
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
        report_(std::move(report)) {
    setFixedSize(kFallbackSize, kFallbackSize);
    setWindowTitle("tray icon");
  }

  void SetIcon(const QImage& icon) {
    icon_ = icon;
    update();
  }

  void PlaceInCorner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    move(area.right() - kFallbackSize - 4, area.top() + 4);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!icon_.isNull()) painter.drawImage(rect(), icon_);
  }
  void mousePressEvent(QMouseEvent* event) override {
    Report(event->button(), WM_LBUTTONDOWN, WM_RBUTTONDOWN, kMiddleDown);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    Report(event->button(), WM_LBUTTONUP, WM_RBUTTONUP, kMiddleUp);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    Report(event->button(), kLeftDoubleClick, kRightDoubleClick, kMiddleDoubleClick);
  }

 private:
  void Report(Qt::MouseButton button, uint32_t left, uint32_t right, uint32_t middle) {
    if (button == Qt::LeftButton) report_(left);
    if (button == Qt::RightButton) report_(right);
    if (button == Qt::MiddleButton) report_(middle);
  }

  std::function<void(uint32_t)> report_;
  QImage icon_;
};

TrayBackendFactory& Factory() {
  static TrayBackendFactory factory;
  return factory;
}

}  // namespace

std::string CutNotifyTip(const std::string& text) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // Count the first byte of each UTF-8 sequence only.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars == kNotifyTipMaxChars) return text.substr(0, i);
    ++chars;
  }
  return text;
}

class QtTrayBackend::Impl {
 public:
  explicit Impl(QtTrayBackend& owner) : owner_(owner) {
    QObject::connect(&tray_, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
    check_.setInterval(kTrayCheckMs);
    QObject::connect(&check_, &QTimer::timeout, [this] { CheckForTray(); });
  }

  void Notify(uint32_t message, const TNotifyIconData& data) {
    switch (message) {
      case NIM_ADD:
        present_ = true;
        Apply(data);
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
          tray_.show();
        } else {
          ShowFallback();
          checks_left_ = kTrayChecks;
          check_.start();
        }
        break;
      case NIM_MODIFY:
        if (present_) Apply(data);
        break;
      case NIM_DELETE:
        present_ = false;
        check_.stop();
        tray_.hide();
        fallback_.reset();
        break;
      default:
        break;
    }
  }

  bool InTray() const { return present_ && tray_.isVisible(); }
  bool InFallback() const { return fallback_ != nullptr && fallback_->isVisible(); }

 private:
  void Apply(const TNotifyIconData& data) {
    icon_ = data.hIcon;
    tray_.setIcon(QIcon(QPixmap::fromImage(icon_)));
    tray_.setToolTip(ToQString(CutNotifyTip(data.szTip)));
    if (fallback_) {
      fallback_->SetIcon(icon_);
      fallback_->setToolTip(ToQString(CutNotifyTip(data.szTip)));
    }
    tip_ = data.szTip;
  }

  void ShowFallback() {
    fallback_ = std::make_unique<FallbackWindow>([this](uint32_t m) { Report(m); });
    fallback_->SetIcon(icon_);
    fallback_->setToolTip(ToQString(CutNotifyTip(tip_)));
    fallback_->PlaceInCorner();
    fallback_->show();
  }

  void CheckForTray() {
    if (!present_ || --checks_left_ < 0) {
      check_.stop();
      return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    check_.stop();
    fallback_.reset();
    tray_.show();
  }

  // Qt reports what the user did, not the button messages; each action
  // becomes the press and release that cause it.
  void Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        Report(WM_LBUTTONDOWN);
        Report(WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::DoubleClick:
        Report(kLeftDoubleClick);
        Report(WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::Context:
        Report(WM_RBUTTONDOWN);
        Report(WM_RBUTTONUP);
        break;
      case QSystemTrayIcon::MiddleClick:
        Report(kMiddleDown);
        Report(kMiddleUp);
        break;
      default:
        break;
    }
  }

  void Report(uint32_t message) {
    if (owner_.OnMouseMessage) CallGuarded([&] { owner_.OnMouseMessage(message); });
  }

  QtTrayBackend& owner_;
  QSystemTrayIcon tray_;
  std::unique_ptr<FallbackWindow> fallback_;
  QTimer check_;
  int checks_left_ = 0;
  bool present_ = false;
  QImage icon_;
  std::string tip_;
};

QtTrayBackend::QtTrayBackend() : impl_(std::make_unique<Impl>(*this)) {}

QtTrayBackend::~QtTrayBackend() = default;

void QtTrayBackend::Notify(uint32_t message, const TNotifyIconData& data) {
  impl_->Notify(message, data);
}

TPoint QtTrayBackend::CursorPos() {
  const QPoint p = QCursor::pos();
  return {p.x(), p.y()};
}

bool QtTrayBackend::InTray() const {
  return impl_->InTray();
}

bool QtTrayBackend::InFallbackWindow() const {
  return impl_->InFallback();
}

std::unique_ptr<TrayBackend> CreateTrayBackend() {
  if (Factory()) return Factory()();
  return std::make_unique<QtTrayBackend>();
}

TrayBackendFactory SetTrayBackendFactory(TrayBackendFactory factory) {
  TrayBackendFactory previous = std::move(Factory());
  Factory() = std::move(factory);
  return previous;
}

}  // namespace jw
