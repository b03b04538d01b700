#include "platform/os/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace jw {

std::string TInstanceLock::LockFileName(const std::string& name) {
  std::string folder = "/tmp";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != 0) {
    struct stat info {};
    if (stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) folder = runtime;
  }
  if (folder.back() != '/') folder += '/';
  return folder + name + "." + std::to_string(getuid()) + ".lock";
}

TInstanceLock::TInstanceLock(const std::string& name) : file_name_(LockFileName(name)) {
  fd_ = open(file_name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
  } else if (errno == EWOULDBLOCK) {
    instance_running_ = true;
  }
}

TInstanceLock::~TInstanceLock() {
  // Closing the descriptor releases the flock; the file stays for the next
  // start, since removing it would race with a process that just opened it.
  if (fd_ >= 0) close(fd_);
}

}  // namespace jw
