#include "platform/os/shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace jw {

bool XdgShellOpener::Open(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    return false;
  }
  // xdg-open may run as long as the program it starts; waiting for it here
  // would stall the caller.
  std::thread([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }).detach();
  return true;
}

namespace {

std::unique_ptr<ShellOpener>& Installed() {
  static std::unique_ptr<ShellOpener> opener;
  return opener;
}

}  // namespace

ShellOpener& Shell() {
  static XdgShellOpener xdg;
  ShellOpener* installed = Installed().get();
  return installed != nullptr ? *installed : xdg;
}

std::unique_ptr<ShellOpener> SetShellOpener(std::unique_ptr<ShellOpener> opener) {
  std::swap(Installed(), opener);
  return opener;
}

}  // namespace jw
