// The picture of a note that goes out by mail: the note drawn by its own
// paint code (paper, alarm icon, text) into a bitmap of its client size, white
// outside its outline, and that picture's JPEG file beside the executable.
#pragma once

#include <string>

#include "app/scrap_form.h"
#include "platform/gui/bitmap.h"

namespace jw {

// The executable's folder followed by "emailImage.jpg".
std::string SnapshotFileName();

// Draws the note into bitmap, which takes the note's client size. The note
// paints itself into the bitmap, so no other window on the screen can show
// in the picture.
void NoteSnapshot(TScrapForm& note, TBitmap& bitmap);

// Writes the JPEG of NoteSnapshot to path.
void SaveSnapshotJpeg(TScrapForm& note, const std::string& path);

}  // namespace jw
