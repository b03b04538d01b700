// File-name helpers in the host library's style ('/' is the separator),
// existence tests, the executable's own location, folder listings with a
// wildcard pattern, and the case-insensitive lookup of names written on
// other systems.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace jw {

// Up to and including the last '/'; empty when there is none.
std::string ExtractFilePath(std::string_view path);
// After the last '/'.
std::string ExtractFileName(std::string_view path);
// From the last '.' of the name part, dot included; empty when there is none.
std::string ExtractFileExt(std::string_view path);
// Replaces the extension (as ExtractFileExt sees it) or appends `ext`.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// Adds a '/' unless the path ends with one (an empty path becomes "/").
std::string IncludeTrailingPathDelimiter(std::string_view path);
// Removes one trailing '/', except from the root "/".
std::string ExcludeTrailingPathDelimiter(std::string_view path);

// A name stored by another system joined to a folder: each '\' in the
// name is read as '/'.
std::string JoinStoredName(std::string_view folder, std::string_view stored_name);

// True for an existing entry that is not a folder (links followed).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Removes a file; false when it could not be removed.
bool DeleteFile(const std::string& path);

// The running executable's full path and its folder (with trailing '/').
std::string ExecutablePath();
std::string ExecutableFolder();

// True when `name` matches `pattern` without regard to ASCII case; '*' is
// any run of bytes, '?' any one byte.
bool MatchesMask(std::string_view name, std::string_view pattern);
// Names (not paths) of the entries of `folder` that are not folders and
// match `pattern`, sorted by bytes. An unreadable or missing folder gives
// an empty list.
std::vector<std::string> FindFiles(const std::string& folder, std::string_view pattern);

// `path` itself when it exists; else the entry of its folder whose name
// differs only in ASCII case (the first in byte order); else `path`.
std::string ResolveFileName(const std::string& path);

}  // namespace jw
