#include "components/kit_folders.h"

#include "components/kit_application.h"
#include "platform/os/user_name.h"

namespace jw {

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

std::string AddBackslash(const std::string& text) {
  if (IsBlank(text)) return "/";
  return text.back() == '/' ? text : text + '/';
}

std::string RemoveBackslash(const std::string& text) {
  if (IsBlank(text) || text.back() != '/') return text;
  return text.substr(0, text.size() - 1);
}

std::string PrefixFolder(TKitPathPrefix prefix, bool with_backslash) {
  if (prefix == TKitPathPrefix::ppFixed) return "";
  const std::string folder = KitPrefixFolder(prefix);
  return with_backslash ? AddBackslash(folder) : RemoveBackslash(folder);
}

std::string UserName() {
  const std::string name = GetUserName();
  return name.empty() ? "(Unknown)" : name;
}

std::string ContainerExtension(TKitContainerKind kind, bool with_dot) {
  static const char* const kExtensions[] = {"iml", "bmp", "wav", "txt", "rtf"};
  const auto index = static_cast<size_t>(kind);
  if (index >= std::size(kExtensions)) return "";
  return (with_dot ? "." : "") + std::string(kExtensions[index]);
}

}  // namespace jw
