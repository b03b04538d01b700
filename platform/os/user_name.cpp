#include "platform/os/user_name.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace jw {

std::string GetUserName() {
  const uid_t uid = getuid();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr) {
    return found->pw_name;
  }
  for (const char* variable : {"LOGNAME", "USER"}) {
    if (const char* value = std::getenv(variable); value != nullptr && *value != 0) return value;
  }
  return std::to_string(uid);
}

}  // namespace jw
