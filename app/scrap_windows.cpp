#include "app/scrap_windows.h"

#include <memory>
#include <vector>

#include "app/folders.h"
#include "app/scrap_form.h"
#include "platform/gui/application.h"

namespace jw {

// A note that cannot be made (no paper to shape it) goes at once, so it is
// never saved.
TScrapForm* NewScrap() {
  CreateOnTop = false;
  std::unique_ptr<TScrapForm> note(MakeForm<TScrapForm>(Application));
  note->Message.clear();
  note->PaperFile = PaperFileForNote();
  note->ImageScale = 1.0;
  note->stayontop1->SetChecked(false);
  note->RebuildShape();
  note->SetTop((Screen->Height() - note->ClientHeight()) / 2);
  note->SetLeft((Screen->Width() - note->ClientWidth()) / 2);
  note->SetVisible(true);
  return note.release();
}

void ShowAllScraps(bool visible) {
  // Showing a form moves it in the screen's list, so the walk needs a copy.
  std::vector<TCustomForm*> forms;
  for (int i = 0; i < Screen->FormCount(); ++i) forms.push_back(Screen->Forms(i));
  for (auto it = forms.rbegin(); it != forms.rend(); ++it)
    if (auto* note = dynamic_cast<TScrapForm*>(*it)) note->SetVisible(visible);
}

}  // namespace jw
