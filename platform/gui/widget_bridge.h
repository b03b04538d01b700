// The Qt widget of a windowed control: it turns Qt's events into the
// control's messages and calls, each through the exception guard. Private to
// the layer.
#pragma once

#include <QWidget>

namespace jw {

class TWinControl;

class WidgetBridge : public QWidget {
 public:
  WidgetBridge(TWinControl& control, QWidget* parent, Qt::WindowFlags flags);

  TWinControl& Control() const { return control_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void MouseMessage(uint32_t msg, QEvent* event);

  TWinControl& control_;
};

}  // namespace jw
