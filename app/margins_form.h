// TMarginForm, the dialog for the text margins of a note's paper, and
// EditMargins, which runs it.
#pragma once

#include "app/settings.h"
#include "platform/gui/buttons.h"
#include "platform/gui/edit.h"
#include "platform/gui/forms.h"
#include "platform/gui/std_controls.h"

namespace jw {

class TMarginForm : public TForm {
 public:
  explicit TMarginForm(TComponent* owner);

  TLabel* Label1;
  TLabel* Label2;
  TLabel* Label3;
  TEdit* TopEdit;
  TEdit* LeftEdit;
  TEdit* RightEdit;
  TButton* OKBtn;
  TButton* CancelBtn;
};

// Shows the margins in decimal; on OK each becomes its entry as a whole
// number (0 when it is not one), bounded by ClampPaperMargin, and the result
// is true. Cancel changes
// nothing and gives false.
bool EditMargins(TPaperMargins& margins);

}  // namespace jw
