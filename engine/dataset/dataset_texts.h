// The message texts of the engine's session, database and dataset
// components, in one table, and the engine version that both components report.
#pragma once

#include <string_view>

namespace jw {

// The engine version the components report: 2.12, stored as 21200.
inline constexpr std::string_view kQuireEngineVersion = "2.12";

namespace quire_text {
inline constexpr std::string_view kSessionNameInvalid = "Session name %s is not valid.";
inline constexpr std::string_view kSessionActive =
    "Cannot perform this operation on an active session.";
inline constexpr std::string_view kAutoSessionActive =
    "Cannot perform this operation on the active auto-session.";
inline constexpr std::string_view kSessionNameExists = "Session name %s already exists.";
inline constexpr std::string_view kSessionNameMissing = "Session name is missing.";
inline constexpr std::string_view kAutoSessionOnly =
    "The active auto-session can be the only active session.";
inline constexpr std::string_view kAutoSessionExists = "This auto-session already exists.";
inline constexpr std::string_view kDatabaseOpen =
    "Cannot perform this operation on an open database.";
inline constexpr std::string_view kDatabaseNameMissing = "Database name is missing.";
inline constexpr std::string_view kDatabaseNameInvalid = "Database name %s is not valid.";
inline constexpr std::string_view kDatabaseNameExists = "Database name %s already exists.";
inline constexpr std::string_view kNoTableHandle = "Error creating table handle.";
inline constexpr std::string_view kFieldNotIndexed =
    "Field '%s' is not indexed and cannot be modified";
inline constexpr std::string_view kNoIndexActive = "No index currently active";
inline constexpr std::string_view kIndexFieldMissing = "Cannot access index field '%s'";
inline constexpr std::string_view kTableNameMissing = "Missing table name.";
inline constexpr std::string_view kInMemoryNoFields =
    "You must define at least one field before you can open an in-memory table at design-time";
}  // namespace quire_text

}  // namespace jw
