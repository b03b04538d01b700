// How the application's dialogs lay themselves out in code: the form's
// frame (caption, border, place on the screen, client size), and each
// control owned by the form, on a parent, at its bounds, with a caption;
// each page of a page control with its tab's caption; and the OK and Cancel
// buttons that end the dialog.
#pragma once

#include <string>
#include <utility>

#include "platform/gui/buttons.h"
#include "platform/gui/controls.h"
#include "platform/gui/forms.h"
#include "platform/gui/page_control.h"

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

// A new last page of pages, owned by owner.
inline TTabSheet* AddSheet(TPageControl* pages, TComponent* owner, const std::string& caption) {
  auto* sheet = new TTabSheet(owner);
  sheet->SetPageControl(pages);
  sheet->SetCaption(caption);
  return sheet;
}

// OK and Cancel, 75 by 25, on parent at top: each ends the modal run with
// its result. Esc presses Cancel, and Enter presses OK unless the dialog
// keeps Enter for a control (a memo's new line).
inline std::pair<TButton*, TButton*> PlaceOkCancel(TComponent* owner, TWinControl* parent,
                                                   int ok_left, int cancel_left, int top,
                                                   bool enter_presses_ok = true) {
  auto* ok = PlaceControl<TButton>(owner, parent, ok_left, top, 75, 25, "OK");
  ok->SetModalResult(mrOk);
  ok->SetDefault(enter_presses_ok);
  auto* cancel = PlaceControl<TButton>(owner, parent, cancel_left, top, 75, 25, "Cancel");
  cancel->SetModalResult(mrCancel);
  cancel->SetCancel(true);
  return {ok, cancel};
}

}  // namespace jw
