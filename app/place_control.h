// PlaceControl: how the application's dialogs lay out their controls in code:
// a control owned by the form, on a parent, at its bounds, with a caption.
#pragma once

#include <string>

#include "platform/gui/controls.h"

namespace jw {

template <class T>
T* PlaceControl(TComponent* owner, TWinControl* parent, int left, int top, int width, int height,
                const std::string& caption = {}) {
  auto* control = new T(owner);
  control->SetParent(parent);
  control->SetBounds(left, top, width, height);
  if (!caption.empty()) control->SetCaption(caption);
  return control;
}

}  // namespace jw
