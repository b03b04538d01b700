#include "platform/rtl/file_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

DirHandle OpenFolder(const std::string& folder) {
  return DirHandle(::opendir(folder.empty() ? "." : folder.c_str()));
}

// The path of an entry found in `folder` (names from the disk are taken as they are).
std::string EntryPath(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : IncludeTrailingPathDelimiter(folder) + name;
}

// Calls `visit` with the name of every entry of `folder` but "." and "..".
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  const DirHandle dir = OpenFolder(folder);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") visit(name);
  }
}

}  // namespace

std::string ExtractFilePath(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const size_t dot = path.find_last_of("./");
  if (dot == std::string_view::npos || path[dot] != '.') return std::string();
  return std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const size_t ext_size = ExtractFileExt(path).size();
  return std::string(path.substr(0, path.size() - ext_size)) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string result(path);
  if (result.empty() || result.back() != '/') result += '/';
  return result;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string result(path);
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string JoinStoredName(std::string_view folder, std::string_view stored_name) {
  std::string name(stored_name);
  std::replace(name.begin(), name.end(), '\\', '/');
  // An empty folder is the current one, not the root.
  return folder.empty() ? name : IncludeTrailingPathDelimiter(folder) + name;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

std::string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      throw Exception("Cannot find the program's own path. " +
                      std::system_category().message(errno));
    }
    // A full buffer may hold a cut name: try again with a larger one.
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableFolder() {
  return ExtractFilePath(ExecutablePath());
}

bool MatchesMask(std::string_view name, std::string_view pattern) {
  // Greedy matching with one backtrack point: the last '*' seen.
  size_t n = 0, p = 0;
  size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || UpperAscii(pattern[p]) == UpperAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> FindFiles(const std::string& folder, std::string_view pattern) {
  std::vector<std::string> names;
  ForEachEntry(folder, [&](const std::string& name) {
    if (MatchesMask(name, pattern) && !DirectoryExists(EntryPath(folder, name))) {
      names.push_back(name);
    }
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::string ResolveFileName(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return path;
  const std::string folder = ExtractFilePath(path);
  const std::string name = ExtractFileName(path);
  if (name.empty()) return path;
  std::string best;
  ForEachEntry(folder, [&](const std::string& entry) {
    if (SameText(entry, name) && (best.empty() || entry < best)) best = entry;
  });
  return best.empty() ? path : EntryPath(folder, best);
}

}  // namespace jw
