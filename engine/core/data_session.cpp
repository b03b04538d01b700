#include "engine/core/data_session.h"

#include <algorithm>
#include <filesystem>

#include "engine/support/engine_errors.h"
#include "engine/support/engine_strings.h"
#include "engine/support/support_startup.h"
#include "platform/rtl/strings.h"

namespace jw {

TDataSession::TDataSession() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  working_dir_ = AddTrailingBackslash(error ? std::string() : current.string());
}

TDataSession::~TDataSession() {
  // Directories close their tables; passwords go after them.
  directories_.clear();
  passwords_.clear();
}

std::string TDataSession::GetPrivateDir() const {
  return private_dir_.empty() ? working_dir_ : private_dir_;
}

void TDataSession::SetPrivateDir(const std::string& directory) {
  if (directory.empty()) return;
  const std::string value = AddTrailingBackslash(Trim(directory));
  if (value != private_dir_) private_dir_ = value;
}

void TDataSession::AddPassword(const std::string& password) {
  if (password.empty() || HasPassword(password)) return;
  passwords_.push_back(password);
}

void TDataSession::RemovePassword(const std::string& password) {
  const auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

void TDataSession::RemoveAllPasswords() {
  passwords_.clear();
}

bool TDataSession::HasPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

TDataDirectory* TDataSession::OpenDirectory(const std::string& database_name,
                                            const std::string& path) {
  std::string folder;
  std::string network_path;
  if (!SameText(Trim(database_name), kMemoryDatabaseName)) {
    folder = Trim(path).empty() ? working_dir_ : AddTrailingBackslash(Trim(path));
    network_path = GetUniversalName(folder);
    if (network_path.empty()) network_path = folder;
    network_path = AddTrailingBackslash(network_path);
  }
  for (const std::unique_ptr<TDataDirectory>& directory : directories_) {
    if (directory->NetworkPath() == network_path) {
      directory->AddReference();
      return directory.get();
    }
  }
  directories_.push_back(
      std::make_unique<TDataDirectory>(this, database_name, folder, network_path));
  directories_.back()->AddReference();
  return directories_.back().get();
}

int32_t TDataSession::CloseDirectory(TDataDirectory* directory) {
  const auto it = std::find_if(
      directories_.begin(), directories_.end(),
      [directory](const std::unique_ptr<TDataDirectory>& d) { return d.get() == directory; });
  if (it == directories_.end() || (*it)->ReferenceCount() <= 0) {
    return -static_cast<int32_t>(kErrAccessDenied);
  }
  if ((*it)->DropReference() == 0) directories_.erase(it);
  return 0;
}

}  // namespace jw
