// The notes table "scraps.DAT": its name, its password, its columns and
// its "Zorder" index, and the one routine that makes an empty one. The
// build makes the empty table shipped in the ready folder with it; the
// program itself never creates the table.
#pragma once

#include <string>

#include "engine/core/data_table.h"

namespace jw {

inline constexpr const char* kScrapTableName = "scraps.DAT";
// The notes table is encrypted; the program adds this password to its
// session before it opens the table.
inline constexpr const char* kScrapTablePassword = "quillmarsh472";

// The note record: "scrapid" (auto-increment, the primary key), "message"
// (BLOB text), "top", "left", "paperFile", "imagescale", "FontDesc",
// "FontAngle", "StayOnTop", "AlarmDateTime", "AlarmLastSounded" and
// "Zorder", with the secondary index "Zorder" on the last.
TTableDefinition ScrapTableDefinition();

// Creates an empty, encrypted notes table in folder (which must exist).
// Raises the engine's 13060 when the table is there already: a user's
// notes are never overwritten.
void CreateScrapTable(const std::string& folder);

}  // namespace jw
