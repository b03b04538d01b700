// The note windows as a whole: a new empty note on the screen, and showing or
// hiding every note at once. The note store adds loading and saving them.
#pragma once

namespace jw {

class TScrapForm;

// A new, empty note owned by the application: a random paper from the paper
// folder at scale 1.0, the default font and angle, not on top, centred on
// the screen and shown. Its scrapid stays 0 until it is first saved.
TScrapForm* NewScrap();

// Sets every note window's visibility, walking a copy of the screen's forms
// from the back, so notes keep their stacking order when shown again.
void ShowAllScraps(bool visible);

}  // namespace jw
