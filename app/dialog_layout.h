// How the application's dialogs lay themselves out in code: the form's
// frame (caption, border, place on the screen, client size), and each
// control owned by the form, on a parent, at its bounds, with a caption.
#pragma once

#include <string>

#include "platform/gui/controls.h"
#include "platform/gui/forms.h"

namespace jw {

inline void SetUpDialog(TForm& form, const std::string& caption, TFormBorderStyle border,
                        TPosition position, int client_width, int client_height) {
  form.SetCaption(caption);
  form.SetBorderStyle(border);
  form.SetPosition(position);
  form.SetClientWidth(client_width);
  form.SetClientHeight(client_height);
}

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
