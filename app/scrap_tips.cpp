#include "app/scrap_tips.h"

namespace jw {

namespace {

constexpr const char* kTipTexts[] = {
    "You can append text to any scrap by selecting with the mouse and just typing.",
    "You can delete text from the end of a scrap using the backspace key.",
    "If a scrap uses a TrueType font, you can alter the baseline angle of text by changing the "
    "Font Angle.",
    "To keep a scrap in front of all programs, put the scrap into 'stay-on-top' mode.",
    "Any scrap can be emailed over the internet complete with attachments.",
    "Scraps can be set up to sound an alarm at a predetermined date and time.",
    "All scraps toggle their visibility when the taskbar icon is clicked.",
    "You can set up your favorite email contacts in the preferences dialog.",
};

}  // namespace

TTips* CreateScrapTips(TComponent* owner) {
  auto* tips = new TTips(owner);
  tips->SetTitle("Jotterwick Tips");
  tips->SetHeader("Did you know...?");
  tips->SetTipBackground(clInfoBk);
  for (const char* text : kTipTexts) tips->Tips().Add(text);
  return tips;
}

}  // namespace jw
