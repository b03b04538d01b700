// The names of a table's three files: the extensions of the data, index and
// BLOB files and of their backups, and the name of one file of a table
// derived from the table's base name. Extensions are written as spelled here.
#pragma once

#include <string>
#include <string_view>

#include "platform/rtl/file_names.h"

namespace jw {

// The extensions of one set of a table's files.
struct TTableFileExts {
  std::string_view Data;
  std::string_view Index;
  std::string_view Blob;
};

constexpr TTableFileExts kTableFileExts{".DAT", ".IDX", ".BLB"};
// Restructuring renames a table's files to these before it replaces them.
constexpr TTableFileExts kBackupFileExts{".DBK", ".IBK", ".BBK"};

// The paths of one set of a table's files.
struct TTableFileNames {
  std::string Data;
  std::string Index;
  std::string Blob;
};

// The table's files for base (a path or bare name, its extension replaced).
inline TTableFileNames TableFileNames(std::string_view base, const TTableFileExts& exts) {
  return {ChangeFileExt(base, exts.Data), ChangeFileExt(base, exts.Index),
          ChangeFileExt(base, exts.Blob)};
}

}  // namespace jw
