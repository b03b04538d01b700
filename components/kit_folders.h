// Folder and string helpers of the kit: blank tests, trailing separators,
// the folders that a path prefix names, the user's name and the file
// extensions of the container kinds. Paths use '/', so the "backslash"
// helpers add and remove '/'.
#pragma once

#include <string>

#include "components/kit_base.h"

namespace jw {

// True for an empty string or one of spaces only.
bool IsBlank(const std::string& text);
// Appends '/' unless text is non-blank and ends with it; a blank text
// becomes "/".
std::string AddBackslash(const std::string& text);
// Drops one trailing '/' from a non-blank text.
std::string RemoveBackslash(const std::string& text);

// The folder of prefix ppWindows, ppSystem or ppProgram, with or without its
// trailing '/'; ppFixed names no folder and gives an empty string.
std::string PrefixFolder(TKitPathPrefix prefix, bool with_backslash);

// The logged-on user's name, "(Unknown)" when there is none.
std::string UserName();

// Container kinds, in the order of their file extensions.
enum class TKitContainerKind {
  ckImageList,
  ckBitmapList,
  ckWaveList,
  ckStringList,
  ckRichTextList
};
// "iml", "bmp", "wav", "txt" or "rtf", with a leading '.' when asked.
std::string ContainerExtension(TKitContainerKind kind, bool with_dot);

}  // namespace jw
