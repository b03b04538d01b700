// The folders beside the executable that the note application uses, and the
// random choice of a paper bitmap for a new note.
#pragma once

#include <string>

namespace jw {

// The executable's folder followed by "paper/" and "data/".
std::string PaperFolder();
std::string DataFolder();

// The bare name of a randomly chosen "*.bmp" file (any case) in folder;
// empty when there is none. Each file is equally likely.
std::string RandomPaperFile(const std::string& folder = PaperFolder());
// RandomPaperFile of the paper folder for a note that needs a paper; raises
// EFOpenError naming the folder, and whether it is missing or holds no
// paper, when there is none to take.
std::string PaperFileForNote();

// The path of a paper by its stored name in folder; a name written on
// another system may differ in case from the file that is there.
std::string PaperPath(const std::string& paper_file, const std::string& folder = PaperFolder());

}  // namespace jw
