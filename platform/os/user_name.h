// The name of the user the process runs as.
#pragma once

#include <string>

namespace jw {

// The login name of the real user id from the password database, else
// $LOGNAME or $USER, else the decimal user id.
std::string GetUserName();

}  // namespace jw
