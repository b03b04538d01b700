#include "app/paper_bitmap.h"

#include <filesystem>
#include <map>
#include <system_error>

namespace jw {

namespace {

struct FileStamp {
  std::filesystem::file_time_type time;
  uintmax_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

struct LoadedPaper {
  FileStamp stamp;
  QImage image;
};

// Papers are loaded on the GUI thread only.
std::map<std::string, LoadedPaper>& LoadedPapers() {
  static std::map<std::string, LoadedPaper> papers;
  return papers;
}

}  // namespace

void LoadPaperBitmap(TBitmap& bitmap, const std::string& path) {
  auto& papers = LoadedPapers();
  // A paper no note holds any more is dropped, so its memory goes with its
  // last note.
  std::erase_if(papers, [](const auto& entry) { return entry.second.image.isDetached(); });
  std::error_code error;
  FileStamp stamp{std::filesystem::last_write_time(path, error), 0};
  if (!error) stamp.size = std::filesystem::file_size(path, error);
  if (!error) {
    if (auto found = papers.find(path); found != papers.end() && found->second.stamp == stamp) {
      bitmap.SetImage(found->second.image);
      return;
    }
  }
  try {
    bitmap.LoadFromFile(path);
  } catch (const EInvalidGraphic& invalid) {
    // The user has to know which of the papers it is.
    throw EInvalidGraphic(invalid.Message() + ": \"" + path + "\"");
  }
  if (!error) papers[path] = {stamp, bitmap.Image()};
}

}  // namespace jw
