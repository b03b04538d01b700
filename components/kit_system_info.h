// What the kit reads about the system once, on first use: which family of
// systems it runs on and the colour depth of the screen.
#pragma once

#include <cstdint>

namespace jw {

struct TKitSystemInfo {
  // The single-user family without memory protection between processes,
  // and a later member of it.
  bool SingleUserFamily = false;
  bool LaterSingleUser = false;
  // The multi-user family with protected memory.
  bool MultiUserFamily = false;
  // The desktop's shell extensions are there.
  bool DesktopExtensions = false;
  // Bits per pixel of the screen; 0 without one.
  uint8_t ColorDepth = 0;
};

// Read on the first call, after the GUI application object exists.
const TKitSystemInfo& KitSystemInfo();

}  // namespace jw
