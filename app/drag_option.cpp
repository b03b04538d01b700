#include "app/drag_option.h"

#include "app/scrap_form.h"
#include "app/settings.h"
#include "platform/gui/application.h"

namespace jw {

void ApplyDragOption() {
  if (Screen == nullptr) return;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i)))
      note->sfImageForm1->SetOptions(ScrapSettings.DragFrameOnly ? 0 : ifUseWindowsDrag);
  }
}

}  // namespace jw
