#include "app/folders.h"

#include "platform/rtl/exceptions.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/random.h"

namespace jw {

std::string PaperFolder() {
  return ExecutableFolder() + "paper/";
}

std::string DataFolder() {
  return ExecutableFolder() + "data/";
}

// Each match draws a number in [0, 1) and the greatest draw wins, which is
// uniform over the matches. The first match always beats the starting
// value, so a draw of exactly 0 cannot leave the choice empty.
std::string RandomPaperFile(const std::string& folder) {
  std::string chosen;
  double greatest = -1;
  for (const std::string& name : FindFiles(folder, "*.bmp")) {
    const double draw = RandomFloat();
    if (draw > greatest) {
      greatest = draw;
      chosen = name;
    }
  }
  return chosen;
}

std::string PaperFileForNote() {
  const std::string folder = PaperFolder();
  std::string chosen = RandomPaperFile(folder);
  if (!chosen.empty()) return chosen;
  if (!DirectoryExists(folder)) throw EFOpenError("The paper folder \"" + folder + "\" is missing");
  throw EFOpenError("The paper folder \"" + folder + "\" holds no paper (*.bmp)");
}

std::string PaperPath(const std::string& paper_file, const std::string& folder) {
  return ResolveFileName(JoinStoredName(folder, paper_file));
}

}  // namespace jw
