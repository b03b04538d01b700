// The SQL engine's raising of its engine error 11949 with a message text, and
// the one message of an unknown column or table correlation name.
#pragma once

#include <string>

namespace jw {

[[noreturn]] void RaiseSqlError(const std::string& text);
// "Invalid column name ... specified in " and where.
[[noreturn]] void RaiseInvalidColumn(const std::string& column, const std::string& correlation,
                                     const std::string& where);

}  // namespace jw
