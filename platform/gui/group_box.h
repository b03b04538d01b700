// TGroupBox: a captioned frame around a group of controls.
#pragma once

#include <memory>
#include <string>

#include "platform/gui/controls.h"

namespace jw {

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);

  void SetCaption(const std::string& caption) override;

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;
};

}  // namespace jw
