#include "platform/gui/tray.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
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
constexpr uint32_t kMiddleDown = 0x0207;
constexpr uint32_t kMiddleUp = 0x0208;

// How often and how long the backend looks for a tray host that was not
// there when the icon was added.
constexpr int kTrayCheckMs = 500;
constexpr int kTrayChecks = 10;
constexpr int kFallbackSize = 32;

using ActivationHandler = std::function<void(QSystemTrayIcon::ActivationReason)>;

// The stand-in for a tray: a small frameless window showing the icon. It
// reports its clicks as the tray reports them, so that the icon reacts the
// same in both places.
class FallbackWindow : public QWidget {
 public:
  explicit FallbackWindow(ActivationHandler activated)
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
        activated_(std::move(activated)) {
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
  // A press is the whole click, as in the tray: the menu that a right press
  // opens takes the pointer, and the button's release with it.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) activated_(QSystemTrayIcon::Trigger);
    if (event->button() == Qt::RightButton) activated_(QSystemTrayIcon::Context);
    if (event->button() == Qt::MiddleButton) activated_(QSystemTrayIcon::MiddleClick);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) activated_(QSystemTrayIcon::DoubleClick);
  }

 private:
  ActivationHandler activated_;
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
                     [this](QSystemTrayIcon::ActivationReason reason) { Post(reason); });
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
    fallback_ = std::make_unique<FallbackWindow>(
        [this](QSystemTrayIcon::ActivationReason reason) { Post(reason); });
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

  // The click is handled once the widget that took it is done with its
  // event: the handlers may remove the icon, and its widget with it (an
  // Exit in the icon's menu), which Qt does not allow inside the widget's
  // own event. The call goes with the tray object when that goes first.
  void Post(QSystemTrayIcon::ActivationReason reason) {
    QMetaObject::invokeMethod(
        &tray_, [this, reason] { Activated(reason); }, Qt::QueuedConnection);
  }

  // Qt reports what the user did, not the button messages; each action
  // becomes the press and release that cause it.
  void Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        ReportPair(WM_LBUTTONDOWN, WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::DoubleClick:
        ReportPair(kLeftDoubleClick, WM_LBUTTONUP);
        break;
      case QSystemTrayIcon::Context:
        ReportPair(WM_RBUTTONDOWN, WM_RBUTTONUP);
        break;
      case QSystemTrayIcon::MiddleClick:
        ReportPair(kMiddleDown, kMiddleUp);
        break;
      default:
        break;
    }
  }

  // The press's handlers (the menu among them) may remove the icon and
  // this backend: then the release is not reported.
  void ReportPair(uint32_t press, uint32_t release) {
    const QPointer<QSystemTrayIcon> alive(&tray_);
    Report(press);
    if (alive) Report(release);
  }

  void Report(uint32_t message) {
    // A copy: the handler may destroy the backend that holds it.
    const std::function<void(uint32_t)> report = owner_.OnMouseMessage;
    if (report) CallGuarded([&] { report(message); });
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
