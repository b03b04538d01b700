// The note application's tips: the tips component with its title, header,
// background and the tip texts in the order the tips dialog cycles them.
#pragma once

#include "components/tips.h"

namespace jw {

// A TTips owned by owner, set up with the application's tips.
TTips* CreateScrapTips(TComponent* owner);

}  // namespace jw
