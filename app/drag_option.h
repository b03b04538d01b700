// ApplyDragOption: gives every open note the drag option of the settings,
// whole-window drag unless DragFrameOnly, once the preferences change it.
#pragma once

namespace jw {

void ApplyDragOption();

}  // namespace jw
